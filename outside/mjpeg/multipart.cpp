#include "outside/mjpeg/multipart.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace kavro::mjpeg {

namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Longest line after a boundary (it should hold nothing but optional padding).
constexpr std::size_t kMaxBoundaryLine = 256;

} // namespace

std::optional<std::string> boundary_from_content_type(std::string_view content_type) {
    const std::size_t semi = content_type.find(';');
    if (!iequals(trim(content_type.substr(0, semi)), "multipart/x-mixed-replace")) return std::nullopt;
    std::string_view rest = semi == std::string_view::npos ? std::string_view() : content_type.substr(semi + 1);
    while (!rest.empty()) {
        const std::size_t next = rest.find(';');
        std::string_view param = trim(rest.substr(0, next));
        rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        const std::size_t eq = param.find('=');
        if (eq == std::string_view::npos || !iequals(trim(param.substr(0, eq)), "boundary")) continue;
        std::string_view value = trim(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        // Some cameras write the delimiter's two dashes into the parameter as well; the stream then carries
        // "--" + parameter or the parameter alone. Either is found as long as the stream carries the dashes.
        if (value.empty() || value.size() > 70) return std::nullopt;
        for (char c : value)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

MultipartParser::MultipartParser(std::string boundary, Limits limits) : limits_(limits) {
    // A boundary given with its dashes ("--abc") is matched as written; otherwise the dashes are added.
    delimiter_ = boundary.rfind("--", 0) == 0 ? boundary : "--" + boundary;
}

bool MultipartParser::feed(std::span<const std::uint8_t> bytes, const PartHandler& on_part) {
    if (failed() || ended()) return false;
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    while (!failed() && !ended() && step(on_part)) {
    }
    compact();
    return !failed() && !ended();
}

bool MultipartParser::step(const PartHandler& on_part) {
    switch (state_) {
    case State::seek_boundary: return seek_boundary();
    case State::after_boundary: return after_boundary();
    case State::headers: return headers();
    case State::body_by_length: return body_by_length(on_part);
    case State::body_by_boundary: return body_by_boundary(on_part);
    case State::ended: return false;
    }
    return false;
}

bool MultipartParser::refuse(std::string why) {
    error_ = std::move(why);
    buffer_.clear();
    buffer_.shrink_to_fit();
    start_ = scan_ = 0;
    return false;
}

std::string_view MultipartParser::view(std::size_t from, std::size_t to) const {
    return {reinterpret_cast<const char*>(buffer_.data()) + from, to - from};
}

std::size_t MultipartParser::find_delimiter(std::size_t from) const {
    const std::size_t n = delimiter_.size();
    while (from + n <= buffer_.size()) {
        const void* hit = ::memmem(buffer_.data() + from, buffer_.size() - from, delimiter_.data(), n);
        if (!hit) return std::string::npos;
        const std::size_t p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - buffer_.data());
        if (p == start_ || buffer_[p - 1] == '\n') return p;
        from = p + 1;
    }
    return std::string::npos;
}

bool MultipartParser::seek_boundary() {
    const std::size_t p = find_delimiter(std::max(scan_, start_));
    if (p == std::string::npos) {
        if (buffer_.size() - start_ > limits_.max_junk + delimiter_.size()) return refuse("no boundary found");
        scan_ = std::max(start_, buffer_.size() - std::min(buffer_.size(), delimiter_.size()));
        return false;
    }
    if (p - start_ > limits_.max_junk) return refuse("too many bytes before the boundary");
    start_ = scan_ = p + delimiter_.size();
    state_ = State::after_boundary;
    return true;
}

bool MultipartParser::after_boundary() {
    const std::size_t available = buffer_.size() - start_;
    if (available >= 2 && buffer_[start_] == '-' && buffer_[start_ + 1] == '-') {
        state_ = State::ended;
        return false;
    }
    const auto* line = buffer_.data() + start_;
    const void* nl = std::memchr(line, '\n', available);
    if (!nl) {
        if (available > kMaxBoundaryLine) return refuse("boundary line too long");
        return false;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nl) - buffer_.data());
    if (end - start_ > kMaxBoundaryLine) return refuse("boundary line too long");
    start_ = end + 1;
    state_ = State::headers;
    content_type_.clear();
    return true;
}

bool MultipartParser::headers() {
    // Only a whole header block is read, so a block that arrives a byte at a time is parsed once.
    std::size_t pos = start_;
    std::optional<std::size_t> length;
    std::string type;
    for (;;) {
        const auto* from = buffer_.data() + pos;
        const void* nl = std::memchr(from, '\n', buffer_.size() - pos);
        if (!nl) {
            if (buffer_.size() - start_ > limits_.max_headers) return refuse("part headers too long");
            return false;
        }
        const std::size_t end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nl) - buffer_.data());
        if (end + 1 - start_ > limits_.max_headers) return refuse("part headers too long");
        const std::string_view line = trim(view(pos, end));
        pos = end + 1;
        if (line.empty()) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return refuse("malformed part header");
        const std::string_view name = trim(line.substr(0, colon)), value = trim(line.substr(colon + 1));
        if (iequals(name, "Content-Length")) {
            std::size_t n = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || ptr != value.data() + value.size() || value.empty())
                return refuse("malformed Content-Length");
            if (length && *length != n) return refuse("conflicting Content-Length");
            if (n > limits_.max_part) return refuse("part too large");
            length = n;
        } else if (iequals(name, "Content-Type")) {
            type = std::string(value);
        }
    }
    start_ = scan_ = pos;
    content_type_ = std::move(type);
    if (length) {
        length_ = *length;
        state_ = State::body_by_length;
    } else {
        state_ = State::body_by_boundary;
    }
    return true;
}

bool MultipartParser::body_by_length(const PartHandler& on_part) {
    if (buffer_.size() - start_ < length_) return false;
    if (length_ > 0) on_part(std::span(buffer_.data() + start_, length_), content_type_);
    start_ += length_;
    scan_ = start_;
    state_ = State::seek_boundary;
    return true;
}

bool MultipartParser::body_by_boundary(const PartHandler& on_part) {
    std::size_t from = std::max(scan_, start_);
    for (;;) {
        const std::size_t p = find_delimiter(from);
        if (p == std::string::npos) break;
        // The delimiter must end there: followed by "--", padding or a line end (else it is body data).
        const std::size_t after = p + delimiter_.size();
        if (after >= buffer_.size()) {
            scan_ = p; // decide when the next byte is in
            return false;
        }
        const std::uint8_t c = buffer_[after];
        if (c != '-' && c != '\r' && c != '\n' && c != ' ' && c != '\t') {
            from = p + 1;
            continue;
        }
        std::size_t end = p;
        if (end > start_ && buffer_[end - 1] == '\n') --end;
        if (end > start_ && buffer_[end - 1] == '\r') --end;
        if (end - start_ > limits_.max_part) return refuse("part too large");
        if (end > start_) on_part(std::span(buffer_.data() + start_, end - start_), content_type_);
        start_ = scan_ = p;
        state_ = State::seek_boundary;
        return true;
    }
    if (buffer_.size() - start_ > limits_.max_part + delimiter_.size() + 2) return refuse("part too large");
    scan_ = std::max(start_, buffer_.size() - std::min(buffer_.size(), delimiter_.size()));
    return false;
}

void MultipartParser::compact() {
    if (start_ == 0) return;
    if (start_ < 65536 && start_ * 2 < buffer_.size()) return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    scan_ -= std::min(scan_, start_);
    start_ = 0;
}

} // namespace kavro::mjpeg
