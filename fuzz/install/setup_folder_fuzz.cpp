// The setup step's reading of the registry value, on any stored bytes: a folder it accepts is an absolute
// path ending with '/', without "." or ".." components or characters the shell reads inside quotation marks,
// at most 40 characters (an 80-byte value without a terminator holds 40), so that every command and message
// stays within 200 bytes.
#include "install/setup/setup.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kavro::setup;
    const std::vector<std::uint8_t> value(data, data + size);
    (void)low_bytes(value);
    const auto folder = installation_folder({true, value}, nullptr);
    if (!folder) return 0;
    const std::string& f = *folder;
    if (f.empty() || f.front() != '/' || f.back() != '/' || f.size() > kMaxValueBytes / 2) std::abort();
    if (f.find("/../") != std::string::npos || f.find("/./") != std::string::npos) std::abort();
    for (unsigned char c : f)
        if (c < 0x20 || c >= 0x7F || std::strchr("\"$`\\", c)) std::abort();
    for (const char* entry : kRegistrations)
        if (std::strlen(kRegisterPrefix) + f.size() + std::strlen(entry) >= 200) std::abort();
    return 0;
}
