#include "outside/viewers/player.h"

#include "platform/jpeg/jpeg.h"
#include "platform/ui/ui.h"
#include "util/pixel_text.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace viewers {

namespace {

constexpr std::size_t kMaxCommands = 16;

// Percent-encodes every byte but letters, digits and "-._~", for credentials inside a URL.
std::string url_escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}
constexpr auto kWatchPeriod = std::chrono::milliseconds(250);

} // namespace

bool draw_jpeg(std::span<const std::uint8_t> jpeg, int width, int height, bool stretch, std::vector<std::uint32_t>& out) {
    kavro::jpeg::Info info;
    if (width <= 0 || height <= 0 || kavro::jpeg::read_info(jpeg, info) != kavro::jpeg::Status::ok ||
        info.width <= 0 || info.height <= 0 || info.width > kMaxPictureSide || info.height > kMaxPictureSide)
        return false;
    thread_local std::vector<std::uint32_t> picture;
    picture.resize(std::size_t(info.width) * std::size_t(info.height));
    const kavro::jpeg::Target target{reinterpret_cast<std::uint8_t*>(picture.data()), picture.size() * 4, info.width,
                                     info.height, std::size_t(info.width) * 4, kavro::jpeg::PixelFormat::bgrx32, false};
    if (kavro::jpeg::decode(jpeg, target) != kavro::jpeg::Status::ok) return false;
    // Where the picture goes in the window: all of it, or the largest part of the same proportions.
    int w = width, h = height;
    if (!stretch) {
        if (std::int64_t(width) * info.height > std::int64_t(height) * info.width)
            w = int(std::int64_t(height) * info.width / info.height);
        else
            h = int(std::int64_t(width) * info.height / info.width);
        w = std::max(w, 1);
        h = std::max(h, 1);
    }
    const int left = (width - w) / 2, top = (height - h) / 2;
    out.assign(std::size_t(width) * std::size_t(height), 0xFF000000u);
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* row = picture.data() + std::size_t(std::int64_t(y) * info.height / h) * info.width;
        std::uint32_t* dst = out.data() + std::size_t(top + y) * width + left;
        for (int x = 0; x < w; ++x) dst[x] = row[std::int64_t(x) * info.width / w] | 0xFF000000u;
    }
    return true;
}

CameraPlayer::CameraPlayer(PlayerSettings settings) : m_settings(std::move(settings)) {
    kavro::mjpeg::ReaderSettings reader;
    reader.log_name = "viewer " + m_settings.name;
    m_reader = std::make_unique<kavro::mjpeg::Reader>([this](std::span<const std::uint8_t> jpeg) { on_frame(jpeg); },
                                                      reader);
    m_watcher = std::thread([this] { watch(); });
    m_commander = std::thread([this] { run_commands(); });
}

