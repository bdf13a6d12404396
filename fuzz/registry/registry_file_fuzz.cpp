// A registry file of any content: every key and value reads without harm, and a change either is refused
// (the damaged file moved aside whole) or is made, keeping every value the file held.
#include "platform/registry/registry.h"

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace reg = kavro::registry;

namespace {

// Every key path and value below key, with its type and content, in file order.
void walk(const std::string& key, int depth, std::vector<std::string>& out) {
    if (depth > 64 || out.size() > 5000) return;
    for (const auto& v : reg::value_names(key)) {
        const auto s = reg::get_string(key, v);
        const auto n = reg::get_number(key, v);
        out.push_back(key + "|" + v + "|" + (s ? "s" + *s : n ? "n" + std::to_string(*n) : "-"));
    }
    for (const auto& k : reg::subkeys(key)) walk(key.empty() ? k : key + "\\" + k, depth + 1, out);
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = [] {
        auto d = fs::temp_directory_path() / ("kavro-fuzz-registry-" + std::to_string(::getpid()));
        fs::create_directories(d);
        const std::string f = (d / "registry.xml").string();
        setenv("KAVRO_REGISTRY", f.c_str(), 1);
        return f;
    }();
    const std::string input(reinterpret_cast<const char*>(data), size);
    fs::remove(file + ".bad");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << input;

    std::vector<std::string> before;
    walk("", 0, before);
    if (!reg::set_string("Fuzz\\Probe", "v", "1")) {
        // Refused: the file went aside untouched.
        if (read_all(file + ".bad") != input || fs::exists(file)) std::abort();
        return 0;
    }
    std::vector<std::string> after;
    walk("", 0, after);
    // Nothing the file held is lost by the change (a value already named Fuzz\Probe|v is replaced).
    for (const auto& e : before) {
        std::string folded = e; // key and value names compare without regard to case; "/" also splits keys
        for (char& c : folded) c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
        if (folded.rfind("fuzz\\probe|v|", 0) != 0 && std::find(after.begin(), after.end(), e) == after.end())
            std::abort();
    }
    if (reg::get_string("Fuzz\\Probe", "v") != std::string("1")) std::abort();
    return 0;
}
