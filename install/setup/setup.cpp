#include "install/setup/setup.h"

#include "platform/sys/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

namespace fs = std::filesystem;

namespace kavro::setup {

namespace {

constexpr const char* kPrefix = "KAVRO n'est pas correctement installé : \n";

// The character the shell would read specially inside double quotation marks, or a byte the low-byte
// conversion turned into something else than the value held.
bool unsafe_char(unsigned char c) {
    return c < 0x20 || c >= 0x7F || c == '"' || c == '$' || c == '`' || c == '\\';
}

bool has_dot_component(const std::string& folder) {
    std::size_t start = 1;
    while (start < folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string::npos) end = folder.size();
        const std::string_view part(folder.data() + start, end - start);
        if (part == "." || part == "..") return true;
        start = end + 1;
    }
    return false;
}

// Opens an existing file for reading, as the check that the daemon is installed does.
bool can_open(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool copy(const fs::path& from, const fs::path& to, bool fail_if_exists, std::string& error) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    if (!sys::copy_file(from, to, fail_if_exists, ec)) {
        error = ec.message();
        return false;
    }
    return true;
}

void note(const Environment& env, const std::string& line) {
    if (env.log) env.log(line);
}

bool copy_runtime_libraries(const Environment& env, const std::string& folder) {
    for (const auto& lib : kRuntimeLibraries) {
        const std::string source = folder + lib.source;
        const fs::path destination = env.system_path(lib.destination);
        // Never over an existing library: one already in the system folder (an earlier run, or another
        // program's) stays; only a missing one is copied, and a missing source is then reported.
        std::error_code ec;
        if (fs::exists(destination, ec)) {
            note(env, destination.string() + " is already there, kept");
            continue;
        }
        std::string error;
        if (!copy(source, destination, true, error)) {
            note(env, "cannot copy " + source + " to " + destination.string() + ": " + error);
            env.show_error(library_missing_message(source));
            return false;
        }
    }
    return true;
}

bool register_libraries(const Environment& env, const std::string& folder) {
    for (const char* entry : kRegistrations) {
        const std::string command = kRegisterPrefix + folder + entry;
        const int result = env.run_command(command);
        if (result != 0) {
            note(env, "\"" + command + "\" answered " + std::to_string(result));
            env.show_error(entry_missing_message(entry));
            return false;
        }
    }
    return true;
}

bool install_olsr_configuration(const Environment& env, const std::string& folder) {
    const fs::path destination =
        env.system_path("c:\\Program Files\\" + env.olsr_folder + "\\Default.olsr");
    if (!can_open(destination)) {
        note(env, "the mesh daemon's " + destination.string() + " cannot be opened");
        env.show_error(kOlsrMissingMessage);
        return false;
    }
    const std::string source = folder + kOlsrSource;
    std::string error;
    if (!copy(source, destination, false, error)) {
        note(env, "cannot copy " + source + " to " + destination.string() + ": " + error);
        env.show_error(entry_missing_message(source));
        return false;
    }
    return true;
}

} // namespace

std::string library_missing_message(const std::string& source_path) {
    return kPrefix + source_path + " introuvable\n";
}

std::string entry_missing_message(const std::string& name) { return kPrefix + name + " introuvable"; }

std::string low_bytes(const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const unsigned unit = data[i] | (data[i + 1] << 8);
        if (unit == 0) break;
        text.push_back(static_cast<char>(unit & 0xFF));
    }
    return text;
}

std::optional<std::string> installation_folder(const RegistryValue& value, std::string* why) {
    const auto refuse = [why](std::string reason) -> std::optional<std::string> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    if (!value.key_opened) return refuse(std::string("the key ") + kRegistryKey + " does not exist");
    if (!value.data) return refuse(std::string("the value ") + kRegistryValue + " cannot be read");
    if (value.data->size() > kMaxValueBytes)
        return refuse("the value holds " + std::to_string(value.data->size()) + " bytes, more than 80");
    const std::string text = low_bytes(*value.data);
    // The kept bytes must be the characters the value holds: a code unit outside ASCII would name another
    // folder once its high byte is dropped.
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((*value.data)[2 * i + 1] != 0 || unsafe_char(static_cast<unsigned char>(text[i])))
            return refuse("the value holds a character that cannot be part of the installation folder");
    if (text.empty() || text.front() != '/')
        return refuse("the installation folder \"" + text + "\" is not an absolute path");
    if (text.back() != '/') return refuse("the installation folder \"" + text + "\" does not end with '/'");
    if (has_dot_component(text))
        return refuse("the installation folder \"" + text + "\" holds a \".\" or \"..\" component");
    return text;
}

int run_setup(const Environment& env) {
    std::string why;
    const auto folder = installation_folder(env.read_registry(), &why);
    if (!folder) {
        // Nothing is copied or registered without a folder read from the registry.
        note(env, why);
        env.show_error(kRegistryMessage);
        return kExitFailed;
    }
    note(env, "installation folder " + *folder);
    if (!copy_runtime_libraries(env, *folder)) return kExitFailed;
    if (!register_libraries(env, *folder)) return kExitFailed;
    if (!install_olsr_configuration(env, *folder)) return kExitFailed;
    return kExitOk;
}

} // namespace kavro::setup
