#include "console/pages/pages.h"

#include "config_files/config_files.h"
#include "console/pages/mixer_exchange.h"
#include "console/pages/snapshot_image.h"
#include "console/window/ids.h"
#include "console/window/operator_window.h"
#include "filters/mesh/imesh.h"
#include "outside/capteur_control.h"
#include "platform/sys/paths.h"
#include "platform/ui/error_trace.h"
#include "platform/ui/message_box.h"

#include <cstdio>
#include <fstream>
#include <thread>

namespace kavro::console {

using namespace ids;

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Error trace locations of the pending local layout.
constexpr unsigned kTraceLayoutRead = 143;
constexpr unsigned kTraceLayoutGetConfig = 156;
constexpr unsigned kTraceLayoutSetConfig = 172;
constexpr unsigned kTraceLayoutRun = 174;
// The location the snapshot of a mixer view reports a failing image copy with.
constexpr unsigned kTraceSnapshotImage = 1021;

constexpr std::uint16_t kDefaultTopologyPort = 2004;
constexpr std::size_t kMaxReferenceName = 9;

std::string url_of(const Ipv4Address& a, unsigned port) { return "http://" + dotted(a) + ':' + std::to_string(port); }

// The robot number of a selection mask with exactly one robot, else 0.
int single_robot(int mask) {
    switch (mask) {
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    case 8: return 4;
    default: return 0;
    }
}

bool starts_with_ignoring_case(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// Node address table index of a reference-list entry: "Robot 1".."Robot 4" -> 1..4, "BASE" -> 5, else 0.
int reference_index(const std::string& name) {
    if (name == "BASE") return 5;
    if (name.size() == 7 && name.compare(0, 6, "Robot ") == 0 && name[6] >= '1' && name[6] <= '4')
        return name[6] - '0';
    return 0;
}

} // namespace

PagesSubsystem::PagesSubsystem(ConsoleApp& app, std::shared_ptr<std::atomic<int>> new_snapshots,
                               PagesOptions options)
    : app_(app), new_snapshots_(std::move(new_snapshots)), options_(std::move(options)) {}

std::string PagesSubsystem::map_url() const { return "file://" + sys::local_path(options_.map_page).string(); }

std::string PagesSubsystem::home_url() const {
    std::string url = "file://" + sys::local_path(options_.home_page).string();
    if (!app_.controls) return url;
    Controls& c = *app_.controls;
    char separator = '?';
    for (int robot = 1; robot <= 4; ++robot) {
        const Ipv4Address a = c.address(robot_address(robot));
        if (a == Ipv4Address{}) continue;
        url += separator + ("robot" + std::to_string(robot)) + '=' + dotted(a) + ':' +
               std::to_string(c.number(robot_config_edit(robot)));
        separator = '&';
    }
    return url + separator + "editor=" + std::to_string(c.number(kWebPortEdit));
}

void PagesSubsystem::show_home_page() {
    if (app_.controls) app_.controls->web_navigate(kPaneWeb, home_url());
}

Ipv4Address PagesSubsystem::node_address(int index) const {
    const auto it = app_.window.node_addresses.find(index);
    return it == app_.window.node_addresses.end() ? Ipv4Address{} : it->second;
}

void PagesSubsystem::video_failure(unsigned location, HRESULT hr) {
    app_.subsystems.video->release_all();
    ui::error_trace("InterfaceKAVRO", location, hr);
}

void PagesSubsystem::archive_old_snapshots() {
    archive_snapshots(sys::local_path(options_.snapshot_folder), options_.local_time());
}

// Snapshots.

bool PagesSubsystem::snapshot_of_camera(int camera, const std::string& file) {
    Controls& c = *app_.controls;
    VideoPanes& video = *app_.subsystems.video;
    if (c.checked(camera_zoom_kind(camera)))
        video.save_player_picture(CameraKind::zoom, file);
    else if (c.checked(camera_mjpeg_kind(camera)))
        video.save_player_picture(CameraKind::mjpeg, file);
    else if (c.checked(camera_mpeg4_kind(camera)))
        video.save_player_picture(CameraKind::mpeg4, file);
    // The players write on their own threads: the file may come a little later.
    const auto local = sys::local_path(file);
    for (int check = 0; check < options_.snapshot_checks; ++check) {
        if (check > 0) std::this_thread::sleep_for(options_.snapshot_check_pause);
        if (sys::path_exists(local)) return true;
    }
    ui::message_box("Snapshot Failed.", "Error", ui::MB_OK);
    return false;
}

bool PagesSubsystem::snapshot_of_mixer(int view, const std::string& file) {
    std::vector<std::uint8_t> dib;
    const HRESULT hr = app_.subsystems.video->current_image(view, dib);
    if (FAILED(hr)) {
        video_failure(kTraceSnapshotImage, hr);
        return false;
    }
    const auto local = sys::local_path(file);
    std::string why;
    switch (write_snapshot_jpeg(dib, local, &why)) {
    case SnapshotImageResult::written: return true;
    case SnapshotImageResult::not_32_bit:
        std::fprintf(stderr, "InterfaceKAVRO: no snapshot: %s\n", why.c_str());
        return false;
    case SnapshotImageResult::malformed:
    case SnapshotImageResult::write_failed: break;
    }
    std::fprintf(stderr, "InterfaceKAVRO: snapshot %s not written: %s\n", local.string().c_str(), why.c_str());
    ui::message_box("Snapshot Failed.", "Error", ui::MB_OK);
    return false;
}

void PagesSubsystem::take_snapshot() {
    if (!app_.controls) return;
    const int v = app_.window.view.load(relaxed);
    const std::string file =
        options_.snapshot_folder + "snapshot" + std::to_string(app_.window.snapshot_counter + 1) + ".jpg";
    // The folder may be missing on a fresh station; the players and the encoder need it.
    std::error_code ec;
    std::filesystem::create_directories(sys::local_path(options_.snapshot_folder), ec);
    bool ok = false;
    if (v >= kViewCameraFirst && v <= kViewCameraLast) {
        ok = snapshot_of_camera(v - kViewCameraFirst + 1, file);
    } else if (v == kViewRemoteMixer || v == kViewLocalMixer) {
        ok = snapshot_of_mixer(v, file);
    } else {
        ui::message_box("No video to capture.", "Error", ui::MB_OK);
    }
    if (!ok) return;
    ++app_.window.snapshot_counter;
    if (new_snapshots_) new_snapshots_->store(app_.window.snapshot_counter, relaxed);
    navigate_map();
    if (app_.window.view.load(relaxed) != kViewPages)
        show_page_view(app_, *app_.controls, app_.controls->checked(kMapRadio));
}

// Pages in the web pane.

void PagesSubsystem::navigate_map() {
    if (!app_.controls) return;
    if (app_.controls->web_location(kPaneWeb).find("indexMap") == std::string::npos)
        app_.controls->web_navigate(kPaneWeb, map_url());
}

void PagesSubsystem::show_page(const std::string& url) {
    show_page_view(app_, *app_.controls, false);
    app_.controls->web_navigate(kPaneWeb, url);
}

void PagesSubsystem::show_robot_page() {
    if (!app_.controls) return;
    const int mask = app_.drive.selection_mask.load(relaxed);
    if (mask == 0) {
        ui::message_box("Please select a robot to configure.", "Info", ui::MB_OK);
        return;
    }
    const int robot = single_robot(mask);
    if (robot == 0) {
        ui::message_box("Please select only one robot to configure.", "Info", ui::MB_OK);
        return;
    }
    Controls& c = *app_.controls;
    show_page(url_of(c.address(robot_address(robot)), c.number(robot_config_edit(robot))));
}

void PagesSubsystem::show_video_source_page() {
    if (!app_.controls) return;
    Controls& c = *app_.controls;
    const int v = app_.window.view.load(relaxed);
    const unsigned port = c.number(kWebPortEdit);
    if (v == kViewLocalMixer)
        show_page("http://127.0.0.1:" + std::to_string(port) + "/KAVRO/");
    else if (v >= kViewCameraFirst && v <= kViewCameraLast)
        show_page(url_of(c.address(camera_address(v - kViewCameraFirst + 1)), port));
}

// The configuration list.

void PagesSubsystem::refresh_config_list() {
    if (!app_.controls) return;
    Controls& c = *app_.controls;
    const int v = app_.window.view.load(relaxed);
    std::vector<std::string> list;
    if (v == kViewLocalMixer)
        list = local_config_list(sys::local_path(options_.configs_dir));
    else if (v == kViewRemoteMixer)
        list = request_mixer_configs(c.address(kMixerAddress), options_.mixer_port, options_.getconf_wait);
    if (list == shown_) return;
    shown_ = std::move(list);
    c.list_clear(kMixerConfigList);
    for (const std::string& name : shown_) c.list_add(kMixerConfigList, name);
    // The previous layout is the one to offer: the search starts at the second entry and wraps round.
    const std::size_t n = shown_.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = (k + 1) % n;
        if (starts_with_ignoring_case(shown_[i], "kavro_old.xml")) {
            c.list_select(kMixerConfigList, static_cast<int>(i));
            break;
        }
    }
}

