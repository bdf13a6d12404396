#include "console/window/interface_config.h"

#include "console/window/controls.h"
#include "console/window/ids.h"
#include "console/window/subsystems.h"
#include "platform/ui/message_box.h"
#include "util/c_numbers.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace kavro::console {

using namespace ids;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kSections = 10;
// Values each section must hold: mixer, cameras 1..4, robots 1..4, base station.
constexpr unsigned kSectionSizes[kSections] = {7, 10, 10, 10, 10, 7, 7, 7, 7, 8};

constexpr unsigned kDefaultRobotIn = 15000, kDefaultRobotOut = 15010, kDefaultRobotConfig = 82;
constexpr unsigned kDefaultOlsr = 2004;
constexpr unsigned kDefaultMixerPort = 9000;

const std::string& value(const MinXL::t_xml_node& doc, unsigned i, unsigned j) { return doc.child(i).child(j).node_text(); }
void store(MinXL::t_xml_node& doc, unsigned i, unsigned j, const std::string& text) {
    doc.child(i).child(j).node_text() = text;
}
void store(MinXL::t_xml_node& doc, unsigned i, unsigned j, unsigned number) {
    store(doc, i, j, std::to_string(number));
}

Ipv4Address read_address(const MinXL::t_xml_node& doc, unsigned i, unsigned first) {
    Ipv4Address a{};
    for (unsigned b = 0; b < 4; ++b) a[b] = static_cast<std::uint8_t>(interface_number(value(doc, i, first + b)));
    return a;
}
void store_address(MinXL::t_xml_node& doc, unsigned i, unsigned first, const Ipv4Address& a) {
    for (unsigned b = 0; b < 4; ++b) store(doc, i, first + b, a[b]);
}
unsigned read_port(const MinXL::t_xml_node& doc, unsigned i, unsigned j) {
    return static_cast<unsigned>(interface_number(value(doc, i, j)));
}

// Loads one file and accepts it only with the full structure.
bool try_load(const std::string& path, MinXL::t_xml_node& doc) {
    MinXL::t_xml_node candidate{"interface", ""};
    try {
        candidate.load_file(path);
    } catch (const std::exception&) {
        return false;
    }
    if (!has_interface_shape(candidate)) {
        std::cerr << "InterfaceKAVRO: " << path << " lacks values the console reads; not used\n";
        return false;
    }
    doc = std::move(candidate);
    return true;
}

void fill_lists(Controls& c) {
    c.list_clear(kReferenceList);
    for (const char* item : {"BASE", "Robot 1", "Robot 2", "Robot 3", "Robot 4"}) c.list_add(kReferenceList, item);
    c.list_select(kReferenceList, 0);
    c.list_clear(kGpsPortList);
    for (int n = 1; n <= 10; ++n) c.list_add(kGpsPortList, "COM" + std::to_string(n));
    c.list_select(kGpsPortList, 4);  // COM5
}

} // namespace

bool has_interface_shape(const MinXL::t_xml_node& root) {
    if (root.child_count() < kSections) return false;
    for (unsigned i = 0; i < kSections; ++i)
        if (root.child(i).child_count() < kSectionSizes[i]) return false;
    return true;
}

int interface_number(const std::string& text) {
    // The C conversion ("C" locale) stops at the first character that is not part of the number and reads 0
    // from no number; the 32-bit result keeps the low bits as the conversion to int would.
    const long long v = strtoll_l(text.c_str(), nullptr, 10, kavro::c_locale());
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<unsigned long long>(v)));
}

