// Splitting of the programs' text datagrams.
//
// The text ends at the first NUL byte or at the end of the datagram. It is split at every single blank
// (0x20): n blanks give n + 1 tokens, each token keeps the blank that ends it, and the last one runs to the
// end of the text. Tokens beyond the end read as empty. Numbers are read like the C conversions: leading
// white space skipped, an optional sign, as many digits as fit; no number at all reads as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kavro {

class TextTokens {
public:
    TextTokens(const char* data, std::size_t size);
    explicit TextTokens(std::string_view datagram) : TextTokens(datagram.data(), datagram.size()) {}

    std::string_view text() const { return text_; }
    std::size_t count() const { return tokens_.size(); }

    // The token with its trailing blank; empty for an index past the last token.
    std::string_view token(std::size_t index) const;
    // The token without its trailing blank (for names).
    std::string_view word(std::size_t index) const;

    std::int32_t as_int(std::size_t index) const { return parse_int(token(index)); }
    double as_double(std::size_t index) const { return parse_double(token(index)); }
    float as_float(std::size_t index) const { return static_cast<float>(as_double(index)); }

    // The C conversions on a text that need not be terminated. Integers outside 32 bits clamp to its range.
    static std::int32_t parse_int(std::string_view text);
    static double parse_double(std::string_view text);

private:
    std::string_view text_;
    std::vector<std::string_view> tokens_;
};

} // namespace kavro