void PagesSubsystem::clear_config_list() {
    shown_.clear();
    if (app_.controls) app_.controls->list_clear(kMixerConfigList);
}

void PagesSubsystem::apply_configuration() {
    if (!app_.controls) return;
    Controls& c = *app_.controls;
    const std::string name = c.text(kMixerConfigList).substr(0, kMaxConfigNameLength);
    if (c.checked(kWebCheck)) {
        if (!send_setconf(c.address(kMixerAddress), options_.mixer_port, name, options_.setconf_pause))
            std::fprintf(stderr, "InterfaceKAVRO: \"setconf %s\" was not sent\n", name.c_str());
        return;
    }
    // The name comes from the list of the configs folder, but the list can be edited: only a plain file name of
    // that folder is copied.
    if (!is_plain_file_name(name, kMaxConfigNameLength)) {
        std::fprintf(stderr, "InterfaceKAVRO: configuration \"%s\" is not a file name of the configs folder\n",
                     name.c_str());
        return;
    }
    const auto dir = sys::local_path(options_.configs_dir);
    std::error_code ec;
    if (!sys::copy_file(dir / name, dir / "kavro.xml", false, ec))
        std::fprintf(stderr, "InterfaceKAVRO: configuration %s not applied: %s\n", name.c_str(),
                     ec.message().c_str());
}

