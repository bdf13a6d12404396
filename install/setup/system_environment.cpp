// The setup step's real environment.
#include "install/setup/setup.h"

#include "platform/registry/registry.h"
#include "platform/sys/paths.h"
#include "platform/ui/message_box.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace kavro::setup {

namespace {

// The registry layer keeps text as UTF-8; the step reads it as the UTF-16 value it stands for, terminator
// included. A byte that does not start a valid UTF-8 sequence is taken as the character of that number.
std::vector<std::uint8_t> utf16_with_terminator(const std::string& text) {
    std::vector<std::uint8_t> out;
    const auto unit = [&out](unsigned u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        unsigned cp = extra == 3 ? (c & 0x07) : extra == 2 ? (c & 0x0F) : extra == 1 ? (c & 0x1F) : c;
        bool valid = extra > 0 && i + extra < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (!valid) {
            unit(c);
            ++i;
            continue;
        }
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    unit(0);
    return out;
}

RegistryValue read_installation_value() {
    RegistryValue v;
    v.key_opened = registry::key_exists(kRegistryKey);
    if (!v.key_opened) return v;
    if (auto text = registry::get_string(kRegistryKey, kRegistryValue)) v.data = utf16_with_terminator(*text);
    return v;
}

// system(): the command's exit code, or -1 when no shell could run it or a signal ended it.
int run_through_shell(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace

Environment system_environment() {
    Environment env;
    env.read_registry = read_installation_value;
    env.system_path = [](std::string_view p) { return sys::local_path(p); };
    env.run_command = run_through_shell;
    env.show_error = [](const std::string& text) { ui::message_box(text, kCaption, ui::MB_OK); };
    env.log = [](const std::string& line) { std::fprintf(stderr, "setup: %s\n", line.c_str()); };
    if (const char* folder = std::getenv("KAVRO_OLSR_FOLDER"); folder && *folder) env.olsr_folder = folder;
    return env;
}

} // namespace kavro::setup
