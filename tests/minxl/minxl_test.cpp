#include "minxl/minxl.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

using namespace MinXL;
namespace fs = std::filesystem;

namespace {

t_xml_node parse(std::string_view text) {
    t_xml_node n("_EMPTY_", "");
    n.parse_string(text);
    return n;
}

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

using kavro::test::TempDir;

} // namespace

TEST(MinXLNode, KeyRuleOnConstruction) {
    EXPECT_THROW(t_xml_node("", ""), ex_invalid_key);
    EXPECT_THROW(t_xml_node("a:b", ""), ex_invalid_key);
    EXPECT_THROW(t_xml_node("a/b", ""), ex_invalid_key);
    EXPECT_NO_THROW(t_xml_node("with space\tand tab", ""));
    EXPECT_STREQ(ex_invalid_key().what(), "Invalid key string");
    EXPECT_STREQ(ex_attribute_already_exist().what(), "Attribute already exist");
    EXPECT_STREQ(ex_invalid_attribute_index().what(), "Invalid attribute index");
    EXPECT_STREQ(ex_invalid_child_index().what(), "Invalid child index");
    EXPECT_STREQ(ex_invalid_xml_format().what(), "Invalid XML format");
}

TEST(MinXLNode, IndexChecksAndAttributes) {
    t_xml_node n("root", "");
    EXPECT_THROW(n.child(0), ex_invalid_child_index);
    EXPECT_THROW(n.last_child(), ex_invalid_child_index);
    n.add_child(t_xml_node("a", "1"));
    n.add_child(t_xml_node("b", "2"));
    EXPECT_EQ(n.child_count(), 2u);
    EXPECT_EQ(n.last_child().node_name(), "b");
    EXPECT_THROW(n.child(2), ex_invalid_child_index);

    n.add_attribute("x", "1");
    n.add_attribute("", "attribute names skip the key rule");
    EXPECT_THROW(n.add_attribute("x", "2"), ex_attribute_already_exist);
    EXPECT_EQ(n.attribute_count(), 2u);
    EXPECT_EQ(n.attribute_value(0), "1");
    EXPECT_THROW(n.attribute_value(2), ex_invalid_attribute_index);
    EXPECT_THROW(n.attribute_name(2), ex_invalid_attribute_index);
}

TEST(MinXLNode, CopiesAreDeepAndAssignmentReplacesChildren) {
    t_xml_node a("a", "t");
    a.add_child(t_xml_node("c1", "x"));
    t_xml_node b(a);
    b.child(0).node_text() = "changed";
    EXPECT_EQ(a.child(0).node_text(), "x");

    t_xml_node c("c", "");
    c.add_child(t_xml_node("old1", ""));
    c.add_child(t_xml_node("old2", ""));
    c = a;
    EXPECT_EQ(c.node_name(), "a");
    ASSERT_EQ(c.child_count(), 1u);
    EXPECT_EQ(c.child(0).node_name(), "c1");
    c = c; // self-assignment keeps everything
    EXPECT_EQ(c.child_count(), 1u);

    // Assigning a node from its own subtree must not read freed children.
    t_xml_node d("d", "");
    t_xml_node inner("inner", "");
    inner.add_child(t_xml_node("leaf", "L"));
    d.add_child(inner);
    d = d.child(0);
    EXPECT_EQ(d.node_name(), "inner");
    ASSERT_EQ(d.child_count(), 1u);
    EXPECT_EQ(d.child(0).node_text(), "L");
}

TEST(MinXLParser, WhitespaceIsNeverTrimmed) {
    auto n = parse("<?xml version=\"1.0\"?>\n<root>\n  <a>1</a>\n</root>");
    EXPECT_EQ(n.node_name(), "root");
    EXPECT_EQ(n.node_text(), "\n");
    ASSERT_EQ(n.child_count(), 1u);
    EXPECT_EQ(n.child(0).node_text(), "1");

    // A tab or line break after a name belongs to the name.
    auto m = parse("<r><a\t>x</a\t></r>");
    EXPECT_EQ(m.child(0).node_name(), "a\t");
}

TEST(MinXLParser, SelfClosingElementWithAttributes) {
    auto n = parse("<r><e first=\"one\" second=\"&lt;5&gt;\"/></r>");
    ASSERT_EQ(n.child_count(), 1u);
    const t_xml_node& e = n.child(0);
    ASSERT_EQ(e.attribute_count(), 2u);
    EXPECT_EQ(e.attribute_name(0), "first");
    EXPECT_EQ(e.attribute_value(0), "one");
    EXPECT_EQ(e.attribute_name(1), "second");
    EXPECT_EQ(e.attribute_value(1), "<5>");
    EXPECT_EQ(e.child_count(), 0u);

    auto s = parse("<r><a/><b></b>after</r>");
    EXPECT_EQ(s.child_count(), 2u);
    EXPECT_EQ(s.node_text(), "after");
}

