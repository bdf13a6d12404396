#include "platform/registry/registry.h"

#include "minxl/minxl.h"
#include "platform/sys/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>

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

t_xml_node load(const std::string& file) {
    t_xml_node root("registry", "");
    std::error_code ec;
    if (!fs::exists(file, ec)) return root;
    try {
        root.load_file(file);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "registry: %s is unreadable (%s); starting empty\n", file.c_str(), e.what());
        root = t_xml_node("registry", "");
    }
    return root;
}

// Runs fn on the tree; saves when fn returns true. Returns fn's answer and whether the save worked.
bool modify(const std::function<bool(t_xml_node&)>& fn) {
    const std::string file = registry_file();
    FileLock lock(file);
    t_xml_node root = load(file);
    if (!fn(root)) return false;
    if (!root.save_file(file)) {
        std::fprintf(stderr, "registry: cannot write %s\n", file.c_str());
        return false;
    }
    return true;
}

template <class T>
T inspect(const std::function<T(t_xml_node&)>& fn) {
    const std::string file = registry_file();
    FileLock lock(file);
    t_xml_node root = load(file);
    return fn(root);
}

t_xml_node* find_value(t_xml_node& root, const std::string& key, const std::string& name) {
    t_xml_node* k = find_key(root, key, false);
    return k ? find_child(*k, "value", name) : nullptr;
}

bool set_value(const std::string& key, const std::string& name, const char* type, const std::string& text) {
    return modify([&](t_xml_node& root) {
        t_xml_node* k = find_key(root, key, true);
        if (t_xml_node* v = find_child(*k, "value", name)) {
            // Attributes cannot be changed in place: rebuild the value.
            t_xml_node nv("value", text);
            nv.add_attribute("name", attr(*v, "name"));
            nv.add_attribute("type", type);
            *v = nv;
        } else {
            t_xml_node nv("value", text);
            nv.add_attribute("name", name);
            nv.add_attribute("type", type);
            k->add_child(nv);
        }
        return true;
    });
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

} // namespace

bool key_exists(const std::string& key) {
    return inspect<bool>([&](t_xml_node& root) { return find_key(root, key, false) != nullptr; });
}

bool create_key(const std::string& key) {
    return modify([&](t_xml_node& root) { return find_key(root, key, true) != nullptr; });
}

bool delete_key(const std::string& key) {
    auto parts = split_key(key);
    if (parts.empty()) return false;
    const std::string last = parts.back();
    parts.pop_back();
    std::string parent_path;
    for (const auto& p : parts) parent_path += p + "\\";
    return modify([&](t_xml_node& root) {
        t_xml_node* parent = find_key(root, parent_path, false);
        if (!parent) return false;
        for (unsigned i = 0; i < parent->child_count(); ++i) {
            const t_xml_node& c = parent->child(i);
            if (c.node_name() == "key" && same_name(attr(c, "name"), last)) {
                remove_child(*parent, i);
                return true;
            }
        }
        return false;
    });
}

std::vector<std::string> subkeys(const std::string& key) {
    return inspect<std::vector<std::string>>([&](t_xml_node& root) {
        std::vector<std::string> out;
        if (t_xml_node* k = find_key(root, key, false))
            for (unsigned i = 0; i < k->child_count(); ++i)
                if (k->child(i).node_name() == "key") out.push_back(attr(k->child(i), "name"));
        return out;
    });
}

std::vector<std::string> value_names(const std::string& key) {
    return inspect<std::vector<std::string>>([&](t_xml_node& root) {
        std::vector<std::string> out;
        if (t_xml_node* k = find_key(root, key, false))
            for (unsigned i = 0; i < k->child_count(); ++i)
                if (k->child(i).node_name() == "value") out.push_back(attr(k->child(i), "name"));
        return out;
    });
}

bool set_string(const std::string& key, const std::string& name, const std::string& value) {
    return set_value(key, name, "sz", value);
}

bool set_number(const std::string& key, const std::string& name, std::uint32_t value) {
    return set_value(key, name, "dword", std::to_string(value));
}

std::optional<std::string> get_string(const std::string& key, const std::string& name) {
    return inspect<std::optional<std::string>>([&](t_xml_node& root) -> std::optional<std::string> {
        t_xml_node* v = find_value(root, key, name);
        if (!v || attr(*v, "type") != "sz") return std::nullopt;
        return v->node_text();
    });
}

std::optional<std::uint32_t> get_number(const std::string& key, const std::string& name) {
    return inspect<std::optional<std::uint32_t>>([&](t_xml_node& root) -> std::optional<std::uint32_t> {
        t_xml_node* v = find_value(root, key, name);
        if (!v || attr(*v, "type") != "dword") return std::nullopt;
        const std::string& t = v->node_text();
        if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        const unsigned long long n = std::stoull(t);
        if (n > 0xFFFFFFFFull) return std::nullopt;
        return static_cast<std::uint32_t>(n);
    });
}

bool delete_value(const std::string& key, const std::string& name) {
    return modify([&](t_xml_node& root) {
        t_xml_node* k = find_key(root, key, false);
        if (!k) return false;
        for (unsigned i = 0; i < k->child_count(); ++i) {
            const t_xml_node& c = k->child(i);
            if (c.node_name() == "value" && same_name(attr(c, "name"), name)) {
                remove_child(*k, i);
                return true;
            }
        }
        return false;
    });
}

} // namespace kavro::registry
