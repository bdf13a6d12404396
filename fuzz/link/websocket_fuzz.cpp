// The map feed's WebSocket side on arbitrary bytes: the opening request reader and the frame reader, which must
// never hand out a message larger than its limit.
#include "console/link/websocket.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)kavro::console::websocket_handshake(bytes);
    kavro::console::WebSocketReader reader;
    // Fed in two pieces, so frames split across reads are read too.
    const std::size_t half = size / 2;
    reader.feed(bytes.data(), half);
    for (int round = 0; round < 2; ++round) {
        for (int guard = 0; guard < 100000; ++guard) {
            const auto e = reader.next();
            if (e == kavro::console::WebSocketReader::Event::need_more) break;
            if (reader.message().size() > kavro::console::WebSocketReader::kMaxMessage) std::abort();
            if (e == kavro::console::WebSocketReader::Event::close) break;
        }
        if (round == 0) reader.feed(bytes.data() + half, size - half);
    }
    return 0;
}
