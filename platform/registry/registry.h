// The registry: a tree of keys holding named values (text or 32-bit numbers), standing in for
// HKEY_LOCAL_MACHINE. One per process (shared library kavro_registry), kept in one XML file that every
// call reads and every change rewrites atomically (temporary file + rename) under an advisory lock, so that
// several processes (a program and regsvr32) see each other's changes.
//
// Key paths use backslashes, as the system writes them ("SOFTWARE\KAVRO"); names compare without regard to
// ASCII case. The value named "" is a key's default value.
// File: $KAVRO_REGISTRY when set, else <drive C root>/windows/registry.xml.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavro::registry {

// The folder standing for drive C: $KAVRO_DRIVE_C, else $XDG_DATA_HOME/kavro/drive_c, else
// ~/.local/share/kavro/drive_c.
std::string drive_c_root();

// The registry file in use.
std::string registry_file();

bool key_exists(const std::string& key);
// Creates the key and its missing parents. False when the file cannot be written.
bool create_key(const std::string& key);
// Removes the key with everything below it. False when it did not exist or the file cannot be written.
bool delete_key(const std::string& key);
// Names of the key's direct subkeys, in the order they were created.
std::vector<std::string> subkeys(const std::string& key);
// Names of the key's values, in the order they were created.
std::vector<std::string> value_names(const std::string& key);

// Setters create the key when needed; they return false when the file cannot be written.
bool set_string(const std::string& key, const std::string& name, const std::string& value);
bool set_number(const std::string& key, const std::string& name, std::uint32_t value);
// Absent when the key or value is missing or the value has the other type.
std::optional<std::string> get_string(const std::string& key, const std::string& name);
std::optional<std::uint32_t> get_number(const std::string& key, const std::string& name);
bool delete_value(const std::string& key, const std::string& name);

} // namespace kavro::registry
