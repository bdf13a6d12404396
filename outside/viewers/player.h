// The inside of a camera viewer control: plays one camera's MJPEG stream into a window of the window system,
// keeps the last whole picture for snapshots, and sends camera commands over HTTP.
//
// Threads: the stream reader's thread decodes each frame, scales it to the window and presents it; a watcher
// thread shows the "no signal" picture when no frame came for 2 s (the reader tries again every 2 s by
// itself); a command thread sends camera commands one at a time. The caller's calls only change settings
// under a lock and start or stop these threads.
#pragma once

#include "outside/mjpeg/reader.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace viewers {

inline constexpr int kMaxPictureSide = 4096;
inline constexpr auto kSignalLost = std::chrono::seconds(2);

struct PlayerSettings {
    std::string name;                 // for logs and the "no signal" picture, e.g. "MJPEG"
    std::string stream_path;          // the HTTP path of the stream
    std::string control_path = "/cgi-bin/camctrl";
    std::string user, password;
    bool stretch = true;
};

// Decodes `jpeg` (at most kMaxPictureSide on each side) and scales it into `out` (width x height, 0xFFRRGGBB,
// rows top first): filling it, or keeping the proportions with black around. False when it does not decode.
bool draw_jpeg(std::span<const std::uint8_t> jpeg, int width, int height, bool stretch, std::vector<std::uint32_t>& out);

class CameraPlayer {
public:
    explicit CameraPlayer(PlayerSettings settings);
    ~CameraPlayer(); // stops everything

    // Where pictures go: a window of the window system (0: none).
    void set_window(std::uint32_t window);
    void set_size(int width, int height); // 0 x 0: the window's client size
    PlayerSettings settings() const;
    void change_settings(const std::function<void(PlayerSettings&)>& change);

    // Plays http://address:port<stream path> (restarting when playing); stop clears the window.
    void start(const std::string& address, int port);
    void stop();
    bool playing() const;

    // The last whole JPEG the camera sent (empty before any).
    std::vector<std::uint8_t> last_picture() const;

    // Queues GET <control path>?<query> to the camera last started (at most 16 waiting; older ones dropped).
    void send_command(const std::string& query);
    // Commands sent and answered with 2xx, for tests and statistics.
    std::uint64_t commands_done() const { return m_commands_done.load(); }

    // The last failure in words ("" when none).
    std::string problem() const;
    void set_problem(const std::string& text);

    // Takes one frame as the reader hands it (public for the fuzz target and tests).
    void on_frame(std::span<const std::uint8_t> jpeg);

private:
    void watch();
    void run_commands();
    bool target_size(int& width, int& height) const;
    void present_no_signal();

    mutable std::mutex m_lock; // guards everything below it up to m_commands
    PlayerSettings m_settings;
    std::uint32_t m_window = 0;
    int m_width = 0, m_height = 0;
    std::string m_address;
    int m_port = 0;
    bool m_playing = false;
    std::vector<std::uint8_t> m_last;
    std::chrono::steady_clock::time_point m_last_frame{};
    bool m_card_shown = false;
    std::string m_problem;
    std::deque<std::string> m_commands;
    bool m_quit = false;
    std::condition_variable m_wake; // commands queued, playing changed, quit

    std::atomic<std::uint64_t> m_commands_done{0};
    std::vector<std::uint32_t> m_scaled; // reader thread only
    std::unique_ptr<kavro::mjpeg::Reader> m_reader;
    std::thread m_watcher, m_commander;
};

} // namespace viewers
