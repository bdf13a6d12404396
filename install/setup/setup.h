// The setup step: completes an installation whose files are in place. It reads the installation folder from
// the registry, copies three runtime libraries into the system folder, registers fourteen libraries of the
// "Filtres" folder with regsvr32 through the shell, and installs the mesh daemon's configuration.
//
// The core takes everything it touches from an Environment, so that tests give it a registry value of their
// choosing, temporary folders for drive C and a command runner of their own.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavro::setup {

inline constexpr const char* kRegistryKey = "SOFTWARE\\KAVRO";
inline constexpr const char* kRegistryValue = "Installation";
// The value is accepted up to 80 bytes of UTF-16 text, its terminator included.
inline constexpr std::size_t kMaxValueBytes = 80;

inline constexpr const char* kCaption = "Erreur";
inline constexpr const char* kRegistryMessage = "KAVRO n'est pas correctement installé : \nAucune entrée dans le registre.";
inline constexpr const char* kOlsrMissingMessage =
    "KAVRO n'est pas correctement installé : \nOlsr n'est pas installe dans \"Program Files\"";
// The copy failure of a runtime library ends with a line break, the others do not.
std::string library_missing_message(const std::string& source_path);
std::string entry_missing_message(const std::string& name);

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = -1;

struct RuntimeLibrary {
    const char* source;      // relative to the installation folder
    const char* destination; // a path of drive C
};
// Copied in this order, never over an existing file.
inline constexpr std::array<RuntimeLibrary, 3> kRuntimeLibraries{{
    {"Filtres/d3dx9_24.dll", "c:\\windows\\system32\\d3dx9_24.dll"},
    {"Filtres/ijl15.dll", "c:\\windows\\system32\\ijl15.dll"},
    {"Filtres/VitaminCtrl.dll", "c:\\windows\\system32\\VitaminCtrl.dll"},
}};

// Registered in this order. Each entry ends with the quotation mark that closes the one the command opens.
inline constexpr std::array<const char*, 14> kRegistrations{
    "Filtres/WinGraphviz.dll\"", "Filtres/xplug.ocx\"",     "Filtres/VitaminCtrl.dll\"", "Filtres/VADecoder.dll\"",
    "Filtres/Adlink.ax\"",       "Filtres/camIP.ax\"",      "Filtres/camIP2.ax\"",       "Filtres/camIP3.ax\"",
    "Filtres/camIP4.ax\"",       "Filtres/capTelcar.ax\"",  "Filtres/JPEG_Receiver.ax\"", "Filtres/Mesh.ax\"",
    "Filtres/noir.ax\"",         "Filtres/SenderJPEG.ax\"",
};
inline constexpr const char* kRegisterPrefix = "regsvr32 /s \"";

inline constexpr const char* kOlsrSource = "Filtres/Default.olsr";
// The mesh daemon's folder under "c:\Program Files" (a setting: $KAVRO_OLSR_FOLDER in the program).
inline constexpr const char* kDefaultOlsrFolder = "olsrd";

// What the registry answered for the value.
struct RegistryValue {
    bool key_opened = false;
    // The value's bytes as stored (UTF-16, little-endian); absent when it could not be read. A stored value
    // need not end with a terminator.
    std::optional<std::vector<std::uint8_t>> data;
};

// The value's text the way the step takes it: the low byte of each UTF-16 code unit, up to the first code unit
// that is 0 or the end of the data, whichever comes first (an unterminated value is never read past its end).
std::string low_bytes(const std::vector<std::uint8_t>& data);

// The installation folder from the registry's answer, or nothing with the reason in *why when the key or value
// is missing, the value is longer than 80 bytes, or its text cannot name the installation folder safely: it
// must be an absolute path ending with '/', of printable ASCII (the low-byte conversion keeps no other
// character intact), without "." or ".." components, and without the characters the shell reads inside double
// quotation marks ('"', '$', '`', '\').
std::optional<std::string> installation_folder(const RegistryValue& value, std::string* why);

struct Environment {
    // Reads "Installation" of "SOFTWARE\KAVRO".
    std::function<RegistryValue()> read_registry;
    // Where a path of drive C ("c:\windows\system32\ijl15.dll") lies on this machine.
    std::function<std::filesystem::path(std::string_view)> system_path;
    // Runs a command line through the shell and answers its result (0 for success), as system() does.
    std::function<int(const std::string&)> run_command;
    // Shows a message box with caption "Erreur" and an OK button.
    std::function<void(const std::string&)> show_error;
    // Explanations for whoever reads the log (standard error in the program).
    std::function<void(const std::string&)> log;
    std::string olsr_folder = kDefaultOlsrFolder;
};

// One pass of the step; answers the exit code: 0 when every step succeeded, -1 after the first failure (its
// message shown). A failed registry read stops before any copy or registration. Nothing done is undone.
int run_setup(const Environment& env);

// The real environment: the registry layer, the drive-C folder of the system layer, the shell, the window
// system's message box, standard error.
Environment system_environment();

} // namespace kavro::setup
