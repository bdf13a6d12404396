// The framing of an MJPEG stream over HTTP: a "multipart/x-mixed-replace" body whose parts are the frames.
//
//   --BOUNDARY CRLF  (header lines) CRLF  CRLF  (part body)  CRLF --BOUNDARY CRLF ... --BOUNDARY-- CRLF
//
// Parts with a Content-Length header are taken by their length; parts without one end where the next boundary
// line starts. Bare LF line ends are accepted. Everything is bounded: a part longer than the limit, a header
// block or the bytes between parts growing past their limits, or a malformed Content-Length refuse the stream
// (the parser stays failed until reset). The parser is fed bytes as they arrive, in pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavro::mjpeg {

// The boundary of a "multipart/x-mixed-replace" content type (the parameter, unquoted), or nothing when the
// type is another one or names no usable boundary (empty, longer than 70 characters, or with control bytes).
std::optional<std::string> boundary_from_content_type(std::string_view content_type);

struct Limits {
    std::size_t max_part = 8u << 20;   // bytes of one part's body
    std::size_t max_headers = 8192;    // bytes of one part's header block
    std::size_t max_junk = 64u << 10;  // bytes before the first boundary or between a part and the next boundary
};

class MultipartParser {
public:
    // body: the part's bytes, valid only during the call; content_type: the part's Content-Type or empty.
    using PartHandler = std::function<void(std::span<const std::uint8_t> body, std::string_view content_type)>;

    MultipartParser(std::string boundary, Limits limits = {});

    // Takes the next bytes of the stream and calls on_part for every part they complete. Returns false when the
    // stream is refused (now or earlier; error() says why) or has ended with the closing boundary; bytes after
    // that are ignored.
    bool feed(std::span<const std::uint8_t> bytes, const PartHandler& on_part);

    bool failed() const { return !error_.empty(); }
    bool ended() const { return state_ == State::ended; }
    const std::string& error() const { return error_; }
    // Bytes held waiting for the rest of a part (never more than the limits allow).
    std::size_t buffered() const { return buffer_.size() - start_; }

private:
    enum class State { seek_boundary, after_boundary, headers, body_by_length, body_by_boundary, ended };

    bool step(const PartHandler& on_part);
    bool seek_boundary();
    bool after_boundary();
    bool headers();
    bool body_by_length(const PartHandler& on_part);
    bool body_by_boundary(const PartHandler& on_part);
    bool refuse(std::string why);
    // Position of the first delimiter ("--" + boundary at a line start) at or after from, or npos.
    std::size_t find_delimiter(std::size_t from) const;
    std::string_view view(std::size_t from, std::size_t to) const;
    void compact();

    std::string delimiter_; // "--" + boundary
    Limits limits_;
    State state_ = State::seek_boundary;
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0; // first byte not yet consumed
    std::size_t scan_ = 0;  // where the next boundary search resumes (earlier bytes hold no delimiter)
    std::size_t length_ = 0;
    std::string content_type_;
    std::string error_;
};

} // namespace kavro::mjpeg
