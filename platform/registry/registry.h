// The registry: a tree of keys holding named values (text or 32-bit numbers), standing in for
// HKEY_LOCAL_MACHINE. One per process (shared library kavro_registry), kept in one XML file that every
// call reads and every change rewrites atomically (temporary file + rename) under an advisory lock, so that
// several processes (a program and regsvr32) see each other's changes. Several changes that belong
// together (a plug-in's registration) are made in one transaction: one read, one write.
//
// A file that cannot be read whole (cut short, not XML, not this layout) reads as an empty registry, with
// a message on stderr, and is never rewritten: the first change that finds it moves it aside to
// "<file>.bad", says so on stderr and fails; the change after that starts a new, empty registry.
//
// Key paths use backslashes, as the system writes them ("SOFTWARE\KAVRO"); names compare without regard to
// ASCII case. The value named "" is a key's default value.
// File: $KAVRO_REGISTRY when set, else <drive C root>/windows/registry.xml.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace MinXL {
class t_xml_node;
}

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

// The registry as one transaction sees it: the calls above, made on the copy held in memory.
class Editor {
public:
    bool key_exists(const std::string& key) const;
    bool create_key(const std::string& key);
    bool delete_key(const std::string& key); // false when it did not exist
    bool set_string(const std::string& key, const std::string& name, const std::string& value);
    bool set_number(const std::string& key, const std::string& name, std::uint32_t value);
    bool delete_value(const std::string& key, const std::string& name); // false when it did not exist
    std::optional<std::string> get_string(const std::string& key, const std::string& name) const;
    std::optional<std::uint32_t> get_number(const std::string& key, const std::string& name) const;
    std::vector<std::string> subkeys(const std::string& key) const;
    std::vector<std::string> value_names(const std::string& key) const;

    explicit Editor(MinXL::t_xml_node& root) : root_(root) {}

private:
    MinXL::t_xml_node& root_;
};

// Reads the file once, runs edit on it and, when edit returns true, writes the file once: all of edit's
// changes appear together or none does, even when the process dies midway. Returns false, with the file
// unchanged, when edit returns false, the file cannot be read whole or cannot be written. The registry
// stays locked while edit runs: edit must not call the other functions of this header.
bool transaction(const std::function<bool(Editor&)>& edit);

} // namespace kavro::registry