CameraPlayer::~CameraPlayer() {
    m_reader->stop();
    {
        std::lock_guard g(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_watcher.join();
    m_commander.join();
}

void CameraPlayer::set_window(std::uint32_t window) {
    std::lock_guard g(m_lock);
    m_window = window;
}

void CameraPlayer::set_size(int width, int height) {
    std::lock_guard g(m_lock);
    m_width = width;
    m_height = height;
}

PlayerSettings CameraPlayer::settings() const {
    std::lock_guard g(m_lock);
    return m_settings;
}

void CameraPlayer::change_settings(const std::function<void(PlayerSettings&)>& change) {
    std::lock_guard g(m_lock);
    change(m_settings);
}

void CameraPlayer::start(const std::string& address, int port) {
    std::string url;
    {
        std::lock_guard g(m_lock);
        m_address = address;
        m_port = port;
        m_playing = true;
        m_last.clear(); // a snapshot never shows the camera shown before
        m_last_frame = std::chrono::steady_clock::now();
        m_card_shown = false;
        const std::string credentials =
            m_settings.user.empty() ? "" : url_escape(m_settings.user) + ":" + url_escape(m_settings.password) + "@";
        url = "http://" + credentials + address + ":" + std::to_string(port) + m_settings.stream_path;
    }
    m_wake.notify_all();
    m_reader->start(url);
}

void CameraPlayer::stop() {
    m_reader->stop();
    std::uint32_t window;
    {
        std::lock_guard g(m_lock);
        m_playing = false;
        window = m_window;
    }
    if (window) kavro::ui::clear_frame(kavro::ui::Hwnd{window});
}

bool CameraPlayer::playing() const {
    std::lock_guard g(m_lock);
    return m_playing;
}

std::vector<std::uint8_t> CameraPlayer::last_picture() const {
    std::lock_guard g(m_lock);
    return m_last;
}

std::string CameraPlayer::problem() const {
    std::lock_guard g(m_lock);
    return m_problem;
}

void CameraPlayer::set_problem(const std::string& text) {
    std::lock_guard g(m_lock);
    m_problem = text;
}

bool CameraPlayer::target_size(int& width, int& height) const {
    // Called with m_lock held.
    if (m_width > 0 && m_height > 0) {
        width = m_width;
        height = m_height;
        return true;
    }
    if (!m_window) return false;
    const kavro::ui::Rect r = kavro::ui::get_client_rect(kavro::ui::Hwnd{m_window});
    width = std::min(r.w, kMaxPictureSide);
    height = std::min(r.h, kMaxPictureSide);
    return width > 0 && height > 0;
}

void CameraPlayer::on_frame(std::span<const std::uint8_t> jpeg) {
    int width = 0, height = 0;
    std::uint32_t window;
    bool stretch;
    {
        std::lock_guard g(m_lock);
        if (!m_playing) return;
        window = m_window;
        stretch = m_settings.stretch;
        if (!target_size(width, height)) width = height = 0;
    }
    const bool shown = width > 0 && draw_jpeg(jpeg, width, height, stretch, m_scaled);
    if (!shown) {
        // Without a window the picture is still checked, so a snapshot is always a picture.
        std::vector<std::uint32_t> ignored;
        if (!draw_jpeg(jpeg, 16, 16, true, ignored)) {
            set_problem("a frame from the camera is not a picture");
            return;
        }
    }
    {
        // Kept before it shows: an operator who sees a picture can always save it.
        std::lock_guard g(m_lock);
        m_last.assign(jpeg.begin(), jpeg.end());
        m_last_frame = std::chrono::steady_clock::now();
        m_card_shown = false;
    }
    if (shown && window) kavro::ui::present_frame(kavro::ui::Hwnd{window}, width, height, m_scaled.data(), width);
}

void CameraPlayer::present_no_signal() {
    int width = 0, height = 0;
    std::uint32_t window;
    std::string name, where;
    {
        std::lock_guard g(m_lock);
        window = m_window;
        if (!window || !target_size(width, height)) return;
        name = m_settings.name;
        where = m_address + ":" + std::to_string(m_port);
    }
    std::vector<std::uint32_t> card(std::size_t(width) * std::size_t(height), 0xFF000000u);
    const kavro::pixels::Image image{card.data(), width, height, width};
    const int scale = std::clamp(width / 240, 1, 4);
    const std::string lines[] = {"NO SIGNAL", name + " " + where};
    int y = height / 2 - 12 * scale;
    for (const std::string& line : lines) {
        kavro::pixels::draw_text(image, (width - kavro::pixels::text_width(line, scale)) / 2, y, line, 0xFFFFFFFFu,
                                 scale);
        y += 12 * scale;
    }
    kavro::ui::present_frame(kavro::ui::Hwnd{window}, width, height, card.data(), width);
}

void CameraPlayer::watch() {
    std::unique_lock g(m_lock);
    while (!m_quit) {
        m_wake.wait_for(g, kWatchPeriod);
        if (m_quit) break;
        if (m_playing && !m_card_shown && std::chrono::steady_clock::now() - m_last_frame > kSignalLost) {
            m_card_shown = true;
            const std::string why = m_reader->last_error();
            if (!why.empty()) m_problem = "no picture from the camera: " + why;
            g.unlock();
            present_no_signal();
            g.lock();
        }
    }
}

void CameraPlayer::send_command(const std::string& query) {
    {
        std::lock_guard g(m_lock);
        if (m_commands.size() >= kMaxCommands) m_commands.pop_front();
        m_commands.push_back(query);
    }
    m_wake.notify_all();
}

void CameraPlayer::run_commands() {
    std::unique_lock g(m_lock);
    while (!m_quit) {
        m_wake.wait(g, [this] { return m_quit || !m_commands.empty(); });
        if (m_quit) break;
        const std::string query = m_commands.front();
        m_commands.pop_front();
        const std::string address = m_address, path = m_settings.control_path, user = m_settings.user,
                          password = m_settings.password;
        const int port = m_port;
        g.unlock();
        std::string failure;
        if (address.empty() || port <= 0) {
            failure = "camera command with no camera started";
        } else {
            httplib::Client client(address, port);
            client.set_connection_timeout(1, 0);
            client.set_read_timeout(2, 0);
            client.set_write_timeout(2, 0);
            if (!user.empty()) client.set_basic_auth(user, password);
            const auto answer = client.Get(path + "?" + query);
            if (!answer)
                failure = "camera command not sent: " + httplib::to_string(answer.error());
            else if (answer->status < 200 || answer->status > 299)
                failure = "camera command refused: HTTP " + std::to_string(answer->status);
            else
                ++m_commands_done;
        }
        g.lock();
        if (!failure.empty()) m_problem = failure;
    }
}

} // namespace viewers