TEST(MinXLParser, ErrorsRaiseTheirTypes) {
    EXPECT_THROW(parse("<a><b></a>"), ex_invalid_xml_format);
    EXPECT_THROW(parse(""), ex_invalid_child_index);
    EXPECT_THROW(parse("<?xml version=\"1.0\"?><!-- only a comment -->"), ex_invalid_child_index);
    EXPECT_THROW(parse("just text"), ex_invalid_child_index);
    EXPECT_THROW(parse("<a x=\"1\" x=\"2\"></a>"), ex_attribute_already_exist);
    EXPECT_THROW(parse("<ns:a></ns:a>"), ex_invalid_key);
    EXPECT_THROW(parse("<>"), ex_invalid_key);
    EXPECT_THROW(parse("< a>"), ex_invalid_key);
}

TEST(MinXLParser, FailedParseLeavesTheNodeUnchanged) {
    t_xml_node n("keep", "text");
    n.add_child(t_xml_node("child", ""));
    EXPECT_THROW(n.parse_string("<a><b></c></a>"), ex_invalid_xml_format);
    EXPECT_EQ(n.node_name(), "keep");
    EXPECT_EQ(n.node_text(), "text");
    EXPECT_EQ(n.child_count(), 1u);
}

TEST(MinXLParser, MalformedInputIsRefusedWithoutReadingPastTheText) {
    // Closing tags with no element open.
    EXPECT_THROW(parse("</_EMPTY_>"), ex_invalid_xml_format);
    EXPECT_THROW(parse("<a></a></_EMPTY_>"), ex_invalid_xml_format);
    // Attribute lists that end early.
    EXPECT_THROW(parse("<a x></a>"), ex_invalid_xml_format);
    EXPECT_THROW(parse("<a x=></a>"), ex_invalid_xml_format);
    EXPECT_THROW(parse("<a x=\"1></a>"), ex_invalid_xml_format);
    // Spaces before ">" and "/>" are ignored.
    auto n = parse("<r><e x=\"1\" /><f y=\"2\"  >t</f></r>");
    EXPECT_EQ(n.child(0).attribute_value(0), "1");
    EXPECT_EQ(n.child(1).attribute_value(0), "2");
    EXPECT_EQ(n.child(1).node_text(), "t");
    // An "&" with no ";" keeps the rest of the text as it stands.
    EXPECT_EQ(parse("<a>fish &amp chips</a>").node_text(), "fish &amp chips");
    // Nesting beyond the bound is refused instead of exhausting the stack.
    std::string deep;
    for (unsigned i = 0; i <= max_depth; ++i) deep += "<d>";
    EXPECT_THROW(parse(deep), ex_invalid_xml_format);
}

TEST(MinXLParser, EntitiesAndTruncatedDocuments) {
    EXPECT_EQ(parse("<a>x&apos;y&#65;z&#xA;&#x9;&quot;</a>").node_text(), "xyz\n\t\"");
    EXPECT_EQ(decode_entities("&amp;&lt;&gt;&#xD;&unknown;"), "&<>\r");

    // A second top-level element is ignored.
    auto two = parse("<first>1</first><second>2</second>");
    EXPECT_EQ(two.node_name(), "first");
    EXPECT_EQ(two.child_count(), 0u);

    // A document cut anywhere before its last closing tag is refused, never taken as what was read:
    // a file cut short by a crash or a full disk must not pass for a smaller one.
    const std::string whole = "<?xml version=\"1.0\"?><r><a k=\"v\"><b>1</b><c/></a>tail</r>";
    const std::size_t end = whole.rfind("</r>") + 4;
    for (std::size_t cut = 0; cut < end; ++cut) {
        t_xml_node n("keep", "");
        EXPECT_ANY_THROW(n.parse_string(whole.substr(0, cut))) << cut << ": " << whole.substr(0, cut);
        EXPECT_EQ(n.node_name(), "keep");
    }
    EXPECT_EQ(parse(whole).child(0).child_count(), 2u);
    // What follows the closed document element does not matter, even when it is cut.
    EXPECT_EQ(parse(whole + "<!-- x").node_name(), "r");
    EXPECT_EQ(parse(whole + "<second").node_name(), "r");
}

TEST(MinXLWriter, EscapesAndOneLineForm) {
    t_xml_node n("r", "a&b<c>d\"e\tf\r");
    n.add_attribute("q", "\"<&>\t\n\r");
    n.add_child(t_xml_node("empty", ""));
    EXPECT_EQ(n.to_xml_string(),
              "<r q=\"&quot;&lt;&amp;&gt;&#x9;&#xA;&#xD;\">a&amp;b&lt;c&gt;d\"e\tf&#xD;<empty></empty></r>");
    EXPECT_EQ(escape_text("\"\t\n"), "\"\t\n");
}

