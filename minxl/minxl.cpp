#include "minxl/minxl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace MinXL {

bool is_valid_key(std::string_view name) noexcept {
    if (name.empty()) return false;
    for (char c : name)
        if (c == '/' || c == ':') return false;
    return true;
}

namespace {

// Replacement text per byte, or nullptr when the byte is copied unchanged.
struct escape_table {
    const char* rep[256] = {};
    unsigned char len[256] = {};
    constexpr void set(unsigned char c, const char* r) {
        rep[c] = r;
        len[c] = static_cast<unsigned char>(std::char_traits<char>::length(r));
    }
};

constexpr escape_table make_text_table() {
    escape_table t;
    t.set('&', "&amp;");
    t.set('<', "&lt;");
    t.set('>', "&gt;");
    t.set('\r', "&#xD;");
    return t;
}

constexpr escape_table make_attribute_table() {
    escape_table t = make_text_table();
    t.set('"', "&quot;");
    t.set('\t', "&#x9;");
    t.set('\n', "&#xA;");
    return t;
}

constexpr escape_table text_table = make_text_table();
constexpr escape_table attribute_table = make_attribute_table();

void escape_into(std::string_view in, const escape_table& table, std::string& out) {
    const char* p = in.data();
    const char* end = p + in.size();
    const char* run = p;
    for (; p != end; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (table.rep[c]) {
            out.append(run, p);
            out.append(table.rep[c], table.len[c]);
            run = p + 1;
        }
    }
    out.append(run, end);
}

// The character an entity name stands for, or -1 when the entity is dropped.
int entity_char(std::string_view name) {
    switch (name.size()) {
    case 2:
        if (name == "lt") return '<';
        if (name == "gt") return '>';
        break;
    case 3:
        if (name == "amp") return '&';
        if (name == "#x9") return '\t';
        if (name == "#xA") return '\n';
        if (name == "#xD") return '\r';
        break;
    case 4:
        if (name == "quot") return '"';
        break;
    }
    return -1;
}

} // namespace

std::string escape_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    escape_into(text, text_table, out);
    return out;
}

std::string escape_attribute(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    escape_into(value, attribute_table, out);
    return out;
}

void decode_entities_into(std::string_view text, std::string& out) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos) break;
        size_t semi = text.find(';', amp + 1);
        if (semi == std::string_view::npos) break; // unterminated: the rest is kept as it stands
        out.append(text.data() + pos, amp - pos);
        int c = entity_char(text.substr(amp + 1, semi - amp - 1));
        if (c >= 0) out.push_back(static_cast<char>(c));
        pos = semi + 1;
    }
    out.append(text.data() + pos, text.size() - pos);
}

std::string decode_entities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    decode_entities_into(text, out);
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// t_xml_node

t_xml_node::t_xml_node(std::string name, std::string text) : name_(std::move(name)), text_(std::move(text)) {
    if (!is_valid_key(name_)) throw ex_invalid_key();
}

t_xml_node::t_xml_node(const t_xml_node& other)
    : name_(other.name_), text_(other.text_), attribute_names_(other.attribute_names_),
      attribute_values_(other.attribute_values_) {
    children_.reserve(other.children_.size());
    for (const auto& c : other.children_) children_.push_back(std::make_unique<t_xml_node>(*c));
}

t_xml_node& t_xml_node::operator=(const t_xml_node& other) {
    if (this == &other) return *this;
    // Copy the children first: other may be one of our own descendants.
    std::vector<std::unique_ptr<t_xml_node>> copies;
    copies.reserve(other.children_.size());
    for (const auto& c : other.children_) copies.push_back(std::make_unique<t_xml_node>(*c));
    name_ = other.name_;
    text_ = other.text_;
    attribute_names_ = other.attribute_names_;
    attribute_values_ = other.attribute_values_;
    children_ = std::move(copies);
    return *this;
}

t_xml_node::~t_xml_node() = default;

t_xml_node& t_xml_node::child(unsigned index) {
    if (index >= children_.size()) throw ex_invalid_child_index();
    return *children_[index];
}

const t_xml_node& t_xml_node::child(unsigned index) const {
    if (index >= children_.size()) throw ex_invalid_child_index();
    return *children_[index];
}

t_xml_node& t_xml_node::last_child() {
    if (children_.empty()) throw ex_invalid_child_index();
    return *children_.back();
}

void t_xml_node::add_child(const t_xml_node& node) { children_.push_back(std::make_unique<t_xml_node>(node)); }

