// The operator-window commands that leave the window: snapshots of the current view, the map and the
// configuration web pages in the web pane, the mixer's configuration list and the choice of one, the "launch"
// commands to the base station, and the reference node of the mesh and map views. Everything runs on the
// window thread.
#pragma once

#include "console/window/console_app.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kavro::console {

struct PagesOptions {
    // Folders as the system names them; they lie under this machine's drive C (platform/sys/paths.h).
    std::string snapshot_folder = "C:/Program Files/KAVRO/Map/snapshot/";
    std::string map_page = "C:/Program Files/KAVRO/Map/indexMap.html";
    // The robot maker's home page the web pane opens with: a page shipped beside the map page.
    std::string home_page = "C:/Program Files/KAVRO/Map/home.html";
    std::string configs_dir = "./configs/";
    std::uint16_t mixer_port = 11000;
    std::chrono::milliseconds getconf_wait{150};
    std::chrono::milliseconds setconf_pause{150};
    // The camera players save their file on their own threads: the file is looked for again after each pause.
    std::chrono::milliseconds snapshot_check_pause{100};
    int snapshot_checks = 5;
    // The local time that names the archive folder.
    std::function<std::tm()> local_time = [] {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        return t;
    };
};

class PagesSubsystem : public Pages {
public:
    // `new_snapshots` is the map feed's count of new snapshots, which the map page is told about.
    PagesSubsystem(ConsoleApp& app, std::shared_ptr<std::atomic<int>> new_snapshots, PagesOptions options = {});

    void archive_old_snapshots() override;
    void show_home_page() override;
    void take_snapshot() override;
    void navigate_map() override;
    void show_robot_page() override;
    void show_video_source_page() override;
    void refresh_config_list() override;
    void clear_config_list() override;
    void apply_pending_local_layout() override;
    void apply_configuration() override;
    void launch(int number) override;
    void apply_reference_node() override;
    void name_mesh_nodes() override;

    // The address the map page has in the web pane ("file://" and the page's path on this machine).
    std::string map_url() const;
    // The home page's address: its path on this machine with the window's robot pages ("robotN=address:port",
    // robots without an address left out) and the video source page's port ("editor=port") as its query.
    std::string home_url() const;
    // The list last shown in the configuration list.
    const std::vector<std::string>& shown_configs() const { return shown_; }

private:
    bool snapshot_of_camera(int camera, const std::string& file);
    bool snapshot_of_mixer(int view, const std::string& file);
    void show_page(const std::string& url);
    void video_failure(unsigned location, HRESULT hr);
    Ipv4Address node_address(int index) const;

    ConsoleApp& app_;
    std::shared_ptr<std::atomic<int>> new_snapshots_;
    PagesOptions options_;
    std::vector<std::string> shown_;
};

} // namespace kavro::console