TEST(MinXLFile, SaveLoadRoundTripAndFailures) {
    TempDir dir;
    t_xml_node doc("config", ""); // the text of an element with children comes back as the run after them
    doc.add_attribute("version", "1 \"quoted\" <x>");
    t_xml_node stream("stream", "");
    stream.add_child(t_xml_node("left", "0.25"));
    stream.add_child(t_xml_node("name", "Caméras & co\t"));
    doc.add_child(stream);
    doc.add_child(t_xml_node("empty", ""));

    fs::path file = dir.path() / "doc.xml";
    ASSERT_TRUE(doc.save_file(file.string()));
    std::string raw = read_all(file);
    EXPECT_EQ(raw.rfind("<?xml version=\"1.0\"?><config version=", 0), 0u);
    EXPECT_EQ(raw.find('\n'), std::string::npos);

    t_xml_node back("_EMPTY_", "");
    back.load_file(file.string());
    EXPECT_EQ(back.to_xml_string(), doc.to_xml_string());
    EXPECT_EQ(back.child(0).child(1).node_text(), "Caméras & co\t");

    // Only the target is left behind: the temporary file was renamed over it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // A NUL byte ends the document.
    fs::path nul = dir.path() / "nul.xml";
    {
        std::ofstream out(nul, std::ios::binary);
        out << "<a>1</a>";
        out.put('\0');
        out << "<<<garbage";
    }
    back.load_file(nul.string());
    EXPECT_EQ(back.node_text(), "1");

    // A missing file raises and leaves the node alone.
    EXPECT_THROW(back.load_file((dir.path() / "missing.xml").string()), ex_invalid_xml_format);
    EXPECT_EQ(back.node_name(), "a");

    // A save into a folder that does not exist reports the failure.
    EXPECT_FALSE(doc.save_file((dir.path() / "no-such-dir" / "x.xml").string()));
    // The rename over a non-empty folder fails: save reports it and leaves no temporary file behind.
    fs::path target = dir.path() / "occupied";
    fs::create_directories(target / "inside");
    EXPECT_FALSE(doc.save_file(target.string()));
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
}

namespace {

// A document of about 200 KB, so that a save takes long enough to be killed midway.
t_xml_node big_document(const std::string& fill) {
    t_xml_node doc("config", "");
    for (int i = 0; i < 2000; ++i) doc.add_child(t_xml_node("v", fill + std::to_string(i)));
    return doc;
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

void make_old(const fs::path& p) {
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    fs::last_write_time(p, old);
}

} // namespace

TEST(MinXLFile, LeftoverTemporariesNeverBlockASaveAndStaleOnesAreCleared) {
    TempDir dir;
    const fs::path file = dir.path() / "doc.xml";
    t_xml_node doc("r", "1");
    // Leftovers of a killed save by a process with this very PID, under the former name scheme, and under
    // the present one; a stranger's file and a fresh temporary (a save under way elsewhere) beside them.
    std::vector<std::string> stale;
    for (int serial = 0; serial < 8; ++serial)
        stale.push_back("doc.xml.tmp." + std::to_string(::getpid()) + "." + std::to_string(serial));
    stale.push_back(".doc.xml.tmp.AbC123");
    for (const auto& n : stale) {
        std::ofstream(dir.path() / n) << "<r>half";
        make_old(dir.path() / n);
    }
    std::ofstream(dir.path() / ".doc.xml.tmp.fresh1") << "<r>under way";
    std::ofstream(dir.path() / "other.xml.tmp.1.0") << "not ours";
    make_old(dir.path() / "other.xml.tmp.1.0");

    for (int i = 0; i < 3; ++i) ASSERT_TRUE(doc.save_file(file.string())) << i;
    EXPECT_EQ(read_all(file), "<?xml version=\"1.0\"?><r>1</r>");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{".doc.xml.tmp.fresh1", "doc.xml", "other.xml.tmp.1.0"}));

    // The saved file has the usual permissions (0666 less the umask), not those of a private temporary.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(doc.save_file(file.string()));
    ::umask(mask);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST(MinXLFile, SavesKilledMidwayNeverLeaveATornFile) {
    TempDir dir;
    const fs::path file = dir.path() / "doc.xml";
    const t_xml_node a = big_document("a"), b = big_document("bb");
    ASSERT_TRUE(a.save_file(file.string()));
    const std::string text_a = read_all(file);
    ASSERT_TRUE(b.save_file(file.string()));
    const std::string text_b = read_all(file);
    for (int trial = 0; trial < 30; ++trial) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) (i % 2 ? a : b).save_file(file.string());
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300 + 1777 * trial % 15000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::string now = read_all(file);
        ASSERT_TRUE(now == text_a || now == text_b) << "trial " << trial << ": " << now.size() << " bytes";
    }
    // The killed saves' temporaries are ours: once stale, the next save clears them.
    for (const auto& n : names_in(dir.path()))
        if (n != "doc.xml") make_old(dir.path() / n);
    ASSERT_TRUE(a.save_file(file.string()));
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"doc.xml"});
}