std::string t_xml_node::attribute_name(unsigned index) const {
    if (index >= attribute_names_.size()) throw ex_invalid_attribute_index();
    return attribute_names_[index];
}

std::string t_xml_node::attribute_value(unsigned index) const {
    if (index >= attribute_names_.size()) throw ex_invalid_attribute_index();
    return attribute_values_[index];
}

void t_xml_node::add_attribute(std::string name, std::string value) {
    for (const auto& n : attribute_names_)
        if (n == name) throw ex_attribute_already_exist();
    attribute_names_.push_back(std::move(name));
    attribute_values_.push_back(std::move(value));
}

t_xml_node* t_xml_node::append_new_child(std::string_view name) {
    // Configuration elements hold a handful of children: skip the smallest growth steps.
    if (children_.empty()) children_.reserve(8);
    children_.push_back(std::make_unique<t_xml_node>(std::string(name), std::string()));
    return children_.back().get();
}

void t_xml_node::write_to(std::string& out) const {
    out.push_back('<');
    out.append(name_);
    for (size_t i = 0; i < attribute_names_.size(); ++i) {
        out.push_back(' ');
        out.append(attribute_names_[i]);
        out.append("=\"", 2);
        escape_into(attribute_values_[i], attribute_table, out);
        out.push_back('"');
    }
    out.push_back('>');
    escape_into(text_, text_table, out);
    for (const auto& c : children_) c->write_to(out);
    out.append("</", 2);
    out.append(name_);
    out.push_back('>');
}

std::string t_xml_node::to_xml_string() const {
    std::string out;
    write_to(out);
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// Parser. The character state machine, run over whole runs of characters at a time: in every state the
// only characters that change anything are "<", ">", "/", "!", "?" and the space ending an element name,
// so the characters between them are taken as one slice instead of being appended one by one.

class parser {
public:
    explicit parser(std::string_view text) : s_(text), root_("_EMPTY_", std::string()) {}

    t_xml_node run();

private:
    [[noreturn]] static void bad_format() { throw ex_invalid_xml_format(); }
    size_t find(char c, size_t from) const {
        const void* p = std::memchr(s_.data() + from, c, s_.size() - from);
        return p ? static_cast<size_t>(static_cast<const char*>(p) - s_.data()) : s_.size();
    }
    void open_child(std::string_view name) {
        if (stack_.size() >= max_depth) bad_format();
        t_xml_node* child = current_->append_new_child(name);
        stack_.push_back(current_);
        current_ = child;
    }
    void pop() {
        if (stack_.empty()) bad_format(); // a closing tag with no element open
        current_ = stack_.back();
        stack_.pop_back();
    }
    void add_attributes(std::string_view list);
    // The steps of run(), each given the position after a "<" and answering where the next text starts; the
    // end of the input (or beyond) stops the parse.
    size_t end_tag(size_t i);
    size_t start_tag(size_t i);

    std::string_view s_;
    t_xml_node root_;
    t_xml_node* current_ = &root_;
    std::vector<t_xml_node*> stack_;
};

void parser::add_attributes(std::string_view list) {
    for (;;) {
        size_t p = list.find_first_not_of(' ');
        if (p == std::string_view::npos) return; // only spaces are left (also spaces before ">" or "/>")
        list.remove_prefix(p);
        size_t eq = list.find('=');
        // The value must follow "=" directly, opened by one character and closed by a double quote.
        if (eq == std::string_view::npos || eq + 1 >= list.size()) bad_format();
        std::string_view name = list.substr(0, eq);
        list.remove_prefix(eq + 2);
        size_t close = list.find('"');
        if (close == std::string_view::npos) bad_format();
        std::string value;
        decode_entities_into(list.substr(0, close), value);
        current_->add_attribute(std::string(name), std::move(value));
        list.remove_prefix(close + 1);
    }
}

// "</name>": closes the current element, which must have that name.
size_t parser::end_tag(size_t i) {
    const size_t n = s_.size();
    size_t gt = find('>', i + 1);
    if (gt == n) return n;
    std::string_view name = s_.substr(i + 1, gt - i - 1);
    if (name != current_->name_) bad_format();
    pop();
    return gt + 1;
}

// "<name>", "<name/>" or "<name attributes>": the element name runs up to ">" or the first space.
size_t parser::start_tag(size_t i) {
    const size_t n = s_.size();
    size_t j = i;
    while (j < n && s_[j] != '>' && s_[j] != ' ') ++j;
    if (j == n) return n;
    std::string_view name = s_.substr(i, j - i);
    if (s_[j] == '>') {
        if (!name.empty() && name.back() == '/') { // empty element "<name/>"
            name.remove_suffix(1);
            if (stack_.size() >= max_depth) bad_format();
            current_->append_new_child(name);
        } else {
            open_child(name);
        }
        return j + 1;
    }
    // A space: the element is opened, then its attributes run up to ">".
    open_child(name);
    size_t gt = find('>', j + 1);
    if (gt == n) return n;
    std::string_view list = s_.substr(j + 1, gt - j - 1);
    if (s_[gt - 1] == '/') {
        list.remove_suffix(1);
        add_attributes(list);
        pop();
    } else {
        add_attributes(list);
    }
    return gt + 1;
}

t_xml_node parser::run() {
    const size_t n = s_.size();
    size_t i = 0;
    while (i < n) {
        // Everything up to "<" becomes the current element's text.
        size_t lt = find('<', i);
        if (lt == n) break; // text after the last tag is discarded
        std::string& text = current_->text_;
        text.clear();
        decode_entities_into(s_.substr(i, lt - i), text);
        i = lt + 1;
        if (i >= n) break;
        const char c = s_[i];
        if (c == '!' || c == '?') i = find('>', i + 1) + 1; // markup skipped up to the first ">"
        else if (c == '/') i = end_tag(i);
        else i = start_tag(i);
    }
    // Input that ends with elements still open was cut short: what was read is not the document.
    if (!stack_.empty()) bad_format();
    if (root_.child_count() == 0) throw ex_invalid_child_index();
    return std::move(*root_.children_.front());
}

void t_xml_node::parse_string(std::string_view text) {
    parser p(text);
    *this = p.run();
}

void t_xml_node::load_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ex_invalid_xml_format();
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) throw ex_invalid_xml_format();
    in.seekg(0, std::ios::beg);
    std::string content(static_cast<size_t>(size), '\0');
    if (size > 0 && !in.read(content.data(), size)) throw ex_invalid_xml_format();
    size_t nul = content.find('\0');
    parse_string(std::string_view(content).substr(0, nul));
}

