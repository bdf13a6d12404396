// MinXL: the small XML document library behind every configuration file of KAVRO.
//
// A document is a tree of t_xml_node held in memory. The parser is a character state machine that never
// trims whitespace and reads only what the programs' own files contain (elements, attributes in double
// quotes, five named entities and three character references); the writer produces one line with no
// indentation. Both programs depend on these exact rules, so stored files keep loading the same way.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace MinXL {

struct ex_invalid_key : std::exception {
    const char* what() const noexcept override { return "Invalid key string"; }
};
struct ex_attribute_already_exist : std::exception {
    const char* what() const noexcept override { return "Attribute already exist"; }
};
struct ex_invalid_attribute_index : std::exception {
    const char* what() const noexcept override { return "Invalid attribute index"; }
};
struct ex_invalid_child_index : std::exception {
    const char* what() const noexcept override { return "Invalid child index"; }
};
struct ex_invalid_xml_format : std::exception {
    const char* what() const noexcept override { return "Invalid XML format"; }
};

// Deepest element nesting the parser accepts. Configuration documents are three or four levels deep;
// the bound keeps the recursive copy, writer and destructor within any thread's stack.
inline constexpr unsigned max_depth = 1000;

// A valid element name is non-empty and holds neither "/" nor ":".
bool is_valid_key(std::string_view name) noexcept;

std::string escape_text(std::string_view text);
std::string escape_attribute(std::string_view value);
// Replaces &amp; &quot; &lt; &gt; &#x9; &#xA; &#xD; by their characters and drops every other entity.
// An "&" with no ";" after it is kept as it stands, together with the rest of the text.
std::string decode_entities(std::string_view text);
// Same, appending to out (the parser's fast path).
void decode_entities_into(std::string_view text, std::string& out);

class t_xml_node {
public:
    t_xml_node(std::string name, std::string text);
    t_xml_node(const t_xml_node& other);
    t_xml_node(t_xml_node&& other) noexcept = default;
    t_xml_node& operator=(const t_xml_node& other);
    t_xml_node& operator=(t_xml_node&& other) noexcept = default;
    virtual ~t_xml_node();

    const std::string& node_name() const { return name_; }
    std::string& node_text() { return text_; }
    const std::string& node_text() const { return text_; }

    unsigned child_count() const { return static_cast<unsigned>(children_.size()); }
    t_xml_node& child(unsigned index);
    const t_xml_node& child(unsigned index) const;
    t_xml_node& last_child();
    void add_child(const t_xml_node& node);

    unsigned attribute_count() const { return static_cast<unsigned>(attribute_names_.size()); }
    std::string attribute_name(unsigned index) const;
    std::string attribute_value(unsigned index) const;
    void add_attribute(std::string name, std::string value);

    std::string to_xml_string() const;
    // Parses a whole document and takes its first top-level element. A text that ends before that element is
    // closed (a file cut short) raises ex_invalid_xml_format. On any exception this node is unchanged.
    void parse_string(std::string_view text);
    // Reads the whole file (up to its first NUL byte) and parses it. A file that cannot be opened or read
    // raises ex_invalid_xml_format and leaves this node unchanged.
    void load_file(const std::string& path);
    // Writes the declaration and the document on one line. The file is written under a unique temporary name
    // beside the target (".<name>.tmp.XXXXXX", removed again on every failure) and renamed over it, so a
    // failed or killed write keeps the previous file whole. Temporaries of this target left by a killed save
    // and untouched for over a minute are removed first. Returns whether the file was replaced.
    bool save_file(const std::string& path) const;

private:
    friend class parser;
    void write_to(std::string& out) const;
    t_xml_node* append_new_child(std::string_view name);

    std::string name_;
    std::string text_;
    std::vector<std::string> attribute_names_;
    std::vector<std::string> attribute_values_;
    std::vector<std::unique_ptr<t_xml_node>> children_;
};

} // namespace MinXL
