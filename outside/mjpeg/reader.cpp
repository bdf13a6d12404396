#include "outside/mjpeg/reader.h"

#include <curl/curl.h>

#include <cstdio>
#include <optional>

namespace kavro::mjpeg {

namespace {

using Clock = std::chrono::steady_clock;

void init_curl_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool is_jpeg_type(std::string_view type) {
    if (type.empty()) return true; // many cameras send no part type
    std::string lower(type.substr(0, type.find(';')));
    for (char& c : lower) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    while (!lower.empty() && lower.back() == ' ') lower.pop_back();
    return lower == "image/jpeg" || lower == "image/jpg" || lower == "image/pjpeg";
}

// One HTTP connection's state, reached from libcurl's write callback on the receiver thread.
struct Connection {
    Reader::FrameHandler* on_frame = nullptr;
    const ReaderSettings* settings = nullptr;
    CURL* easy = nullptr;
    std::optional<MultipartParser> parser;
    std::string error;
    Clock::time_point last_frame;
    std::uint64_t frames = 0, rejected = 0;
    const std::atomic<bool>* stopping = nullptr;
};

bool check_response(Connection& c) {
    long code = 0;
    curl_easy_getinfo(c.easy, CURLINFO_RESPONSE_CODE, &code);
    if (code != 200) {
        c.error = "HTTP status " + std::to_string(code);
        return false;
    }
    char* type = nullptr;
    curl_easy_getinfo(c.easy, CURLINFO_CONTENT_TYPE, &type);
    const auto boundary = boundary_from_content_type(type ? type : "");
    if (!boundary) {
        c.error = std::string("not an MJPEG stream (Content-Type: ") + (type ? type : "none") + ")";
        return false;
    }
    c.parser.emplace(*boundary, c.settings->limits);
    return true;
}

std::size_t on_bytes(char* data, std::size_t size, std::size_t count, void* user) {
    auto& c = *static_cast<Connection*>(user);
    const std::size_t n = size * count;
    if (c.stopping->load(std::memory_order_relaxed)) return 0;
    if (!c.parser && !check_response(c)) return 0;
    const bool more = c.parser->feed(std::span(reinterpret_cast<const std::uint8_t*>(data), n),
                                      [&](std::span<const std::uint8_t> body, std::string_view type) {
                                          if (!is_jpeg_type(type) || !is_whole_jpeg(body)) {
                                              ++c.rejected;
                                              return;
                                          }
                                          ++c.frames;
                                          c.last_frame = Clock::now();
                                          (*c.on_frame)(body);
                                      });
    if (!more) {
        c.error = c.parser->failed() ? "bad stream: " + c.parser->error() : "the stream ended";
        return 0;
    }
    return n;
}

} // namespace

bool is_whole_jpeg(std::span<const std::uint8_t> frame) {
    std::size_t end = frame.size();
    for (int i = 0; i < 16 && end > 0; ++i) {
        const std::uint8_t b = frame[end - 1];
        if (b != '\r' && b != '\n' && b != ' ' && b != 0) break;
        --end;
    }
    return end >= 4 && frame[0] == 0xFF && frame[1] == 0xD8 && frame[end - 2] == 0xFF && frame[end - 1] == 0xD9;
}

Reader::Reader(FrameHandler on_frame, ReaderSettings settings)
    : on_frame_(std::move(on_frame)), settings_(std::move(settings)) {
    init_curl_once();
}

Reader::~Reader() { stop(); }

void Reader::start(const std::string& url) {
    stop();
    stopping_.store(false);
    thread_ = std::thread([this, url] { run(url); });
}

void Reader::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(wait_mutex_);
        stopping_.store(true);
    }
    wake_.notify_all();
    thread_.join();
    connected_.store(false, std::memory_order_relaxed);
}

ReaderCounts Reader::counts() const {
    return {frames_.load(std::memory_order_relaxed), rejected_.load(std::memory_order_relaxed),
            connections_.load(std::memory_order_relaxed), failures_.load(std::memory_order_relaxed)};
}

std::string Reader::last_error() const {
    std::lock_guard lock(error_mutex_);
    return last_error_;
}

void Reader::run(std::string url) {
    while (read_once(url)) {
        std::unique_lock lock(wait_mutex_);
        if (wake_.wait_for(lock, settings_.retry_period, [&] { return stopping_.load(); })) break;
    }
}

bool Reader::read_once(const std::string& url) {
    connections_.fetch_add(1, std::memory_order_relaxed);
    Connection c;
    c.on_frame = &on_frame_;
    c.settings = &settings_;
    c.stopping = &stopping_;
    c.easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!c.easy || !multi) {
        if (c.easy) curl_easy_cleanup(c.easy);
        if (multi) curl_multi_cleanup(multi);
        fail(url, "out of memory");
        return !stopping_.load();
    }
    curl_easy_setopt(c.easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c.easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c.easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c.easy, CURLOPT_PROXY, ""); // cameras are reached directly
    curl_easy_setopt(c.easy, CURLOPT_USERAGENT, "KAVRO");
    curl_easy_setopt(c.easy, CURLOPT_CONNECTTIMEOUT_MS, long(settings_.connect_timeout.count()));
    curl_easy_setopt(c.easy, CURLOPT_WRITEFUNCTION, on_bytes);
    curl_easy_setopt(c.easy, CURLOPT_WRITEDATA, &c);
    curl_multi_add_handle(multi, c.easy);

    c.last_frame = Clock::now();
    std::uint64_t counted_frames = 0, counted_rejected = 0;
    for (;;) {
        int active = 0;
        curl_multi_perform(multi, &active);
        frames_.fetch_add(c.frames - counted_frames, std::memory_order_relaxed);
        rejected_.fetch_add(c.rejected - counted_rejected, std::memory_order_relaxed);
        counted_frames = c.frames;
        counted_rejected = c.rejected;
        const bool fresh = Clock::now() - c.last_frame <= settings_.frame_timeout;
        connected_.store(c.frames > 0 && fresh, std::memory_order_relaxed);
        if (c.frames > 0 && !reported_.empty()) fail(url, {}); // receiving again
        if (!active || stopping_.load()) break;
        if (!fresh) {
            c.error = "no picture for " + std::to_string(settings_.frame_timeout.count()) + " ms";
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    if (c.error.empty()) {
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &left))
            if (m->msg == CURLMSG_DONE)
                c.error = m->data.result == CURLE_OK ? "the stream ended" : curl_easy_strerror(m->data.result);
    }
    curl_multi_remove_handle(multi, c.easy);
    curl_easy_cleanup(c.easy);
    curl_multi_cleanup(multi);
    connected_.store(false, std::memory_order_relaxed);
    if (stopping_.load()) return false;
    fail(url, c.error.empty() ? "connection closed" : c.error);
    return true;
}

void Reader::fail(const std::string& url, const std::string& why) {
    if (!why.empty()) failures_.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(error_mutex_);
    if (!why.empty()) last_error_ = why;
    if (why == reported_) return;
    reported_ = why;
    if (settings_.log_name.empty()) return;
    if (why.empty())
        std::fprintf(stderr, "%s: receiving %s\n", settings_.log_name.c_str(), url.c_str());
    else
        std::fprintf(stderr, "%s: %s: %s (retrying every %lld ms)\n", settings_.log_name.c_str(), url.c_str(),
                     why.c_str(), static_cast<long long>(settings_.retry_period.count()));
}

} // namespace kavro::mjpeg