namespace {

// Temporary files are named ".<target name>.tmp.XXXXXX" beside the target (mkstemp's six characters), so
// the rename stays on one file system and a leftover is recognised as ours. Earlier versions used
// "<target name>.tmp.<pid>.<serial>"; leftovers under that name are recognised too.
constexpr std::string_view kTmpInfix = ".tmp.";

bool is_our_temporary(std::string_view entry, std::string_view target) {
    if (entry.size() == 1 + target.size() + kTmpInfix.size() + 6 && entry[0] == '.' &&
        entry.substr(1, target.size()) == target && entry.substr(1 + target.size(), kTmpInfix.size()) == kTmpInfix)
        return true;
    if (entry.size() <= target.size() + kTmpInfix.size() || entry.substr(0, target.size()) != target ||
        entry.substr(target.size(), kTmpInfix.size()) != kTmpInfix)
        return false;
    const std::string_view rest = entry.substr(target.size() + kTmpInfix.size()); // "<pid>.<serial>"
    const size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size()) return false;
    return rest.find_first_not_of("0123456789.") == std::string_view::npos &&
           rest.find('.', dot + 1) == std::string_view::npos;
}

// Removes our temporaries for this target that were left by a save killed midway. Only those untouched
// for over a minute: a younger one may be another process's save under way.
void remove_stale_temporaries(const std::string& dir, std::string_view target) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        if (!is_our_temporary(e->d_name, target)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now - st.st_mtime > 60) ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

// The process's file creation mask, read without changing it (umask() would, for every thread).
mode_t current_umask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

bool write_all(int fd, const std::string& out) {
    for (size_t done = 0; done < out.size();) {
        ssize_t w = ::write(fd, out.data() + done, out.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

} // namespace

bool t_xml_node::save_file(const std::string& path) const {
    std::string out = "<?xml version=\"1.0\"?>";
    write_to(out);

    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return false;
    remove_stale_temporaries(dir, name);

    std::string tmp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." + name +
                      std::string(kTmpInfix) + "XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // mkstemp creates the file for its owner only; a saved file gets the usual mode.
    bool ok = ::fchmod(fd, 0666 & ~current_umask()) == 0;
    ok = ok && write_all(fd, out);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

} // namespace MinXL
