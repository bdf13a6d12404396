#include "util/text_split.h"

#include "util/c_numbers.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace kavro {

TextTokens::TextTokens(const char* data, std::size_t size) {
    if (!data) size = 0;
    const void* nul = size ? std::memchr(data, '\0', size) : nullptr;
    if (nul) size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
    text_ = std::string_view(data ? data : "", size);

    std::size_t start = 0;
    for (std::size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == ' ') {
            tokens_.push_back(text_.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    tokens_.push_back(text_.substr(start));
}

std::string_view TextTokens::token(std::size_t index) const {
    return index < tokens_.size() ? tokens_[index] : std::string_view();
}

std::string_view TextTokens::word(std::size_t index) const {
    std::string_view t = token(index);
    if (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
}

std::int32_t TextTokens::parse_int(std::string_view text) {
    std::string s(text); // terminated copy: tokens are at most one datagram long
    long long v = strtoll_l(s.c_str(), nullptr, 10, c_locale());
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

double TextTokens::parse_double(std::string_view text) {
    std::string s(text);
    return strtod_l(s.c_str(), nullptr, c_locale());
}

} // namespace kavro
