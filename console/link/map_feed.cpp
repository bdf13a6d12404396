#include "console/link/map_feed.h"

#include "console/link/websocket.h"
#include "util/c_numbers.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace kavro::console {

namespace {

// The conversions of the scanf family in the "C" locale, one field at a time, over terminated text.
bool scan_float(const char*& p, float& out) {
    char* end = nullptr;
    float v = kavro::c_strtof(p, &end);
    if (end == p) return false;
    if (std::isfinite(v)) out = v; // "nan", "inf" or an overflow is read past but keeps the previous value
    p = end;
    return true;
}

bool scan_int(const char*& p, int& out) {
    char* end = nullptr;
    errno = 0;
    long v = kavro::c_strtol(p, &end, 10);
    if (end == p) return false;
    out = static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
    p = end;
    return true;
}

void skip_blanks(const char*& p) {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
}

} // namespace

int parse_map_request(const char* data, std::size_t size, MapRequest& request) {
    const std::string text(data, size); // terminated copy: nothing is read past the received bytes
    const char* p = text.c_str();
    if (text.compare(0, 3, "map") != 0) return 0;
    p += 3;
    int fields = 0;
    for (int r = 0; r < kRobotCount; ++r) {
        for (int k = 0; k < 8; ++k) {
            skip_blanks(p);
            if (!scan_float(p, request.waypoints[r][k])) return fields;
            ++fields;
        }
        skip_blanks(p);
        if (!scan_int(p, request.values[r])) return fields;
        ++fields;
    }
    return fields;
}

std::string format_map_answer(const int camera_modes[kRobotCount], const float positions[kRobotCount][2],
                              float base_latitude, float base_longitude, int reference_node, int snapshot) {
    // Six decimals with a point, whatever the process locale.
    std::string out;
    auto position = [&out](float latitude, float longitude) {
        append_fixed(out, static_cast<double>(latitude), 6);
        out += ' ';
        append_fixed(out, static_cast<double>(longitude), 6);
    };
    for (int k = 0; k < kRobotCount; ++k) {
        out += "1 " + std::to_string(camera_modes[k]) + " 0 ";
        position(positions[k][0], positions[k][1]);
        out += ' ';
    }
    out += "0 0 0 0 ";
    position(base_latitude, base_longitude);
    out += ' ' + std::to_string(reference_node) + ' ' + std::to_string(snapshot);
    out.push_back('\0');
    return out;
}

int reference_node_from_text(const std::string& text, int current) {
    if (text == "BASE") return kBaseIndex;
    if (text.size() == 7 && text.compare(0, 6, "Robot ") == 0 && text[6] >= '1' && text[6] <= '4')
        return text[6] - '0';
    return current;
}

bool answer_map_request(const char* data, std::size_t size, MapFeedState& state, const RobotTable& table,
                        MapFeedWindow& window, std::string& answer) {
    constexpr auto relaxed = std::memory_order_relaxed;
    parse_map_request(data, size, state.request);
    // Without a video graph there is no sensor filter to hand the waypoints to; the answer still goes out.
    if (ICapteurControl* capteur = window.capteur()) {
        for (int r = 1; r <= kRobotCount; ++r) {
            float* w = state.request.waypoints[r - 1];
            for (int k = 1; k <= 4; ++k) {
                int robot = r;
                HRESULT hr = capteur->SetWaypoint(&robot, k, &w[2 * (k - 1)], &w[2 * (k - 1) + 1]);
                if (FAILED(hr)) {
                    window.release_video_graph();
                    window.error_trace(kTraceWaypointFirst + k - 1, hr);
                    return false;
                }
            }
            int robot = r;
            HRESULT hr = capteur->SetRobotValue(&robot, &state.request.values[r - 1]);
            if (FAILED(hr)) {
                window.release_video_graph();
                window.error_trace(kTraceRobotValue, hr);
                return false;
            }
        }
    }
    int modes[kRobotCount];
    float positions[kRobotCount][2];
    for (int k = 0; k < kRobotCount; ++k) {
        modes[k] = window.camera_mode(k + 1);
        positions[k][0] = table.robot(k + 1).latitude.load(relaxed);
        positions[k][1] = table.robot(k + 1).longitude.load(relaxed);
    }
    const RobotRow& base = table.robot(window.virtual_base() ? 0 : kBaseIndex);
    state.reference_node = reference_node_from_text(window.reference_node_text(), state.reference_node);
    const int snapshot = state.snapshot.exchange(0, relaxed);
    answer = format_map_answer(modes, positions, base.latitude.load(relaxed), base.longitude.load(relaxed),
                               state.reference_node, snapshot);
    return true;
}

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Waits for the client's next bytes, seeing the quit flag. False when quit was set or the client stayed silent
// past the idle limit: the feed serves one client at a time, and a dead one must not lock the map page out.
bool wait_for_client(TcpConnection& client, const std::atomic<bool>& quit, const MapFeedConfig& config,
                     bool& quitting) {
    const int check_ms = static_cast<int>(config.quit_check.count());
    const auto give_up = std::chrono::steady_clock::now() + config.idle_limit;
    while (!client.wait_readable(check_ms)) {
        if (quit.load(relaxed)) {
            quitting = true;
            return false;
        }
        if (std::chrono::steady_clock::now() >= give_up) {
            std::fprintf(stderr, "map feed: no request for %lld ms, connection closed\n",
                         static_cast<long long>(config.idle_limit.count()));
            return false;
        }
    }
    return true;
}

