#include "config_files/config_files.h"

#include "platform/ui/message_box.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <system_error>

namespace kavro {

namespace fs = std::filesystem;
using MinXL::t_xml_node;

float read_real(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    float v = 0;
    in >> v;
    return v; // a failed extraction leaves 0, an out-of-range one the largest value
}

std::int32_t read_integer(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    std::int32_t v = 0;
    in >> v;
    return v;
}

std::string format_real(float value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

bool is_plain_file_name(std::string_view name, std::size_t max_length) {
    if (name.empty() || name.size() > max_length || name == "." || name == "..") return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0') return false;
    return true;
}

namespace {

void copy_name(const std::string& text, char (&out)[kSensorNameSize]) {
    std::size_t n = std::min(text.size(), kSensorNameSize - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::uint8_t flag_byte(const t_xml_node& n) { return read_flag(n.node_text()) ? 1 : 0; }
const char* flag_text(std::uint8_t b) { return b ? "1" : "0"; }

// Moves an unusable pending file out of the way: it must neither replace the fallback nor be found again by
// the watcher. The ".bad" name is no "*.xml", so it never shows up among the presets either. Returns false
// when the file is still in place (a read-only folder).
bool set_aside(const fs::path& pending, const char* why) {
    std::error_code ec;
    if (!fs::exists(pending, ec)) return !ec;
    fs::path bad = pending;
    bad += ".bad";
    fs::rename(pending, bad, ec);
    if (!ec) {
        std::fprintf(stderr, "config: %s %s; kept as %s\n", pending.c_str(), why, bad.c_str());
        return true;
    }
    std::fprintf(stderr, "config: %s %s and cannot be moved aside: %s\n", pending.c_str(), why,
                 ec.message().c_str());
    if (fs::remove(pending, ec)) {
        std::fprintf(stderr, "config: %s removed\n", pending.c_str());
        return true;
    }
    return false;
}

// Reads every position of the sensor block that the graph build's channel setup and the writer use, so
// that a file accepted here can be used all the way; throws MinXL::ex_invalid_child_index when one is missing.
void check_sensor_block(const t_xml_node& block) {
    SensorChannelRecord scratch{};
    for (int c = 1; c <= kSensorChannels; ++c) apply_channel_group(block, c, scratch);
}

// The steps both programs share: pending file, then fallback, then the message. extract() copies the values
// of a loaded document into a scratch layout and throws when the document is too short for it.
// A pending file is never left in place after a successful read: it is applied and retired to the fallback
// name, or set aside (unusable, or the retiring failed and the fallback is used instead). When it can be
// neither retired nor set aside the read fails, so that the watcher does not apply it again and again.
template <class Layout, class Extract>
HRESULT read_config(t_xml_node& doc, Layout& layout, const std::string& dir, const char* message,
                    Extract extract) {
    const fs::path pending = fs::path(dir) / "kavro.xml";
    const fs::path fallback = fs::path(dir) / "kavro_old.xml";

    auto try_file = [&](const fs::path& path, t_xml_node& loaded, Layout& values) {
        try {
            loaded.load_file(path.string());
            extract(static_cast<const t_xml_node&>(loaded), values);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    };

    t_xml_node loaded("_EMPTY_", "");
    Layout values = layout;
    if (try_file(pending, loaded, values)) {
        std::error_code ec;
        fs::rename(pending, fallback, ec);
        if (!ec) {
            doc = std::move(loaded);
            layout = values;
            return S_OK;
        }
        std::fprintf(stderr, "config: cannot rename %s to %s: %s\n", pending.c_str(), fallback.c_str(),
                     ec.message().c_str());
        if (!set_aside(pending, "could not be retired")) return E_FAIL;
    } else {
        std::error_code ec;
        const bool there = fs::exists(pending, ec);
        if (there && !set_aside(pending, "could not be used")) return E_FAIL;
    }
    loaded = t_xml_node("_EMPTY_", "");
    values = layout;
    if (!try_file(fallback, loaded, values)) {
        ui::message_box(message, "Error", ui::MB_OK);
        return E_FAIL;
    }
    doc = std::move(loaded);
    layout = values;
    return S_OK;
}

// Reads the sensor channels from the filter and stores them in the sensor block.
void store_sensor_channels(t_xml_node& block, ICapteurControl* sensor) {
    if (!sensor) return;
    for (int c = 1; c <= kSensorChannels; ++c) {
        ConsoleSensorChannelRecord rec{};
        if (FAILED(sensor->GetConfig(c, &rec))) continue;
        store_channel_group(block, c, rec.settings);
    }
}

} // namespace

void apply_channel_group(const t_xml_node& block, int channel, SensorChannelRecord& r) {
    const t_xml_node& g = block.child(static_cast<unsigned>(3 + channel));
    // Read everything first so that a short group leaves the record untouched.
    std::uint8_t general = flag_byte(block.child(2));
    std::uint8_t mode = flag_byte(block.child(3));
    std::uint8_t on1 = flag_byte(g.child(0)), on2 = flag_byte(g.child(3)), on3 = flag_byte(g.child(6)),
                 on4 = flag_byte(g.child(9));
    std::int32_t v[12];
    for (unsigned i : {1u, 2u, 4u, 5u, 7u, 8u, 10u, 11u}) v[i] = read_integer(g.child(i).node_text());

    r.general_on = general;
    r.mode_on_1 = r.mode_on_2 = r.mode_on_3 = r.mode_on_4 = mode;
    r.setting1_on = on1;
    r.setting1_a = v[1];
    r.setting1_b = v[2];
    r.setting2_on = on2;
    r.setting2_a = v[4];
    r.setting2_b = v[5];
    r.setting3_on = on3;
    r.setting3_a = v[7];
    r.setting3_b = v[8];
    r.setting4_on = on4;
    r.setting4_a = v[10];
    r.setting4_b = v[11];
}

void store_channel_group(t_xml_node& block, int channel, const SensorChannelRecord& r) {
    t_xml_node& g = block.child(static_cast<unsigned>(3 + channel));
    block.child(2).node_text() = flag_text(r.general_on);
    block.child(3).node_text() = flag_text(r.mode_on_3);
    g.child(0).node_text() = flag_text(r.setting1_on);
    g.child(1).node_text() = std::to_string(r.setting1_a);
    g.child(2).node_text() = std::to_string(r.setting1_b);
    g.child(3).node_text() = flag_text(r.setting2_on);
    g.child(4).node_text() = std::to_string(r.setting2_a);
    g.child(5).node_text() = std::to_string(r.setting2_b);
    g.child(6).node_text() = flag_text(r.setting3_on);
    g.child(7).node_text() = std::to_string(r.setting3_a);
    g.child(8).node_text() = std::to_string(r.setting3_b);
    g.child(9).node_text() = flag_text(r.setting4_on);
    g.child(10).node_text() = std::to_string(r.setting4_a);
    g.child(11).node_text() = std::to_string(r.setting4_b);
}

HRESULT read_mixer_config(t_xml_node& doc, MixerLayout& layout, const std::string& configs_dir) {
    return read_config(doc, layout, configs_dir, "No configuration file !",
                       [](const t_xml_node& root, MixerLayout& v) {
                           for (int k = 0; k < kMixerStreams; ++k) {
                               const t_xml_node& e = root.child(kMixerFirstStream + k);
                               v.left[k] = read_real(e.child(0).node_text());
                               v.top[k] = read_real(e.child(1).node_text());
                               v.right[k] = read_real(e.child(2).node_text());
                               v.bottom[k] = read_real(e.child(3).node_text());
                               v.alpha[k] = read_real(e.child(4).node_text());
                           }
                           const t_xml_node& s = root.child(kMixerSensorBlock);
                           check_sensor_block(s);
                           copy_name(s.child(0).node_text(), v.sensor_name);
                           v.overlay_alpha = read_real(s.child(1).node_text());
                       });
}

bool write_mixer_config(t_xml_node& doc, const MixerLayout& layout, ICapteurControl* sensor,
                        const std::string& configs_dir) {
    // Work on a copy: a document too short for the layout is left as it was and nothing is saved.
    t_xml_node out(doc);
    try {
        for (int k = 0; k < kMixerStreams; ++k) {
            t_xml_node& e = out.child(kMixerFirstStream + k);
            e.child(0).node_text() = format_real(layout.left[k]);
            e.child(1).node_text() = format_real(layout.top[k]);
            e.child(2).node_text() = format_real(layout.right[k]);
            e.child(3).node_text() = format_real(layout.bottom[k]);
            e.child(4).node_text() = format_real(layout.alpha[k]);
        }
        t_xml_node& s = out.child(kMixerSensorBlock);
        s.child(1).node_text() = format_real(layout.overlay_alpha);
        store_sensor_channels(s, sensor);
    } catch (const std::exception&) {
        std::fprintf(stderr, "config: the mixer document is too short; configuration not saved\n");
        return false;
    }
    doc = std::move(out);
    bool ok = doc.save_file((fs::path(configs_dir) / "kavro_old.xml").string());
    if (!ok) std::fprintf(stderr, "config: cannot write %skavro_old.xml\n", configs_dir.c_str());
    return ok;
}

HRESULT read_console_config(t_xml_node& doc, ConsoleLayout& layout, const std::string& configs_dir) {
    return read_config(doc, layout, configs_dir,
                       "No KAVRO configuration file !\n(\"kavro.xml\" or\"kavro_old.xml\")",
                       [](const t_xml_node& root, ConsoleLayout& v) {
                           for (int p = 0; p < kConsolePanes; ++p) {
                               const t_xml_node& e = root.child(kConsoleFirstPane + p);
                               CompositePane& pane = v.panes[p];
                               pane.left = read_real(e.child(0).node_text());
                               pane.top = read_real(e.child(1).node_text());
                               pane.right = read_real(e.child(2).node_text());
                               pane.bottom = read_real(e.child(3).node_text());
                               pane.alpha = read_real(e.child(4).node_text());
                               pane.z = read_integer(e.child(5).node_text());
                           }
                           const t_xml_node& s = root.child(kConsoleSensorBlock);
                           check_sensor_block(s);
                           copy_name(s.child(0).node_text(), v.sensor_name);
                           v.overlay_alpha = read_real(s.child(1).node_text());
                       });
}

bool write_console_config(t_xml_node& doc, const ConsoleLayout& layout, ICapteurControl* sensor,
                          std::string_view file_name, const std::string& configs_dir) {
    if (!is_plain_file_name(file_name, kMaxLayoutFileName)) {
        std::fprintf(stderr, "config: refusing to save the layout under \"%.*s\"\n", int(file_name.size()),
                     file_name.data());
        return false;
    }
    t_xml_node out(doc);
    try {
        for (int p = 0; p < kConsolePanes; ++p) {
            t_xml_node& e = out.child(kConsoleFirstPane + p);
            const CompositePane& pane = layout.panes[p];
            e.child(0).node_text() = format_real(pane.left);
            e.child(1).node_text() = format_real(pane.top);
            e.child(2).node_text() = format_real(pane.right);
            e.child(3).node_text() = format_real(pane.bottom);
            e.child(4).node_text() = format_real(pane.alpha);
            e.child(5).node_text() = std::to_string(pane.z);
        }
        t_xml_node& s = out.child(kConsoleSensorBlock);
        s.child(1).node_text() = format_real(layout.overlay_alpha);
        store_sensor_channels(s, sensor);
    } catch (const std::exception&) {
        std::fprintf(stderr, "config: the console document is too short; layout not saved\n");
        return false;
    }
    doc = std::move(out);
    std::string path = (fs::path(configs_dir) / std::string(file_name)).string();
    bool ok = doc.save_file(path);
    if (!ok) std::fprintf(stderr, "config: cannot write %s\n", path.c_str());
    return ok;
}

} // namespace kavro
