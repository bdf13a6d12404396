#include "console/window/ids.h"
#include "console/window/interface_config.h"
#include "console/window/subsystems.h"
#include "tests/console/window/fake_controls.h"
#include "platform/ui/message_box.h"
#include "tests/support/message_boxes.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kavro::console {
namespace {

using namespace ids;
using test::FakeControls;
namespace fs = std::filesystem;

std::string read_text(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CountingPages : public Pages {
public:
    int refreshes = 0;
    void refresh_config_list() override { ++refreshes; }
};

// A settings document with distinct values everywhere, so a misplaced value shows.
std::string settings(const std::string& web, const std::string& cam2_kind = "1706") {
    std::string x = "<s><m><f>" + web + "</f><a>10</a><b>1</b><c>2</c><d>3</d><p>9100</p><w>8088</w></m>";
    for (int m = 1; m <= 4; ++m) {
        x += "<c>";
        for (int b = 0; b < 4; ++b) x += "<a>" + std::to_string(20 + 10 * m + b) + "</a>";
        x += "<p>" + std::to_string(5000 + m) + "</p>";
        for (int n = 1; n <= 4; ++n) x += std::string("<o>") + ((m + n) % 2 ? "1" : "0") + "</o>";
        const std::string kind = m == 2 ? cam2_kind : std::to_string(camera_prefix(m) + (m == 3 ? 7 : 5));
        x += "<k>" + kind + "</k></c>";
    }
    for (int k = 1; k <= 4; ++k) {
        x += "<r>";
        for (int b = 0; b < 4; ++b) x += "<a>" + std::to_string(100 + 10 * k + b) + "</a>";
        x += "<i>" + std::to_string(16000 + k) + "</i><o>" + std::to_string(17000 + k) + "</o><c>" +
             std::to_string(80 + k) + "</c></r>";
    }
    x += "<b><a>192</a><b>168</b><c>1</c><d>200</d><i>15001</i><o>15011</o><c>83</c><l>2005</l></b></s>";
    return x;
}

class InterfaceConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_.configs_dir = dir_.string() + "/";
    }
    void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
    void load() { load_interface_config(config_, controls_, pages_); }

    kavro::test::TempDir temp_{"kavro-console"};
    const fs::path dir_ = temp_.path();
    InterfaceConfig config_;
    FakeControls controls_;
    CountingPages pages_;
    kavro::test::MessageBoxes boxes_;
};

TEST_F(InterfaceConfigTest, FillsEveryControlFromItsPosition) {
    write("interface.xml", settings("0"));
    load();
    EXPECT_TRUE(config_.load_save);
    EXPECT_TRUE(boxes_.seen().empty());
    EXPECT_EQ(pages_.refreshes, 1);
    auto& c = controls_;
    EXPECT_TRUE(c.checked(kWebCheck));  // any text but "1"
    EXPECT_TRUE(c.enabled(kMixerAddress));
    EXPECT_EQ(c.address(kMixerAddress), (Ipv4Address{10, 1, 2, 3}));
    EXPECT_EQ(c.number(kMixerPortEdit), 9100u);
    EXPECT_EQ(c.number(kWebPortEdit), 8088u);
    EXPECT_EQ(c.at(kReferenceList).items, (std::vector<std::string>{"BASE", "Robot 1", "Robot 2", "Robot 3", "Robot 4"}));
    EXPECT_EQ(c.text(kReferenceList), "BASE");
    ASSERT_EQ(c.at(kGpsPortList).items.size(), 10u);
    EXPECT_EQ(c.at(kGpsPortList).items[9], "COM10");
    EXPECT_EQ(c.text(kGpsPortList), "COM5");

    EXPECT_EQ(c.address(camera_address(3)), (Ipv4Address{50, 51, 52, 53}));
    EXPECT_EQ(c.number(camera_port(4)), 5004u);
    EXPECT_TRUE(c.checked(camera_output(1, 2)));
    EXPECT_FALSE(c.checked(camera_output(1, 1)));
    // Camera 2 is MJPEG: its outputs are disabled; the others stay enabled.
    EXPECT_TRUE(c.checked(camera_mjpeg_kind(2)));
    EXPECT_FALSE(c.checked(camera_zoom_kind(2)));
    for (int n = 1; n <= 4; ++n) {
        EXPECT_FALSE(c.enabled(camera_output(2, n)));
        EXPECT_TRUE(c.enabled(camera_output(1, n)));
    }
    EXPECT_TRUE(c.checked(camera_mpeg4_kind(3)));
    EXPECT_TRUE(c.checked(camera_zoom_kind(4)));

    EXPECT_EQ(c.address(robot_address(2)), (Ipv4Address{120, 121, 122, 123}));
    EXPECT_EQ(c.number(robot_in_edit(3)), 16003u);
    EXPECT_EQ(c.number(robot_out_edit(4)), 17004u);
    EXPECT_EQ(c.number(robot_config_edit(1)), 81u);
    EXPECT_EQ(c.address(kBaseAddress), (Ipv4Address{192, 168, 1, 200}));
    EXPECT_EQ(c.number(kBaseInEdit), 15001u);
    EXPECT_EQ(c.number(kBaseOutEdit), 15011u);
    EXPECT_EQ(c.number(kBaseConfigEdit), 83u);
    EXPECT_EQ(c.number(kBaseOlsrEdit), 2005u);
}

