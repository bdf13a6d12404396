// Tokens never reach outside the datagram, whatever index is asked for.
#include "util/text_split.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    kavro::TextTokens t(text, size);
    std::size_t total = 0;
    for (std::size_t i = 0; i < t.count() + 3; ++i) {
        std::string_view tok = t.token(i);
        if (!tok.empty() && (tok.data() < text || tok.data() + tok.size() > text + size)) std::abort();
        total += tok.size();
        (void)t.as_int(i);
        (void)t.as_double(i);
        (void)t.word(i);
    }
    if (total != t.text().size()) std::abort();
    return 0;
}