namespace {

// Loads the pending file or else its fallback into the document and retires the pending file: applied, it
// becomes the fallback; unusable, it is set aside. With neither usable, load and save are turned off.
void open_interface_files(InterfaceConfig& config) {
    const std::string pending = config.configs_dir + kInterfaceFile;
    const std::string old = config.configs_dir + kInterfaceOldFile;
    std::error_code ec;
    const bool pending_exists = fs::exists(pending, ec);

    bool from_pending = try_load(pending, config.doc);
    bool loaded = from_pending || try_load(old, config.doc);
    if (!loaded) {
        ui::message_box("No interface configuration file !\n(\"interface.xml\" or\"interface_old.xml\")\n"
                        "Load and save will be disabled.",
                        "Information", ui::MB_OK);
        config.load_save = false;
    }
    if (!config.load_save) return;
    if (from_pending) {
        fs::rename(pending, old, ec);  // a failure leaves interface.xml, which the exit overwrites
    } else if (pending_exists) {
        // An unusable pending file must not replace the good fallback: keep it aside for inspection.
        fs::rename(pending, pending + kInterfaceBadSuffix, ec);
    }
}

// The mixer block: the web check box (unchecked greys the mixer's address and port), address and ports.
void fill_mixer(Controls& c, const MinXL::t_xml_node* doc) {
    if (!doc) {
        c.set_checked(kWebCheck, false);
        c.set_address(kMixerAddress, Ipv4Address{127, 0, 0, 1});
        c.set_number(kMixerPortEdit, kDefaultMixerPort);
        c.set_text(kWebPortEdit, "");
        return;
    }
    const bool web = value(*doc, 0, 0) != "1";
    c.set_checked(kWebCheck, web);
    if (!web) {
        c.set_enabled(kMixerAddress, false);
        c.set_enabled(kMixerPortEdit, false);
    }
    c.set_address(kMixerAddress, read_address(*doc, 0, 1));
    c.set_number(kMixerPortEdit, read_port(*doc, 0, 5));
    c.set_number(kWebPortEdit, read_port(*doc, 0, 6));
    fill_lists(c);
}

// Camera m (1..4): outputs (greyed for an MJPEG camera), address, port and the kind radios.
void fill_camera(Controls& c, const MinXL::t_xml_node* doc, int m) {
    if (!doc) {
        c.set_address(camera_address(m), Ipv4Address{});
        c.set_number(camera_port(m), 0);
        c.set_checked(camera_zoom_kind(m), true);
        c.set_checked(camera_mjpeg_kind(m), false);
        c.set_checked(camera_mpeg4_kind(m), false);
        return;
    }
    const unsigned s = static_cast<unsigned>(m);
    for (int n = 1; n <= 4; ++n)
        c.set_checked(camera_output(m, n), value(*doc, s, 4 + static_cast<unsigned>(n)) == "1");
    const int kind = interface_number(value(*doc, s, 9));
    if (kind == camera_mjpeg_kind(m))
        for (int n = 1; n <= 4; ++n) c.set_enabled(camera_output(m, n), false);
    c.set_address(camera_address(m), read_address(*doc, s, 0));
    c.set_number(camera_port(m), read_port(*doc, s, 4));
    for (int radio : {camera_zoom_kind(m), camera_mjpeg_kind(m), camera_mpeg4_kind(m)})
        c.set_checked(radio, radio == kind);
}

// Robots 1..4 and the base station: address and ports, the shipped defaults without a document.
void fill_robots_and_base(Controls& c, const MinXL::t_xml_node* doc) {
    for (int k = 1; k <= 4; ++k) {
        const unsigned s = 4 + static_cast<unsigned>(k);
        c.set_address(robot_address(k), doc ? read_address(*doc, s, 0) : Ipv4Address{});
        c.set_number(robot_in_edit(k), doc ? read_port(*doc, s, 4) : kDefaultRobotIn);
        c.set_number(robot_out_edit(k), doc ? read_port(*doc, s, 5) : kDefaultRobotOut);
        c.set_number(robot_config_edit(k), doc ? read_port(*doc, s, 6) : kDefaultRobotConfig);
    }
    c.set_address(kBaseAddress, doc ? read_address(*doc, 9, 0) : Ipv4Address{});
    c.set_number(kBaseInEdit, doc ? read_port(*doc, 9, 4) : kDefaultRobotIn);
    c.set_number(kBaseOutEdit, doc ? read_port(*doc, 9, 5) : kDefaultRobotOut);
    c.set_number(kBaseConfigEdit, doc ? read_port(*doc, 9, 6) : kDefaultRobotConfig);
    c.set_number(kBaseOlsrEdit, doc ? read_port(*doc, 9, 7) : kDefaultOlsr);
}

} // namespace

void load_interface_config(InterfaceConfig& config, Controls& c, Pages& pages) {
    open_interface_files(config);
    // Without a usable file every control gets its default.
    const MinXL::t_xml_node* doc = config.load_save ? &config.doc : nullptr;
    fill_mixer(c, doc);
    pages.refresh_config_list();
    for (int m = 1; m <= 4; ++m) fill_camera(c, doc, m);
    fill_robots_and_base(c, doc);
}

bool save_interface_config(InterfaceConfig& config, const Controls& c) {
    if (!config.load_save) return false;
    MinXL::t_xml_node& doc = config.doc;

    store(doc, 0, 0, "1");
    store_address(doc, 0, 1, c.address(kMixerAddress));
    store(doc, 0, 5, c.number(kMixerPortEdit));
    store(doc, 0, 6, c.number(kWebPortEdit));

    for (int m = 1; m <= 4; ++m) {
        const unsigned s = static_cast<unsigned>(m);
        int kind = camera_zoom_kind(m);
        if (c.checked(camera_mjpeg_kind(m)))
            kind = camera_mjpeg_kind(m);
        else if (c.checked(camera_mpeg4_kind(m)))
            kind = camera_mpeg4_kind(m);
        store(doc, s, 9, static_cast<unsigned>(kind));
        store_address(doc, s, 0, c.address(camera_address(m)));
        store(doc, s, 4, c.number(camera_port(m)));
        for (int n = 1; n <= 4; ++n)
            store(doc, s, 4 + static_cast<unsigned>(n), c.checked(camera_output(m, n)) ? "1" : "0");
    }

    for (int k = 1; k <= 4; ++k) {
        const unsigned s = 4 + static_cast<unsigned>(k);
        store_address(doc, s, 0, c.address(robot_address(k)));
        store(doc, s, 4, c.number(robot_in_edit(k)));
        store(doc, s, 5, c.number(robot_out_edit(k)));
        store(doc, s, 6, c.number(robot_config_edit(k)));
    }

    store_address(doc, 9, 0, c.address(kBaseAddress));
    store(doc, 9, 4, c.number(kBaseInEdit));
    store(doc, 9, 5, c.number(kBaseOutEdit));
    store(doc, 9, 6, c.number(kBaseConfigEdit));
    store(doc, 9, 7, c.number(kBaseOlsrEdit));

    const bool written = doc.save_file(config.configs_dir + kInterfaceFile);
    if (!written) std::cerr << "InterfaceKAVRO: could not write " << config.configs_dir << kInterfaceFile << "\n";
    return written;
}

} // namespace kavro::console
