// Substitution in place: any text, pattern and replacement; the text never leaves its buffer and the
// result is what a plain rebuild gives.
#include "filters/mesh/substitute.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    // Layout: pattern length, replacement length, capacity slack, then pattern, replacement, text.
    const std::size_t plen = data[0] % 8, rlen = data[1] % 12, slack = data[2] % 32;
    data += 3, size -= 3;
    if (size < plen + rlen) return 0;
    const std::string pattern(reinterpret_cast<const char*>(data), plen);
    const std::string replacement(reinterpret_cast<const char*>(data + plen), rlen);
    std::string text(reinterpret_cast<const char*>(data + plen + rlen), size - plen - rlen);
    // The callers' texts are C strings: nothing past a NUL takes part.
    if (pattern.find('\0') != std::string::npos || replacement.find('\0') != std::string::npos) return 0;
    text = text.substr(0, text.find('\0'));
    const std::size_t capacity = text.size() + 1 + slack;
    std::vector<char> buffer(capacity); // exactly the capacity: ASan sees any write past it
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    const mesh::SubstituteResult r = mesh::substitute(buffer.data(), capacity, pattern, replacement);
    const std::size_t length = strnlen(buffer.data(), capacity);
    if (length == capacity) __builtin_trap(); // lost its terminator
    // Without growth limits and with a non-empty replacement the result is the left-to-right rebuild.
    if (!r.incomplete && !replacement.empty() && !pattern.empty() && pattern != replacement) {
        std::string expect;
        std::size_t pos = 0;
        for (std::size_t at; (at = text.find(pattern, pos)) != std::string::npos; pos = at + pattern.size())
            expect += text.substr(pos, at - pos) + replacement;
        expect += text.substr(pos);
        if (std::string(buffer.data(), length) != expect) __builtin_trap();
    }
    if (!r.incomplete && !pattern.empty() && replacement.empty() &&
        std::string(buffer.data(), length).find(pattern) != std::string::npos)
        __builtin_trap(); // a removal leaves no occurrence behind
    return 0;
}