enum class After { next_client, end_thread };
enum class Paced { go_on, quit, client_left };

// The pause after each answer, watching the quit flag and the client: a page that closes (a browser tab closed
// or reloaded) frees the feed for the next client at once rather than after its next answer.
Paced pace(TcpConnection& client, const std::atomic<bool>& quit, const MapFeedConfig& config) {
    for (auto waited = std::chrono::milliseconds(0); waited < config.pace && !quit.load(relaxed);
         waited += config.quit_check) {
        if (client.wait_peer_closed(static_cast<int>(std::min(config.quit_check, config.pace - waited).count())))
            return quit.load(relaxed) ? Paced::quit : Paced::client_left;
    }
    return quit.load(relaxed) ? Paced::quit : Paced::go_on;
}

// The next step after a pause.
std::optional<After> after_pace(TcpConnection& client, const std::atomic<bool>& quit, const MapFeedConfig& config) {
    switch (pace(client, quit, config)) {
    case Paced::go_on: return std::nullopt;
    case Paced::quit: return After::end_thread;
    case Paced::client_left: break;
    }
    return After::next_client;
}

// A WebSocket client: the rest of the opening request, the handshake, then one answer per message.
After serve_websocket(TcpConnection& client, std::string head, MapFeedState& state, const RobotTable& table,
                      MapFeedWindow& window, const std::atomic<bool>& quit, const MapFeedConfig& config) {
    constexpr std::size_t kMaxHead = 8192;
    bool quitting = false;
    std::vector<char> buffer(32768);
    std::size_t end = head.find("\r\n\r\n");
    while (end == std::string::npos && head.size() < kMaxHead) {
        if (!wait_for_client(client, quit, config, quitting)) return quitting ? After::end_thread : After::next_client;
        const long n = client.receive(buffer.data(), buffer.size());
        if (n <= 0) return After::next_client;
        head.append(buffer.data(), static_cast<std::size_t>(n));
        end = head.find("\r\n\r\n");
    }
    const std::optional<std::string> accept =
        end == std::string::npos ? std::nullopt : websocket_handshake(std::string_view(head).substr(0, end + 4));
    if (!accept) {
        const std::string refusal = websocket_refusal();
        client.send(refusal.data(), refusal.size());
        return After::next_client;
    }
    if (client.send(accept->data(), accept->size()) < 0) return After::next_client;
    WebSocketReader reader;
    reader.feed(head.data() + end + 4, head.size() - end - 4);
    for (;;) {
        for (auto event = reader.next(); event != WebSocketReader::Event::need_more; event = reader.next()) {
            if (event == WebSocketReader::Event::close) {
                const std::string close = websocket_close_frame();
                client.send(close.data(), close.size());
                return After::next_client;
            }
            if (event == WebSocketReader::Event::ping) {
                const std::string pong = websocket_pong_frame(reader.message());
                if (client.send(pong.data(), pong.size()) < 0) return After::next_client;
                continue;
            }
            std::string answer;
            if (!answer_map_request(reader.message().data(), reader.message().size(), state, table, window, answer))
                return After::end_thread;
            // A text message carries no terminating zero byte.
            if (!answer.empty() && answer.back() == '\0') answer.pop_back();
            const std::string message = websocket_text_frame(answer);
            if (client.send(message.data(), message.size()) < 0) return After::next_client;
            if (const auto after = after_pace(client, quit, config)) return *after;
            if (window.view() != kMapView) {
                const std::string close = websocket_close_frame();
                client.send(close.data(), close.size());
                return After::next_client;
            }
        }
        if (!wait_for_client(client, quit, config, quitting)) return quitting ? After::end_thread : After::next_client;
        const long n = client.receive(buffer.data(), buffer.size());
        if (n <= 0) return After::next_client;
        reader.feed(buffer.data(), static_cast<std::size_t>(n));
    }
}

