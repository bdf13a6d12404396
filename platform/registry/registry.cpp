#include "platform/registry/registry.h"

#include "minxl/minxl.h"
#include "platform/sys/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <stdexcept>

namespace kavro::registry {

namespace fs = std::filesystem;
using MinXL::t_xml_node;

std::string drive_c_root() { return kavro::sys::drive_c_root().string(); }

std::string registry_file() {
    if (const char* r = std::getenv("KAVRO_REGISTRY"); r && *r) return r;
    return drive_c_root() + "/windows/registry.xml";
}

namespace {

// The file is small; every call reads it, so changes made by other processes are seen at once.
// Elements: <registry> holds <key name=".."> elements; a key holds <key> and <value name=".." type="sz|dword">.
// Guards one read-modify-write of the file against this process's other threads; the file lock
// ("<file>.lock") does the same between processes.
std::mutex g_lock;

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x < 128 && y < 128 ? std::tolower(x) != std::tolower(y) : x != y) return false;
    }
    return true;
}

std::vector<std::string> split_key(const std::string& key) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : key) {
        if (c == '\\' || c == '/') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

std::string attr(const t_xml_node& n, const char* name) {
    for (unsigned i = 0; i < n.attribute_count(); ++i)
        if (n.attribute_name(i) == name) return n.attribute_value(i);
    return {};
}

t_xml_node* find_child(t_xml_node& n, const char* element, const std::string& name) {
    for (unsigned i = 0; i < n.child_count(); ++i) {
        t_xml_node& c = n.child(i);
        if (c.node_name() == element && same_name(attr(c, "name"), name)) return &c;
    }
    return nullptr;
}

t_xml_node* find_key(t_xml_node& root, const std::string& key, bool create) {
    t_xml_node* n = &root;
    for (const auto& part : split_key(key)) {
        t_xml_node* c = find_child(*n, "key", part);
        if (!c) {
            if (!create) return nullptr;
            t_xml_node k("key", "");
            k.add_attribute("name", part);
            n->add_child(k);
            c = &n->last_child();
        }
        n = c;
    }
    return n;
}

// Holds the process lock and an advisory lock on "<file>.lock" for one read-modify-write.
class FileLock {
public:
    explicit FileLock(const std::string& file) : guard_(g_lock) {
        std::error_code ec;
        fs::create_directories(fs::path(file).parent_path(), ec);
        fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FileLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }

private:
    std::lock_guard<std::mutex> guard_;
    int fd_ = -1;
};

bool has_attr(const t_xml_node& n, const char* name) {
    for (unsigned i = 0; i < n.attribute_count(); ++i)
        if (n.attribute_name(i) == name) return true;
    return false;
}

// Whether the children of n are keys and values as this file writes them, all the way down.
bool valid_children(const t_xml_node& n, unsigned depth) {
    if (depth > 200) return false;
    for (unsigned i = 0; i < n.child_count(); ++i) {
        const t_xml_node& c = n.child(i);
        if (c.node_name() == "key") {
            if (attr(c, "name").empty() || !valid_children(c, depth + 1)) return false;
        } else if (c.node_name() == "value") {
            const std::string type = attr(c, "type");
            if (!has_attr(c, "name") || (type != "sz" && type != "dword") || c.child_count() != 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

enum class FileState { fine, missing, unreadable, damaged };

struct Loaded {
    t_xml_node root{"registry", ""};
    FileState state = FileState::fine;
    std::string why;
};

Loaded load(const std::string& file) {
    Loaded r;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int err = errno;
        std::error_code ec;
        if (!fs::exists(file, ec) && !ec) {
            r.state = FileState::missing;
        } else {
            r.state = FileState::unreadable;
            r.why = std::strerror(err);
        }
        return r;
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        r.state = FileState::unreadable;
        r.why = "read error";
        return r;
    }
    t_xml_node doc("_EMPTY_", "");
    try {
        if (content.find('\0') != std::string::npos) throw std::runtime_error("a NUL byte in the text");
        doc.parse_string(content);
    } catch (const std::exception& e) {
        r.state = FileState::damaged;
        r.why = content.empty() ? "empty" : e.what();
        return r;
    }
    if (doc.node_name() != "registry" || !valid_children(doc, 0)) {
        r.state = FileState::damaged;
        r.why = "not a registry document";
        return r;
    }
    r.root = std::move(doc);
    return r;
}

// Runs fn on the tree; saves when fn returns true. A file that could not be read whole is never
// rewritten: what it still holds would be lost.
bool modify(const std::function<bool(t_xml_node&)>& fn) {
    const std::string file = registry_file();
    FileLock lock(file);
    Loaded l = load(file);
    if (l.state == FileState::unreadable) {
        std::fprintf(stderr, "registry: cannot read %s (%s); nothing written\n", file.c_str(), l.why.c_str());
        return false;
    }
    if (l.state == FileState::damaged) {
        const std::string bad = file + ".bad";
        if (std::rename(file.c_str(), bad.c_str()) == 0)
            std::fprintf(stderr,
                         "registry: %s cannot be read whole (%s); kept as %s, nothing written. The next change "
                         "starts a new registry: register the plug-ins again.\n",
                         file.c_str(), l.why.c_str(), bad.c_str());
        else
            std::fprintf(stderr, "registry: %s cannot be read whole (%s) nor moved to %s (%s); nothing written\n",
                         file.c_str(), l.why.c_str(), bad.c_str(), std::strerror(errno));
        return false;
    }
    if (!fn(l.root)) return false;
    if (!l.root.save_file(file)) {
        std::fprintf(stderr, "registry: cannot write %s\n", file.c_str());
        return false;
    }
    return true;
}

template <class T>
T inspect(const std::function<T(Editor&)>& fn) {
    const std::string file = registry_file();
    FileLock lock(file);
    Loaded l = load(file);
    if (l.state == FileState::unreadable || l.state == FileState::damaged)
        std::fprintf(stderr, "registry: %s cannot be read whole (%s); read as empty\n", file.c_str(), l.why.c_str());
    Editor e(l.root);
    return fn(e);
}

t_xml_node* find_value(t_xml_node& root, const std::string& key, const std::string& name) {
    t_xml_node* k = find_key(root, key, false);
    return k ? find_child(*k, "value", name) : nullptr;
}

void set_value(t_xml_node& root, const std::string& key, const std::string& name, const char* type,
               const std::string& text) {
    t_xml_node* k = find_key(root, key, true);
    t_xml_node nv("value", text);
    if (t_xml_node* v = find_child(*k, "value", name)) {
        // Attributes cannot be changed in place: rebuild the value.
        nv.add_attribute("name", attr(*v, "name"));
        nv.add_attribute("type", type);
        *v = nv;
    } else {
        nv.add_attribute("name", name);
        nv.add_attribute("type", type);
        k->add_child(nv);
    }
}

// Rebuilds `parent` without its child at index i (the document has no removal).
void remove_child(t_xml_node& parent, unsigned index) {
    t_xml_node copy(parent.node_name(), parent.node_text());
    for (unsigned a = 0; a < parent.attribute_count(); ++a)
        copy.add_attribute(parent.attribute_name(a), parent.attribute_value(a));
    for (unsigned i = 0; i < parent.child_count(); ++i)
        if (i != index) copy.add_child(parent.child(i));
    parent = std::move(copy);
}

// Removes the child element of that kind and name; false when there is none.
bool remove_named(t_xml_node& parent, const char* element, const std::string& name) {
    for (unsigned i = 0; i < parent.child_count(); ++i) {
        const t_xml_node& c = parent.child(i);
        if (c.node_name() == element && same_name(attr(c, "name"), name)) {
            remove_child(parent, i);
            return true;
        }
    }
    return false;
}

std::vector<std::string> child_names(t_xml_node& root, const std::string& key, const char* element) {
    std::vector<std::string> out;
    if (t_xml_node* k = find_key(root, key, false))
        for (unsigned i = 0; i < k->child_count(); ++i)
            if (k->child(i).node_name() == element) out.push_back(attr(k->child(i), "name"));
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// Editor

bool Editor::key_exists(const std::string& key) const { return find_key(root_, key, false) != nullptr; }

bool Editor::create_key(const std::string& key) { return find_key(root_, key, true) != nullptr; }

bool Editor::delete_key(const std::string& key) {
    auto parts = split_key(key);
    if (parts.empty()) return false;
    const std::string last = parts.back();
    parts.pop_back();
    std::string parent_path;
    for (const auto& p : parts) parent_path += p + "\\";
    t_xml_node* parent = find_key(root_, parent_path, false);
    return parent && remove_named(*parent, "key", last);
}

bool Editor::set_string(const std::string& key, const std::string& name, const std::string& value) {
    set_value(root_, key, name, "sz", value);
    return true;
}

bool Editor::set_number(const std::string& key, const std::string& name, std::uint32_t value) {
    set_value(root_, key, name, "dword", std::to_string(value));
    return true;
}

bool Editor::delete_value(const std::string& key, const std::string& name) {
    t_xml_node* k = find_key(root_, key, false);
    return k && remove_named(*k, "value", name);
}

std::optional<std::string> Editor::get_string(const std::string& key, const std::string& name) const {
    t_xml_node* v = find_value(root_, key, name);
    if (!v || attr(*v, "type") != "sz") return std::nullopt;
    return v->node_text();
}

std::optional<std::uint32_t> Editor::get_number(const std::string& key, const std::string& name) const {
    t_xml_node* v = find_value(root_, key, name);
    if (!v || attr(*v, "type") != "dword") return std::nullopt;
    const std::string& t = v->node_text();
    std::uint32_t n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return n;
}

std::vector<std::string> Editor::subkeys(const std::string& key) const { return child_names(root_, key, "key"); }

std::vector<std::string> Editor::value_names(const std::string& key) const {
    return child_names(root_, key, "value");
}

bool transaction(const std::function<bool(Editor&)>& edit) {
    return modify([&](t_xml_node& root) {
        Editor e(root);
        return edit(e);
    });
}

// ---------------------------------------------------------------------------------------------------------
// One call, one transaction

bool key_exists(const std::string& key) {
    return inspect<bool>([&](Editor& e) { return e.key_exists(key); });
}

bool create_key(const std::string& key) {
    return transaction([&](Editor& e) { return e.create_key(key); });
}

bool delete_key(const std::string& key) {
    return transaction([&](Editor& e) { return e.delete_key(key); });
}

std::vector<std::string> subkeys(const std::string& key) {
    return inspect<std::vector<std::string>>([&](Editor& e) { return e.subkeys(key); });
}

std::vector<std::string> value_names(const std::string& key) {
    return inspect<std::vector<std::string>>([&](Editor& e) { return e.value_names(key); });
}

bool set_string(const std::string& key, const std::string& name, const std::string& value) {
    return transaction([&](Editor& e) { return e.set_string(key, name, value); });
}

bool set_number(const std::string& key, const std::string& name, std::uint32_t value) {
    return transaction([&](Editor& e) { return e.set_number(key, name, value); });
}

std::optional<std::string> get_string(const std::string& key, const std::string& name) {
    return inspect<std::optional<std::string>>([&](Editor& e) { return e.get_string(key, name); });
}

std::optional<std::uint32_t> get_number(const std::string& key, const std::string& name) {
    return inspect<std::optional<std::uint32_t>>([&](Editor& e) { return e.get_number(key, name); });
}

bool delete_value(const std::string& key, const std::string& name) {
    return transaction([&](Editor& e) { return e.delete_value(key, name); });
}

} // namespace kavro::registry
