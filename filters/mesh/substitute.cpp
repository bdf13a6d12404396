#include "filters/mesh/substitute.h"

#include <cstring>

namespace mesh {

SubstituteResult substitute(char* text, std::size_t capacity, std::string_view pattern,
                            std::string_view replacement) {
    SubstituteResult result;
    if (!text || capacity == 0 || pattern.empty() || pattern == replacement) return result;
    const void* end = std::memchr(text, '\0', capacity);
    if (!end) return result;
    std::size_t length = std::size_t(static_cast<const char*>(end) - text);
    std::size_t pos = 0;
    for (;;) {
        const std::string_view rest(text + pos, length - pos);
        const std::size_t at = rest.find(pattern);
        if (at == std::string_view::npos) return result;
        pos += at;
        const std::size_t tail = length - pos - pattern.size(); // bytes after the occurrence
        if (replacement.size() > pattern.size()) {
            const std::size_t grown = length + replacement.size() - pattern.size();
            if (grown + 1 > capacity) {
                result.incomplete = true;
                return result;
            }
            length = grown;
        } else {
            length -= pattern.size() - replacement.size();
        }
        // The tail with its terminator moves to just after the replacement.
        std::memmove(text + pos + replacement.size(), text + pos + pattern.size(), tail + 1);
        std::memcpy(text + pos, replacement.data(), replacement.size());
        ++result.replaced;
        // After a removal the two sides meet: an occurrence may now straddle the join.
        if (replacement.empty())
            pos -= pos < pattern.size() - 1 ? pos : pattern.size() - 1;
        else
            pos += replacement.size();
    }
}

} // namespace mesh