// A raw client: each received block is one request, answered with the text and its zero byte.
After serve_raw(TcpConnection& client, std::string first, MapFeedState& state, const RobotTable& table,
                MapFeedWindow& window, const std::atomic<bool>& quit, const MapFeedConfig& config) {
    std::vector<char> buffer(32768);
    bool quitting = false;
    for (bool have = true;; have = false) {
        std::size_t n = first.size();
        if (!have) {
            if (!wait_for_client(client, quit, config, quitting)) return quitting ? After::end_thread : After::next_client;
            const long got = client.receive(buffer.data(), buffer.size());
            if (got <= 0) return After::next_client; // the page went away
            n = static_cast<std::size_t>(got);
        }
        const char* data = have ? first.data() : buffer.data();
        std::string answer;
        if (!answer_map_request(data, n, state, table, window, answer))
            return After::end_thread; // the sensor filter is gone until the console is started again
        if (client.send(answer.data(), answer.size()) < 0) return After::next_client;
        if (const auto after = after_pace(client, quit, config)) return *after;
        if (window.view() != kMapView) return After::next_client; // the map page is no longer shown
    }
}

} // namespace

void map_feed_thread(MapFeedState& state, const RobotTable& table, MapFeedWindow& window,
                     const std::atomic<bool>& quit, MapFeedConfig config) {
    const int check_ms = static_cast<int>(config.quit_check.count());
    TcpListener listener;
    if (!listener.bind(config.port, config.bind_address) || !listener.listen(32)) {
        std::fprintf(stderr, "map feed: cannot bind TCP port %u\n", static_cast<unsigned>(config.port));
        return;
    }
    if (config.on_listening) config.on_listening(listener.local_port());
    TcpListener web;
    if (config.web_port) {
        if (web.bind(*config.web_port, config.bind_address) && web.listen(32)) {
            if (config.on_web_listening) config.on_web_listening(web.local_port());
        } else {
            std::fprintf(stderr, "map feed: cannot bind TCP port %u for web pages\n", unsigned(*config.web_port));
            web.close();
        }
    }
    const int wait_ms = web.is_open() ? std::max(1, check_ms / 2) : check_ms;
    std::vector<char> buffer(32768);
    while (!quit.load(relaxed)) {
        if (!listener.listen(32)) return;
        TcpConnection client;
        if (!listener.accept(client, wait_ms) && !(web.is_open() && web.accept(client, wait_ms))) continue;
        bool quitting = false;
        if (!wait_for_client(client, quit, config, quitting)) {
            if (quitting) return;
            continue;
        }
        const long n = client.receive(buffer.data(), buffer.size());
        if (n <= 0) continue; // the page went away
        std::string first(buffer.data(), static_cast<std::size_t>(n));
        // A web page cannot open a raw connection: it asks for a WebSocket on the same port.
        const After after = starts_http_request(first.data(), first.size())
                                ? serve_websocket(client, std::move(first), state, table, window, quit, config)
                                : serve_raw(client, std::move(first), state, table, window, quit, config);
        if (after == After::end_thread) return;
    }
}

} // namespace kavro::console