TEST_F(InterfaceConfigTest, LocalMixerFlagUnchecksWebAndDisablesTheMixerFields) {
    write("interface.xml", settings("1"));
    load();
    EXPECT_FALSE(controls_.checked(kWebCheck));
    EXPECT_FALSE(controls_.enabled(kMixerAddress));
    EXPECT_FALSE(controls_.enabled(kMixerPortEdit));
}

TEST_F(InterfaceConfigTest, RoundTripKeepsNamesAndStoresTheControls) {
    write("interface.xml", settings("0"));
    load();
    EXPECT_FALSE(fs::exists(dir_ / "interface.xml"));
    EXPECT_EQ(read_text(dir_ / "interface_old.xml"), settings("0"));

    // The operator changes a few fields during the run.
    controls_.set_address(robot_address(1), Ipv4Address{10, 0, 0, 7});
    controls_.set_number(kBaseOlsrEdit, 698);
    controls_.set_checked(camera_mjpeg_kind(2), false);
    controls_.set_checked(camera_mpeg4_kind(2), true);
    controls_.set_checked(camera_output(4, 4), true);
    controls_.set_text(kWebPortEdit, "");
    ASSERT_TRUE(save_interface_config(config_, controls_));

    InterfaceConfig again;
    again.configs_dir = config_.configs_dir;
    FakeControls fresh;
    load_interface_config(again, fresh, pages_);
    EXPECT_FALSE(fresh.checked(kWebCheck));  // "Web" is always saved as the local mixer
    EXPECT_EQ(fresh.address(robot_address(1)), (Ipv4Address{10, 0, 0, 7}));
    EXPECT_EQ(fresh.number(kBaseOlsrEdit), 698u);
    EXPECT_TRUE(fresh.checked(camera_mpeg4_kind(2)));
    EXPECT_FALSE(fresh.checked(camera_mjpeg_kind(2)));
    EXPECT_TRUE(fresh.checked(camera_output(4, 4)));
    EXPECT_EQ(fresh.number(kWebPortEdit), 0u);
    EXPECT_EQ(fresh.address(camera_address(1)), (Ipv4Address{30, 31, 32, 33}));
    // Element names survive the save.
    const std::string saved = read_text(dir_ / "interface_old.xml");
    EXPECT_NE(saved.find("<r><a>10</a><a>0</a><a>0</a><a>7</a><i>16001</i>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<k>1707</k>"), std::string::npos);
}

TEST_F(InterfaceConfigTest, OnlyTheFallbackIsLoadedAndNothingIsMoved) {
    write("interface_old.xml", settings("1"));
    load();
    EXPECT_TRUE(config_.load_save);
    EXPECT_EQ(controls_.address(kBaseAddress), (Ipv4Address{192, 168, 1, 200}));
    EXPECT_TRUE(fs::exists(dir_ / "interface_old.xml"));
    EXPECT_FALSE(fs::exists(dir_ / "interface.xml"));
    controls_.set_number(robot_in_edit(2), 4242);
    ASSERT_TRUE(save_interface_config(config_, controls_));
    EXPECT_NE(read_text(dir_ / "interface.xml").find("<i>4242</i>"), std::string::npos);
    EXPECT_EQ(read_text(dir_ / "interface_old.xml"), settings("1"));
}

TEST_F(InterfaceConfigTest, BothFilesPendingReplacesTheFallback) {
    write("interface.xml", settings("0", "1705"));
    write("interface_old.xml", settings("1"));
    load();
    EXPECT_TRUE(controls_.checked(kWebCheck));
    EXPECT_TRUE(controls_.checked(camera_zoom_kind(2)));
    EXPECT_FALSE(fs::exists(dir_ / "interface.xml"));
    EXPECT_EQ(read_text(dir_ / "interface_old.xml"), settings("0", "1705"));
}

