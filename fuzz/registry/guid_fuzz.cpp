// Any text as a class identifier: refused, or read to the identifier whose registry form is the text itself
// (braces added, digits in upper case).
#include "platform/com/com.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto g = guid_from_string(text);
    if (!g) return 0;
    const std::string back = guid_to_string(*g);
    std::string expected = text.front() == '{' ? text : "{" + text + "}";
    for (char& c : expected) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (back != expected) std::abort();
    const auto again = guid_from_string(back);
    if (!again || std::memcmp(&*again, &*g, sizeof(GUID)) != 0) std::abort();
    return 0;
}
