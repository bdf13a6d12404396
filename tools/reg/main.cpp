// reg: reads and writes values of the registry from the shell, as the installation scripts and operators need
// (the installation folder of "SOFTWARE\KAVRO", for one).
//   reg add <key> /v <name> [/t REG_SZ|REG_DWORD] /d <data> [/f]
//   reg query <key> /v <name>
//   reg delete <key> /v <name> [/f]
// The key may begin with "HKLM\" or "HKEY_LOCAL_MACHINE\"; the registry is the one of platform/registry (the file
// $KAVRO_REGISTRY). A REG_DWORD is a decimal number or 0x followed by hexadecimal digits, up to 32 bits.
// Exit code 0 on success; otherwise a message on standard error and 1 (usage), 2 (no such value) or 3 (the
// registry could not be written). query prints "<name>    <type>    <data>" on standard output.
#include "platform/registry/registry.h"

#include <charconv>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <string>
#include <strings.h>

namespace reg = kavro::registry;

namespace {

struct Request {
    std::string verb, key, name, type = "REG_SZ", data;
    bool has_name = false, has_data = false;
};

int usage(const char* why) {
    std::fprintf(stderr,
                 "reg: %s\nusage: reg add <key> /v <name> [/t REG_SZ|REG_DWORD] /d <data> [/f]\n"
                 "       reg query <key> /v <name>\n       reg delete <key> /v <name> [/f]\n",
                 why);
    return 1;
}

std::string strip_root(std::string key) {
    for (const char* root : {"HKLM\\", "HKEY_LOCAL_MACHINE\\"}) {
        const std::size_t n = std::char_traits<char>::length(root);
        if (key.size() > n && strncasecmp(key.c_str(), root, n) == 0) return key.substr(n);
    }
    return key;
}

std::optional<std::uint32_t> parse_dword(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

// Reads the switches after the verb and the key; returns an error text, or nullptr.
const char* parse(int argc, char** argv, Request& r) {
    for (int i = 3; i < argc; ++i) {
        const std::string sw = argv[i];
        const bool has_arg = i + 1 < argc;
        if (strcasecmp(sw.c_str(), "/f") == 0) continue; // never asks, so forcing changes nothing
        if (!has_arg) return "a switch lacks its argument";
        if (strcasecmp(sw.c_str(), "/v") == 0) r.name = argv[++i], r.has_name = true;
        else if (strcasecmp(sw.c_str(), "/t") == 0) r.type = argv[++i];
        else if (strcasecmp(sw.c_str(), "/d") == 0) r.data = argv[++i], r.has_data = true;
        else return "unknown switch";
    }
    if (!r.has_name) return "the value name (/v) is missing";
    if (r.verb == "add" && !r.has_data) return "the data (/d) is missing";
    if (r.type != "REG_SZ" && r.type != "REG_DWORD") return "the type must be REG_SZ or REG_DWORD";
    return nullptr;
}

int add(const Request& r) {
    bool written = false;
    if (r.type == "REG_DWORD") {
        const std::optional<std::uint32_t> value = parse_dword(r.data);
        if (!value) return usage("a REG_DWORD is a decimal or 0x-hexadecimal number of up to 32 bits");
        written = reg::set_number(r.key, r.name, *value);
    } else {
        written = reg::set_string(r.key, r.name, r.data);
    }
    if (!written) {
        std::fprintf(stderr, "reg: could not write %s in %s\n", r.name.c_str(), reg::registry_file().c_str());
        return 3;
    }
    return 0;
}

int query(const Request& r) {
    if (const auto text = reg::get_string(r.key, r.name)) {
        std::printf("%s    REG_SZ    %s\n", r.name.c_str(), text->c_str());
        return 0;
    }
    if (const auto number = reg::get_number(r.key, r.name)) {
        std::printf("%s    REG_DWORD    0x%x\n", r.name.c_str(), static_cast<unsigned>(*number));
        return 0;
    }
    std::fprintf(stderr, "reg: no value %s in %s\n", r.name.c_str(), r.key.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage("a verb and a key are needed");
    Request r;
    r.verb = argv[1];
    for (char& c : r.verb) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    r.key = strip_root(argv[2]);
    if (r.verb != "add" && r.verb != "query" && r.verb != "delete") return usage("the verb is add, query or delete");
    if (const char* why = parse(argc, argv, r)) return usage(why);
    if (r.verb == "add") return add(r);
    if (r.verb == "query") return query(r);
    if (reg::delete_value(r.key, r.name)) return 0;
    std::fprintf(stderr, "reg: no value %s in %s\n", r.name.c_str(), r.key.c_str());
    return 2;
}
