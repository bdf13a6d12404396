#include "console/link/websocket.h"

#include "util/sha1.h"

#include <algorithm>
#include <cctype>

namespace kavro::console {

namespace {

constexpr std::string_view kAcceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Whether a comma-separated header value holds the token (case ignored).
bool has_token(std::string_view value, std::string_view token) {
    const std::string v = lower(value), t = lower(token);
    std::size_t start = 0;
    while (start <= v.size()) {
        std::size_t end = v.find(',', start);
        if (end == std::string::npos) end = v.size();
        if (trim(std::string_view(v).substr(start, end - start)) == t) return true;
        start = end + 1;
    }
    return false;
}

std::string frame(std::uint8_t opcode, std::string_view payload) {
    std::string out;
    out += static_cast<char>(0x80 | opcode);
    const std::size_t n = payload.size();
    if (n < 126) {
        out += static_cast<char>(n);
    } else if (n <= 0xFFFF) {
        out += static_cast<char>(126);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n & 0xFF);
    } else {
        out += static_cast<char>(127);
        for (int i = 7; i >= 0; --i) out += static_cast<char>((std::uint64_t(n) >> (8 * i)) & 0xFF);
    }
    out.append(payload);
    return out;
}

} // namespace

bool starts_http_request(const char* data, std::size_t size) { return size >= 4 && std::string_view(data, 4) == "GET "; }

std::optional<std::string> websocket_handshake(std::string_view head) {
    std::string key;
    bool upgrade = false, connection = false;
    std::size_t pos = head.find("\r\n");
    if (pos == std::string_view::npos || head.substr(0, 4) != "GET ") return std::nullopt;
    while (pos != std::string_view::npos && pos + 2 < head.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end == std::string_view::npos ? end : end - start);
        pos = end;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string name = lower(trim(line.substr(0, colon)));
        const std::string_view value = trim(line.substr(colon + 1));
        if (name == "upgrade") upgrade = has_token(value, "websocket");
        else if (name == "connection") connection = has_token(value, "upgrade");
        else if (name == "sec-websocket-key") key = std::string(value);
    }
    if (!upgrade || !connection || key.empty() || key.size() > 64) return std::nullopt;
    const auto digest = sha1(key + std::string(kAcceptGuid));
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           base64(digest.data(), digest.size()) + "\r\n\r\n";
}

std::string websocket_refusal() {
    return "HTTP/1.1 426 Upgrade Required\r\nUpgrade: websocket\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}

std::string websocket_text_frame(std::string_view payload) { return frame(0x1, payload); }
std::string websocket_close_frame() { return frame(0x8, std::string_view("\x03\xE8", 2)); }
std::string websocket_pong_frame(std::string_view payload) { return frame(0xA, payload.substr(0, 125)); }

void WebSocketReader::feed(const char* data, std::size_t size) {
    if (!failed_) buffer_.append(data, size);
}

WebSocketReader::Event WebSocketReader::fail() {
    failed_ = true;
    buffer_.clear();
    return Event::close;
}

WebSocketReader::Event WebSocketReader::next() {
    for (;;) {
        if (failed_) return Event::close;
        const auto* b = reinterpret_cast<const std::uint8_t*>(buffer_.data());
        const std::size_t have = buffer_.size();
        if (have < 2) return Event::need_more;
        const bool fin = b[0] & 0x80;
        const std::uint8_t opcode = b[0] & 0x0F;
        if (!(b[1] & 0x80) || (b[0] & 0x70)) return fail(); // client frames are masked; no extensions
        std::uint64_t length = b[1] & 0x7F;
        std::size_t at = 2;
        if (length == 126) {
            if (have < 4) return Event::need_more;
            length = std::uint64_t(b[2]) << 8 | b[3];
            at = 4;
        } else if (length == 127) {
            if (have < 10) return Event::need_more;
            length = 0;
            for (int i = 0; i < 8; ++i) length = length << 8 | b[2 + i];
            at = 10;
        }
        const bool control = opcode & 0x8;
        if ((control && (length > 125 || !fin)) || length > kMaxMessage) return fail();
        if (have < at + 4 + length) return Event::need_more;
        const std::uint8_t* mask = b + at;
        std::string payload(static_cast<std::size_t>(length), '\0');
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>(b[at + 4 + i] ^ mask[i % 4]);
        buffer_.erase(0, at + 4 + static_cast<std::size_t>(length));
        switch (opcode) {
        case 0x8: return Event::close;
        case 0x9: message_ = std::move(payload); return Event::ping;
        case 0xA: continue; // an unasked pong
        case 0x0:
            if (!in_fragments_) return fail();
            break;
        case 0x1:
        case 0x2:
            if (in_fragments_) return fail();
            partial_.clear();
            break;
        default: return fail();
        }
        if (partial_.size() + payload.size() > kMaxMessage) return fail();
        partial_ += payload;
        in_fragments_ = !fin;
        if (fin) {
            message_ = std::move(partial_);
            partial_.clear();
            return Event::message;
        }
    }
}

} // namespace kavro::console
