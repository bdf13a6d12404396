// The WebSocket side of the map feed: web pages cannot open a raw TCP connection, so a client whose first bytes
// are an HTTP request asking for a WebSocket upgrade gets the opening handshake, then speaks the same map
// requests and answers, one per message. Raw clients never see any of this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavro::console {

// Whether the first bytes of a connection look like an HTTP request ("GET ").
bool starts_http_request(const char* data, std::size_t size);

// The server's answer to an HTTP request whose head (up to and including the empty line) is `head`: "101
// Switching Protocols" with the accept key for a valid WebSocket upgrade; nullopt for anything else (the caller
// answers with websocket_refusal() and closes).
std::optional<std::string> websocket_handshake(std::string_view head);
std::string websocket_refusal();

// A text message from the server (unmasked, one frame).
std::string websocket_text_frame(std::string_view payload);
// A close frame with status 1000, and a pong echoing a ping's payload.
std::string websocket_close_frame();
std::string websocket_pong_frame(std::string_view payload);

// Reads a client's frames from the bytes as they arrive. Client frames must be masked; a message may come in
// several fragments; control frames may come between them.
class WebSocketReader {
public:
    // Largest message taken (the raw feed reads requests of up to 32768 bytes).
    static constexpr std::size_t kMaxMessage = 32768;

    enum class Event {
        need_more, // no whole frame yet
        message,   // a whole text or binary message in `message()`
        ping,      // a ping, its payload in `message()`: answer with a pong
        close,     // the client closes (or breaks the protocol: see `failed()`)
    };

    void feed(const char* data, std::size_t size);
    // The next event from the bytes fed so far; call until need_more.
    Event next();
    const std::string& message() const { return message_; }
    // The client broke the protocol (unmasked frame, oversized message, bad opcode): close the connection.
    bool failed() const { return failed_; }

private:
    Event fail();
    std::string buffer_;
    std::string partial_;
    bool in_fragments_ = false;
    std::string message_;
    bool failed_ = false;
};

} // namespace kavro::console
