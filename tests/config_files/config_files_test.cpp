#include "config_files/config_files.h"
#include "platform/ui/message_box.h"
#include "tests/support/message_boxes.h"
#include "tests/support/sensor_stub.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace kavro;
using MinXL::t_xml_node;
namespace fs = std::filesystem;

namespace {

struct TempConfigs {
    kavro::test::TempDir temp{"kavro-config"};
    const fs::path dir = temp.path();
    kavro::test::MessageBoxes boxes;
    std::vector<std::string> messages() const { return boxes.seen(); }
    std::string path() const { return dir.string() + "/"; }
    void write(const std::string& name, const std::string& content) const {
        std::ofstream(dir / name, std::ios::binary) << content;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool exists(const std::string& name) const { return fs::exists(dir / name); }
};

std::string group_xml(const std::string& tag, int c) {
    std::string g = "<" + tag + ">";
    for (int s = 0; s < 4; ++s) {
        g += "<f>" + std::string(s % 2 ? "1" : "0") + "</f>";
        g += "<a>" + std::to_string(c * 100 + s * 10 + 1) + "</a>";
        g += "<b>" + std::to_string(-(c * 100 + s * 10 + 2)) + "</b>";
    }
    return g + "</" + tag + ">";
}

std::string sensor_xml(const std::string& tag, const std::string& name, const std::string& alpha,
                       const std::string& general, const std::string& mode) {
    std::string s = "<" + tag + "><name>" + name + "</name><alpha>" + alpha + "</alpha><g>" + general +
                    "</g><m>" + mode + "</m>";
    for (int c = 1; c <= 5; ++c) s += group_xml("channel", c);
    return s + "</" + tag + ">";
}

// A mixer file whose element names all start with prefix; stream k has left = k / 100 and the given alpha.
std::string mixer_xml(const std::string& prefix = "s", const std::string& alpha = "0.5",
                      const std::string& overlay_alpha = "0.75", const std::string& mode = "1") {
    std::string x = "<?xml version=\"1.0\"?>\n<" + prefix + "root>\n<" + prefix + "p0/><" + prefix + "p1/>";
    for (int k = 1; k <= 11; ++k) {
        std::string n = prefix + "stream";
        x += "<" + n + "><l>0." + (k < 10 ? "0" : "") + std::to_string(k) + "</l><t>0.1</t><r>0.9</r><b>1</b><a>" +
             alpha + "</a></" + n + ">";
    }
    x += sensor_xml(prefix + "sensor", "Capteur video", overlay_alpha, "1", mode);
    return x + "</" + prefix + "root>";
}

std::string console_xml(int first_z = 3) {
    std::string x = "<root><p0/><p1/>";
    for (int p = 0; p < 8; ++p)
        x += "<pane><l>0.5</l><t>0</t><r>1</r><b>0.5</b><a>" + std::string(p < 4 ? "1" : "0") + "</a><z>" +
             std::to_string(first_z + p) + "</z></pane>";
    x += sensor_xml("sensor", "Capteur", "0.25", "0", "1");
    return x + "</root>";
}

// A sensor filter that keeps one record per index, like the real one.
struct FakeSensor final : kavro::test::SensorStub {
    std::map<int, ConsoleSensorChannelRecord> records;
    int failing_index = 0;
    HRESULT SetConfig(int i, const SensorChannelRecord* r) override {
        records[i].settings = *r;
        return S_OK;
    }
    HRESULT GetConfig(int i, ConsoleSensorChannelRecord* r) override {
        if (i == failing_index) return E_FAIL;
        *r = records[i];
        return S_OK;
    }
};

} // namespace

TEST(ConfigValues, RealsIntegersAndFlags) {
    EXPECT_FLOAT_EQ(read_real("0.5"), 0.5f);
    EXPECT_FLOAT_EQ(read_real("1"), 1.0f);
    EXPECT_FLOAT_EQ(read_real(" 0.25xyz"), 0.25f);
    EXPECT_EQ(read_real("abc"), 0.0f);
    EXPECT_EQ(read_real(""), 0.0f);
    EXPECT_EQ(read_integer("-42"), -42);
    EXPECT_EQ(read_integer("twelve"), 0);
    EXPECT_TRUE(read_flag("1"));
    EXPECT_FALSE(read_flag("true"));
    EXPECT_FALSE(read_flag("yes"));
    EXPECT_FALSE(read_flag(" 1"));
    EXPECT_EQ(format_real(1.0f / 3.0f), "0.333333");
    EXPECT_EQ(format_real(0.5f), "0.5");
    EXPECT_EQ(format_real(1.0f), "1");
    // An alpha written as 0.1 is above 0.1 once widened to double; 0.09 is not.
    EXPECT_GT(static_cast<double>(read_real("0.1")), 0.1);
    EXPECT_LT(static_cast<double>(read_real("0.09")), 0.1);
}

TEST(MixerConfig, PendingFileWinsAndIsRetired) {
    TempConfigs cfg;
    cfg.write("kavro.xml", mixer_xml("s", "0.5"));
    cfg.write("kavro_old.xml", mixer_xml("s", "0.2"));
    t_xml_node doc("_EMPTY_", "");
    MixerLayout layout;
    ASSERT_EQ(read_mixer_config(doc, layout, cfg.path()), S_OK);
    EXPECT_FLOAT_EQ(layout.alpha[0], 0.5f);
    EXPECT_FLOAT_EQ(layout.left[0], 0.01f);
    EXPECT_FLOAT_EQ(layout.left[10], 0.11f);
    EXPECT_FLOAT_EQ(layout.bottom[10], 1.0f);
    EXPECT_STREQ(layout.sensor_name, "Capteur video");
    EXPECT_FLOAT_EQ(layout.overlay_alpha, 0.75f);
    EXPECT_FALSE(cfg.exists("kavro.xml"));
    EXPECT_EQ(cfg.read("kavro_old.xml"), mixer_xml("s", "0.5"));
    EXPECT_EQ(doc.node_name(), "sroot");
    EXPECT_TRUE(cfg.messages().empty());
}

TEST(MixerConfig, FallbackAloneStaysInPlace) {
    TempConfigs cfg;
    cfg.write("kavro_old.xml", mixer_xml("s", "0.2"));
    t_xml_node doc("_EMPTY_", "");
    MixerLayout layout;
    ASSERT_EQ(read_mixer_config(doc, layout, cfg.path()), S_OK);
    EXPECT_FLOAT_EQ(layout.alpha[5], 0.2f);
    EXPECT_TRUE(cfg.exists("kavro_old.xml"));
    EXPECT_FALSE(cfg.exists("kavro.xml"));
}

TEST(MixerConfig, ElementNamesDoNotMatter) {
    TempConfigs cfg;
    t_xml_node a("_EMPTY_", ""), b("_EMPTY_", "");
    MixerLayout la, lb;
    cfg.write("kavro.xml", mixer_xml("first_"));
    ASSERT_EQ(read_mixer_config(a, la, cfg.path()), S_OK);
    cfg.write("kavro.xml", mixer_xml("other_names_"));
    ASSERT_EQ(read_mixer_config(b, lb, cfg.path()), S_OK);
    EXPECT_EQ(std::memcmp(&la, &lb, sizeof la), 0);
}

TEST(MixerConfig, NothingUsableShowsTheMessageAndKeepsState) {
    TempConfigs cfg;
    t_xml_node doc("kept", "");
    MixerLayout layout;
    layout.alpha[3] = 0.9f;
    EXPECT_LT(read_mixer_config(doc, layout, cfg.path()), 0);
    ASSERT_EQ(cfg.messages().size(), 1u);
    EXPECT_EQ(cfg.messages()[0], "Error: No configuration file !");
    EXPECT_EQ(doc.node_name(), "kept");
    EXPECT_FLOAT_EQ(layout.alpha[3], 0.9f);

    // A fallback with fewer elements than the layout fails the same way, and is not renamed.
    cfg.write("kavro_old.xml", "<root><a/><b/><s/></root>");
    EXPECT_LT(read_mixer_config(doc, layout, cfg.path()), 0);
    EXPECT_TRUE(cfg.exists("kavro_old.xml"));
    EXPECT_FLOAT_EQ(layout.alpha[3], 0.9f);
}

TEST(MixerConfig, UnusablePendingFileIsSetAsideAndFallbackUsed) {
    TempConfigs cfg;
    cfg.write("kavro_old.xml", mixer_xml("s", "0.2"));
    for (std::string bad : {std::string("<root><unclosed></root>"), std::string("<root><a/></root>")}) {
        cfg.write("kavro.xml", bad);
        t_xml_node doc("_EMPTY_", "");
        MixerLayout layout;
        ASSERT_EQ(read_mixer_config(doc, layout, cfg.path()), S_OK);
        EXPECT_FLOAT_EQ(layout.alpha[0], 0.2f);
        // Neither over the fallback nor left for the watcher to find again.
        EXPECT_FALSE(cfg.exists("kavro.xml"));
        EXPECT_EQ(cfg.read("kavro.xml.bad"), bad);
        EXPECT_EQ(cfg.read("kavro_old.xml"), mixer_xml("s", "0.2"));
    }
}

TEST(MixerConfig, PendingFileTheProgramsCannotUseIsSetAside) {
    // Positions that the reader itself never takes but the graph build's channel setup and the writer do:
    // a sensor block with only a name and an alpha, and one whose last channel group is short.
    std::string short_group = mixer_xml("s", "0.5");
    short_group.replace(short_group.rfind("<a>521</a>"), std::string("<a>521</a>").size(), "");
    const std::string name_and_alpha = "<root><a/><b/>" +
                                       [] {
                                           std::string x;
                                           for (int k = 0; k < 11; ++k) x += "<s><l>0</l><t>0</t><r>1</r><b>1</b><a>1</a></s>";
                                           return x;
                                       }() +
                                       "<sensor><name>Capteur</name><alpha>0.5</alpha></sensor></root>";
    for (const std::string& bad : {name_and_alpha, short_group}) {
        TempConfigs cfg;
        cfg.write("kavro_old.xml", mixer_xml("s", "0.2"));
        cfg.write("kavro.xml", bad);
        t_xml_node doc("_EMPTY_", "");
        MixerLayout layout;
        ASSERT_EQ(read_mixer_config(doc, layout, cfg.path()), S_OK);
        EXPECT_FLOAT_EQ(layout.alpha[0], 0.2f);
        EXPECT_EQ(cfg.read("kavro.xml.bad"), bad);
        EXPECT_EQ(cfg.read("kavro_old.xml"), mixer_xml("s", "0.2"));
        // What was accepted can be set up and written back.
        SensorChannelRecord r{};
        for (int c = 1; c <= 5; ++c) EXPECT_NO_THROW(apply_channel_group(doc.child(kMixerSensorBlock), c, r));
        EXPECT_TRUE(write_mixer_config(doc, layout, nullptr, cfg.path()));
    }
    // The console's reader checks its own layout the same way.
    TempConfigs cfg;
    std::string console = console_xml();
    cfg.write("kavro_old.xml", console);
    const std::size_t block = console.find("<sensor>");
    cfg.write("kavro.xml", console.substr(0, block) + "<sensor><name>C</name><alpha>1</alpha></sensor></root>");
    t_xml_node doc("_EMPTY_", "");
    ConsoleLayout layout;
    ASSERT_EQ(read_console_config(doc, layout, cfg.path()), S_OK);
    EXPECT_FLOAT_EQ(layout.overlay_alpha, 0.25f);
    EXPECT_TRUE(cfg.exists("kavro.xml.bad"));
}

TEST(MixerConfig, PendingFileThatCannotBeRetiredIsNeverLeftInPlaceAsSuccess) {
    // The fallback cannot be replaced (a folder stands in its place): the pending file goes aside and the
    // read fails like one with no usable file, instead of succeeding with the file still pending.
    {
        TempConfigs cfg;
        fs::create_directories(cfg.dir / "kavro_old.xml" / "inside");
        cfg.write("kavro.xml", mixer_xml("s", "0.5"));
        t_xml_node doc("kept", "");
        MixerLayout layout;
        EXPECT_LT(read_mixer_config(doc, layout, cfg.path()), 0);
        EXPECT_FALSE(cfg.exists("kavro.xml"));
        EXPECT_EQ(cfg.read("kavro.xml.bad"), mixer_xml("s", "0.5"));
        EXPECT_EQ(doc.node_name(), "kept");
    }
    // A read-only configs folder, as an unprivileged user: nothing can be moved, so the read fails and
    // keeps failing the same way (the watcher ends instead of applying the file every 100 ms).
    TempConfigs cfg;
    cfg.write("kavro.xml", mixer_xml("s", "0.5"));
    cfg.write("kavro_old.xml", mixer_xml("s", "0.2"));
    fs::permissions(cfg.dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(90);
        int failures = 0;
        for (int round = 0; round < 2; ++round) {
            t_xml_node doc("kept", "");
            MixerLayout layout;
            layout.alpha[0] = 0.9f;
            if (SUCCEEDED(read_mixer_config(doc, layout, cfg.path()))) failures |= 1;
            if (doc.node_name() != "kept" || layout.alpha[0] != 0.9f) failures |= 2;
            if (!cfg.exists("kavro.xml")) failures |= 4;
        }
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(cfg.dir, fs::perms::owner_all, fs::perm_options::add);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported success, 2: state changed, 4: file gone, 90: setuid";
    EXPECT_EQ(cfg.read("kavro_old.xml"), mixer_xml("s", "0.2"));
}

TEST(MixerConfig, LongSensorNameIsCut) {
    TempConfigs cfg;
    std::string xml = mixer_xml();
    std::string longname(250, 'N');
    xml.replace(xml.find("Capteur video"), std::strlen("Capteur video"), longname);
    cfg.write("kavro.xml", xml);
    t_xml_node doc("_EMPTY_", "");
    MixerLayout layout;
    ASSERT_EQ(read_mixer_config(doc, layout, cfg.path()), S_OK);
    EXPECT_EQ(std::strlen(layout.sensor_name), 199u);
}

TEST(MixerConfig, ChannelGroupsMapToTheRecordBytes) {
    t_xml_node doc("_EMPTY_", "");
    doc.parse_string(mixer_xml("s", "1", "1", "1"));
    SensorChannelRecord r;
    std::memset(&r, 0xAB, sizeof r);
    apply_channel_group(doc.child(kMixerSensorBlock), 2, r);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    EXPECT_EQ(bytes[0], 1);               // general_on
    for (int off : {3, 4, 7, 8}) EXPECT_EQ(bytes[off], 1) << off; // mode_on copies
    EXPECT_EQ(bytes[5], 0);               // setting1_on
    EXPECT_EQ(bytes[1], 1);               // setting2_on
    EXPECT_EQ(bytes[2], 0);               // setting3_on
    EXPECT_EQ(bytes[6], 1);               // setting4_on
    EXPECT_EQ(bytes[9], 0xAB);            // untouched
    std::int32_t words[13];
    std::memcpy(words, &r, sizeof words);
    EXPECT_EQ(words[7], 201);  // setting1_a at 28
    EXPECT_EQ(words[8], -202); // setting1_b at 32
    EXPECT_EQ(words[3], 211);  // setting2_a at 12
    EXPECT_EQ(words[6], -222); // setting3_b at 24
    EXPECT_EQ(words[10], -232); // setting4_b at 40
    EXPECT_EQ(static_cast<std::uint32_t>(words[11]), 0xABABABABu); // status port kept

    // "true" and "yes" are off.
    t_xml_node other("_EMPTY_", "");
    other.parse_string(mixer_xml("s", "1", "1", "true"));
    apply_channel_group(other.child(kMixerSensorBlock), 1, r);
    EXPECT_EQ(r.mode_on_1 + r.mode_on_2 + r.mode_on_3 + r.mode_on_4, 0);
}

TEST(MixerConfig, WriteOnCloseStoresLiveStateAndChannels) {
    TempConfigs cfg;
    cfg.write("kavro.xml", mixer_xml());
    t_xml_node doc("_EMPTY_", "");
    MixerLayout layout;
    ASSERT_EQ(read_mixer_config(doc, layout, cfg.path()), S_OK);
    layout.left[4] = 0.125f;
    layout.alpha[10] = 1.0f / 3.0f;
    layout.overlay_alpha = 0.1f;

    FakeSensor sensor;
    for (int c = 1; c <= 5; ++c) {
        SensorChannelRecord r{};
        r.general_on = 1;
        r.mode_on_3 = 0;
        r.setting3_on = 1;
        r.setting3_b = 1000 + c;
        sensor.SetConfig(c, &r);
    }
    sensor.failing_index = 4; // a channel the filter cannot give keeps its stored values
    ASSERT_TRUE(write_mixer_config(doc, layout, &sensor, cfg.path()));

    std::string saved = cfg.read("kavro_old.xml");
    EXPECT_EQ(saved.find('\n', std::strlen("<?xml version=\"1.0\"?>")), std::string::npos) << "one line";
    t_xml_node back("_EMPTY_", "");
    back.load_file((cfg.dir / "kavro_old.xml").string());
    EXPECT_EQ(back.child(2 + 4).child(0).node_text(), "0.125");
    EXPECT_EQ(back.child(2 + 10).child(4).node_text(), "0.333333");
    const t_xml_node& s = back.child(kMixerSensorBlock);
    EXPECT_EQ(s.child(0).node_text(), "Capteur video"); // the name is written back unchanged
    EXPECT_EQ(s.child(1).node_text(), "0.1");
    EXPECT_EQ(s.child(2).node_text(), "1");
    EXPECT_EQ(s.child(3).node_text(), "0");
    EXPECT_EQ(s.child(3 + 1).child(8).node_text(), "1001");
    EXPECT_EQ(s.child(3 + 4).child(8).node_text(), std::to_string(-(4 * 100 + 2 * 10 + 2)));
    EXPECT_EQ(s.child(3 + 5).child(6).node_text(), "1");
    // Stream entries are not touched by the channel groups.
    EXPECT_EQ(back.child(2 + 1).child_count(), 5u);
    EXPECT_EQ(back.child(2 + 1).child(0).node_text(), "0.02");

    // The overlay alpha written as 0.1 switches the overlay off when compared in single precision.
    MixerLayout again;
    ASSERT_EQ(read_mixer_config(doc, again, cfg.path()), S_OK);
    EXPECT_FALSE(again.overlay_alpha > 0.1f);
}

TEST(MixerConfig, WriteIntoAShortDocumentSavesNothing) {
    TempConfigs cfg;
    t_xml_node doc("_EMPTY_", "");
    doc.parse_string("<root><a/><b/><c/></root>");
    MixerLayout layout;
    EXPECT_FALSE(write_mixer_config(doc, layout, nullptr, cfg.path()));
    EXPECT_FALSE(cfg.exists("kavro_old.xml"));
    EXPECT_EQ(doc.child_count(), 3u);
}

TEST(ConsoleConfig, ReadsPanesLayersAndOverlay) {
    TempConfigs cfg;
    cfg.write("kavro.xml", console_xml(3));
    t_xml_node doc("_EMPTY_", "");
    ConsoleLayout layout;
    ASSERT_EQ(read_console_config(doc, layout, cfg.path()), S_OK);
    EXPECT_FLOAT_EQ(layout.panes[0].left, 0.5f);
    EXPECT_FLOAT_EQ(layout.panes[3].alpha, 1.0f);
    EXPECT_FLOAT_EQ(layout.panes[4].alpha, 0.0f);
    EXPECT_EQ(layout.panes[7].z, 10);
    EXPECT_FLOAT_EQ(layout.overlay_alpha, 0.25f);
    EXPECT_STREQ(layout.sensor_name, "Capteur");
    EXPECT_FALSE(cfg.exists("kavro.xml"));
    EXPECT_TRUE(cfg.exists("kavro_old.xml"));

    TempConfigs none;
    t_xml_node doc2("_EMPTY_", "");
    EXPECT_LT(read_console_config(doc2, layout, none.path()), 0);
    ASSERT_EQ(none.messages().size(), 1u);
    EXPECT_EQ(none.messages()[0], "Error: No KAVRO configuration file !\n(\"kavro.xml\" or\"kavro_old.xml\")");
}

TEST(ConsoleConfig, SaveUnderANameAndRefuseUnsafeNames) {
    TempConfigs cfg;
    cfg.write("kavro.xml", console_xml());
    t_xml_node doc("_EMPTY_", "");
    ConsoleLayout layout;
    ASSERT_EQ(read_console_config(doc, layout, cfg.path()), S_OK);
    layout.panes[2].z = 9;
    layout.panes[6].alpha = 0.5f;
    layout.overlay_alpha = 0.6f;
    FakeSensor sensor;
    SensorChannelRecord r{};
    r.setting4_on = 1;
    r.setting4_a = 77;
    for (int c = 1; c <= 5; ++c) sensor.SetConfig(c, &r);

    ASSERT_TRUE(write_console_config(doc, layout, &sensor, "preset1.xml", cfg.path()));
    t_xml_node back("_EMPTY_", "");
    back.load_file((cfg.dir / "preset1.xml").string());
    EXPECT_EQ(back.child(2 + 2).child(5).node_text(), "9");
    EXPECT_EQ(back.child(2 + 6).child(4).node_text(), "0.5");
    EXPECT_EQ(back.child(kConsoleSensorBlock).child(1).node_text(), "0.6");
    EXPECT_EQ(back.child(kConsoleSensorBlock).child(3 + 5).child(9).node_text(), "1");
    EXPECT_EQ(back.child(kConsoleSensorBlock).child(3 + 5).child(10).node_text(), "77");

    for (std::string bad : {std::string("../escape.xml"), std::string("sub/x.xml"), std::string(""),
                            std::string(".."), std::string(90, 'n')})
        EXPECT_FALSE(write_console_config(doc, layout, &sensor, bad, cfg.path())) << bad;
    EXPECT_FALSE(fs::exists(cfg.dir.parent_path() / "escape.xml"));
    EXPECT_TRUE(write_console_config(doc, layout, &sensor, std::string(89, 'n'), cfg.path()));
}
