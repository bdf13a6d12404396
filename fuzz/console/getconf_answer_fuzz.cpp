// The reader of the mixer's "getconf" answer, on arbitrary bytes: never more names than fields received, and
// the names, put back together, are a piece of the answer.
#include "console/pages/mixer_exchange.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    const auto names = kavro::console::parse_getconf_answer(answer.data(), answer.size());
    std::size_t blanks = 0;
    const std::string_view text(answer.c_str()); // the text ends at the first zero byte
    for (char c : text) blanks += c == ' ';
    if (names.size() > blanks) std::abort();
    std::string joined;
    for (const auto& n : names) joined += n;
    if (!names.empty() && text.find(joined) == std::string_view::npos) std::abort();
    return 0;
}