void PagesSubsystem::apply_pending_local_layout() {
    const auto dir = sys::local_path(options_.configs_dir);
    if (!std::ifstream(dir / "kavro.xml")) return;
    VideoPanes& video = *app_.subsystems.video;
    MinXL::t_xml_node doc("_EMPTY_", "");
    ConsoleLayout layout;
    HRESULT hr = read_console_config(doc, layout, dir.string() + "/");
    if (FAILED(hr)) return video_failure(kTraceLayoutRead, hr);
    hr = video.take_layout(doc, layout);
    if (FAILED(hr)) return video_failure(kTraceLayoutRun, hr);
    if (ICapteurControl* sensor = video.sensor_filter()) {
        for (int k = 1; k <= kSensorChannels; ++k) {
            ConsoleSensorChannelRecord record{};
            hr = sensor->GetConfig(k, &record);
            if (FAILED(hr)) return video_failure(kTraceLayoutGetConfig, hr);
            try {
                apply_channel_group(doc.child(kConsoleSensorBlock), k, record.settings);
            } catch (const MinXL::ex_invalid_child_index&) {
                // A document without the sensor block keeps the filter's settings.
            }
            hr = sensor->SetConfig(k, &record.settings);
            if (FAILED(hr)) return video_failure(kTraceLayoutSetConfig, hr);
        }
    }
    hr = video.run_composite_graph();
    if (FAILED(hr)) return video_failure(kTraceLayoutRun, hr);
}

// Base station and mesh.

void PagesSubsystem::launch(int number) {
    if (!app_.controls) return;
    Controls& c = *app_.controls;
    const Ipv4Address base = c.address(kBaseAddress);
    if (is_unset(base)) return;
    if (send_launch(base, static_cast<std::uint16_t>(c.number(kBaseInEdit)), number))
        std::printf("launch %d\n", number);
    else
        std::fprintf(stderr, "InterfaceKAVRO: \"launch %d\" was not sent\n", number);
    std::fflush(stdout);
}

void PagesSubsystem::apply_reference_node() {
    if (!app_.controls) return;
    Controls& c = *app_.controls;
    IMesh* mesh = app_.subsystems.video->mesh();
    auto set_server = [mesh](const Ipv4Address& a, unsigned port) {
        if (mesh) mesh->SetServer(a[0], a[1], a[2], a[3], static_cast<std::int32_t>(port));
    };
    const std::string name = c.text(kReferenceList).substr(0, kMaxReferenceName);
    const int index = reference_index(name);
    Ipv4Address& reference = app_.window.reference_address;
    if (c.checked(kWebCheck)) {
        set_server(c.address(kBaseAddress), c.number(kBaseOlsrEdit));
        if (index) reference = node_address(index);
    } else if (c.checked(kVirtualCheck) && name == "BASE") {
        set_server(Ipv4Address{127, 0, 0, 1}, kDefaultTopologyPort);
        reference = app_.own_address;
    } else {
        if (index) reference = node_address(index);
        set_server(reference, kDefaultTopologyPort);
    }
    if (ICapteurControl* sensor = app_.subsystems.video->sensor_filter()) {
        Ipv4Address bytes = reference;
        sensor->LoopbackBytes(&bytes[0], &bytes[1], &bytes[2], &bytes[3]);
    }
}

void PagesSubsystem::name_mesh_nodes() {
    if (!app_.controls) return;
    IMesh* mesh = app_.subsystems.video->mesh();
    if (!mesh) return;
    mesh->SetNodeName(dotted(app_.controls->address(kMixerAddress)).c_str(), "BASE");
    // An unknown own address would take the mixer's name away from it (a name moves to the newest address).
    if (app_.own_address_known) mesh->SetNodeName(dotted(app_.own_address).c_str(), "BASE");
    static const char* const kNames[] = {"R1", "R2", "R3", "R4"};
    for (int k = 1; k <= 4; ++k) mesh->SetNodeName(dotted(node_address(k)).c_str(), kNames[k - 1]);
}

} // namespace kavro::console
