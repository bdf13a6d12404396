// In-place text substitution for the topology text: node addresses become node names, HNA prefixes "HNA".
#pragma once

#include <cstddef>
#include <string_view>

namespace mesh {

struct SubstituteResult {
    std::size_t replaced = 0; // occurrences replaced
    bool incomplete = false;  // an occurrence was left because the result would not fit
};

// Replaces the occurrences of pattern in the terminated text held in a buffer of capacity bytes (the
// terminator included), from the start of the text, in place. Plain text matching, no regard to word or
// address boundaries. An empty pattern, or a replacement equal to the pattern, changes nothing. With an
// empty replacement the search resumes where the occurrence was removed (stepping back to see across the
// join), so an occurrence formed by joining the two sides is removed as well; otherwise it resumes after the replacement. The text never grows past
// the buffer: the first occurrence whose replacement would not fit (and every one after it) is left as
// it is and the result says so. A text without a terminator inside the buffer is left unchanged.
SubstituteResult substitute(char* text, std::size_t capacity, std::string_view pattern,
                            std::string_view replacement);

} // namespace mesh