TEST_F(InterfaceConfigTest, UnusablePendingFileIsSetAsideAndTheFallbackKept) {
    for (const std::string& broken : {std::string("<s><m>not closed"), std::string("<s><m><f>1</f></m></s>")}) {
        write("interface.xml", broken);
        write("interface_old.xml", settings("1"));
        InterfaceConfig config;
        config.configs_dir = config_.configs_dir;
        FakeControls c;
        load_interface_config(config, c, pages_);
        EXPECT_TRUE(config.load_save);
        EXPECT_EQ(c.number(kBaseOlsrEdit), 2005u);
        EXPECT_EQ(read_text(dir_ / "interface_old.xml"), settings("1"));
        EXPECT_EQ(read_text(dir_ / "interface.xml.bad"), broken);
        EXPECT_FALSE(fs::exists(dir_ / "interface.xml"));
    }
    EXPECT_TRUE(boxes_.seen().empty());
}

TEST_F(InterfaceConfigTest, NoUsableFileGivesDefaultsAMessageAndNoSave) {
    write("interface_old.xml", "<s><m/></s>");  // structurally short
    load();
    EXPECT_FALSE(config_.load_save);
    ASSERT_EQ(boxes_.seen().size(), 1u);
    EXPECT_EQ(boxes_.seen()[0], "Information: No interface configuration file !\n(\"interface.xml\" or\"interface_old.xml\")\n"
                            "Load and save will be disabled.");
    auto& c = controls_;
    EXPECT_FALSE(c.checked(kWebCheck));
    EXPECT_TRUE(c.enabled(kMixerAddress));
    EXPECT_EQ(c.address(kMixerAddress), (Ipv4Address{127, 0, 0, 1}));
    EXPECT_EQ(c.number(kMixerPortEdit), 9000u);
    EXPECT_EQ(c.text(kWebPortEdit), "");
    EXPECT_TRUE(c.at(kReferenceList).items.empty());
    EXPECT_TRUE(c.at(kGpsPortList).items.empty());
    for (int m = 1; m <= 4; ++m) {
        EXPECT_TRUE(c.checked(camera_zoom_kind(m)));
        EXPECT_EQ(c.number(camera_port(m)), 0u);
    }
    EXPECT_EQ(c.number(robot_in_edit(1)), 15000u);
    EXPECT_EQ(c.number(robot_out_edit(1)), 15010u);
    EXPECT_EQ(c.number(robot_config_edit(1)), 82u);
    EXPECT_EQ(c.number(kBaseOlsrEdit), 2004u);
    EXPECT_EQ(pages_.refreshes, 1);

    c.set_number(robot_in_edit(1), 1);
    EXPECT_FALSE(save_interface_config(config_, c));
    EXPECT_FALSE(fs::exists(dir_ / "interface.xml"));
    EXPECT_EQ(read_text(dir_ / "interface_old.xml"), "<s><m/></s>");
}

TEST_F(InterfaceConfigTest, UnknownKindLeavesNoRadioCheckedAndSavesZoom) {
    write("interface.xml", settings("1", "1234"));
    load();
    EXPECT_FALSE(controls_.checked(camera_zoom_kind(2)));
    EXPECT_FALSE(controls_.checked(camera_mjpeg_kind(2)));
    EXPECT_FALSE(controls_.checked(camera_mpeg4_kind(2)));
    ASSERT_TRUE(save_interface_config(config_, controls_));
    EXPECT_NE(read_text(dir_ / "interface.xml").find("<k>1705</k>"), std::string::npos);
}

TEST(InterfaceNumber, ReadsDecimalAfterBlanksAndKeepsLowBitsForBytes) {
    EXPECT_EQ(interface_number("  42"), 42);
    EXPECT_EQ(interface_number("42abc"), 42);
    EXPECT_EQ(interface_number("abc"), 0);
    EXPECT_EQ(interface_number(""), 0);
    EXPECT_EQ(interface_number("-1"), -1);
    EXPECT_EQ(static_cast<std::uint8_t>(interface_number("300")), 44);
    EXPECT_EQ(interface_number("99999999999999999999999"), interface_number("9223372036854775807"));
}

TEST(InterfaceShape, ShippedDefaultHasEveryPosition) {
    MinXL::t_xml_node doc{"x", ""};
    doc.load_file(std::string(KAVRO_SOURCE_DIR) + "/configs/interface.xml");
    EXPECT_TRUE(has_interface_shape(doc));
    EXPECT_EQ(doc.child(0).child(0).node_text(), "1");
    EXPECT_EQ(doc.child(2).child(9).node_text(), "1705");
    EXPECT_EQ(doc.child(9).child(7).node_text(), "2004");
}

} // namespace
} // namespace kavro::console
