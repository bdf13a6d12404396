#include "filters/mesh/topology_thread.h"

#include "filters/mesh/substitute.h"
#include "platform/jpeg/jpeg.h"

#include <cstdio>
#include <cstring>

namespace mesh {

namespace {

// The daemon's HNA prefixes for the default route and the base station's network, in the netmask form of
// older daemons and the prefix-length form of current ones, all shown as "HNA". The netmask forms go
// first: "0.0.0.0/0" is the start of "0.0.0.0/0.0.0.0".
constexpr std::pair<std::string_view, std::string_view> kHna[] = {
    {"192.168.0.99/255.255.255.255", "HNA"},
    {"0.0.0.0/0.0.0.0", "HNA"},
    {"192.168.0.99/32", "HNA"},
    {"0.0.0.0/0", "HNA"},
};

// The text as wide characters: UTF-8 sequences as their code points, any other byte as itself (Latin-1).
std::wstring widen(const char* text) {
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char c = *p;
        int extra = 0;
        std::uint32_t cp = c;
        if (c >= 0xC2 && c <= 0xDF) extra = 1, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) extra = 2, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) extra = 3, cp = c & 0x07;
        int i = 1;
        for (; i <= extra && (p[i] & 0xC0) == 0x80; ++i) cp = cp << 6 | (p[i] & 0x3F);
        if (extra > 0 && i == extra + 1) {
            out += wchar_t(cp);
            p += extra + 1;
        } else {
            out += wchar_t(c);
            ++p;
        }
    }
    return out;
}

} // namespace

const char* to_string(CycleResult r) {
    switch (r) {
    case CycleResult::Drawn: return "topology drawn";
    case CycleResult::NoService: return "topology service unreachable";
    case CycleResult::EmptyAnswer: return "no topology in the service's answer";
    case CycleResult::NoLayout: return "no layout component (WinGraphviz)";
    case CycleResult::NotDrawn: return "the topology could not be drawn";
    case CycleResult::NotSaved: return "the drawing could not be saved";
    case CycleResult::NotDecoded: return "the drawing could not be read back";
    case CycleResult::TooLarge: return "the drawing is too large for the decode buffer even at an eighth of its size";
    case CycleResult::Stopped: return "stopped";
    }
    return "?";
}

// ---------------------------------------------------------------------------------------------------------

std::string ServerSettings::Snapshot::address_text() const {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

void ServerSettings::set_server(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::int32_t port) {
    std::lock_guard g(m_lock);
    m_address = {a, b, c, d};
    m_port = port;
}

void ServerSettings::get_server(std::uint8_t* a, std::uint8_t* b, std::uint8_t* c, std::uint8_t* d,
                                std::int32_t* port) const {
    std::lock_guard g(m_lock);
    *a = m_address[0], *b = m_address[1], *c = m_address[2], *d = m_address[3];
    *port = m_port;
}

void ServerSettings::set_node_name(const std::string& address, const std::string& name) {
    std::lock_guard g(m_lock);
    bool matched = false;
    bool name_done = false, address_done = false;
    for (auto& entry : m_names) {
        if (!name_done && entry.second == name) {
            entry.first = address;
            name_done = matched = true;
        }
        if (!address_done && entry.first == address) {
            entry.second = name;
            address_done = matched = true;
        }
        if (name_done && address_done) break;
    }
    if (!matched) m_names.emplace_back(address, name);
}

ServerSettings::Snapshot ServerSettings::snapshot() const {
    std::lock_guard g(m_lock);
    return Snapshot{m_address, m_port, m_names};
}

SharedFrame::SharedFrame() : frame(new std::uint8_t[kFrameBytes]) { std::memset(frame.get(), 255, kFrameBytes); }

// ---------------------------------------------------------------------------------------------------------

TopologyDrawer::TopologyDrawer(ComPtr<IGraphLayout> layout, std::string picture_path, bool print)
    : m_layout(std::move(layout)), m_path(std::move(picture_path)), m_widePath(widen(m_path.c_str())),
      m_print(print), m_text(new char[kReceiveBytes + 1]()), m_decoded(new std::uint8_t[kDecodeBytes]) {}

CycleResult TopologyDrawer::draw(const ServerSettings::Snapshot& settings, SharedFrame& frame) {
    char* text = m_text.get();
    constexpr std::size_t capacity = kReceiveBytes + 1;
    text[kReceiveBytes] = '\0';
    for (const auto& [pattern, replacement] : kHna) substitute(text, capacity, pattern, replacement);
    for (const auto& [address, name] : settings.names) substitute(text, capacity, address, name);
    if (m_print) {
        std::fputs(text, stdout);
        std::fputs("\n\n\n", stdout);
        std::fflush(stdout);
    }
    m_width = m_height = 0;
    if (!m_layout) return CycleResult::NoLayout;
    ComPtr<ILayoutPicture> picture;
    {
        const std::wstring wide = widen(text);
        if (FAILED(m_layout->ToJPEG(wide.c_str(), picture.put())) || !picture) return CycleResult::NotDrawn;
    }
    if (FAILED(picture->Save(m_widePath.c_str()))) return CycleResult::NotSaved;
    picture.reset();

    kavro::jpeg::Info info;
    if (kavro::jpeg::read_info_file(m_path, info) != kavro::jpeg::Status::ok || info.width <= 0 || info.height <= 0)
        return CycleResult::NotDecoded;
    // A drawing larger than the decode buffer (a big mesh) is decoded at the largest eighth that fits; the fit
    // below then reduces it as it reduces any drawing wider or taller than the frame.
    kavro::jpeg::Target target;
    for (target.scale_eighths = 8; target.scale_eighths > 0; --target.scale_eighths) {
        target.width = kavro::jpeg::scaled_size(info.width, target.scale_eighths);
        target.height = kavro::jpeg::scaled_size(info.height, target.scale_eighths);
        if (std::size_t(target.width) * std::size_t(target.height) * 3 <= kDecodeBytes) break;
    }
    if (target.scale_eighths == 0) return CycleResult::TooLarge;
    target.pixels = m_decoded.get();
    target.size = kDecodeBytes;
    target.stride = std::size_t(target.width) * 3;
    target.format = kavro::jpeg::PixelFormat::bgr24;
    if (kavro::jpeg::decode_file(m_path, target) != kavro::jpeg::Status::ok) return CycleResult::NotDecoded;
    m_width = target.width;
    m_height = target.height;
    std::lock_guard g(frame.busy);
    fit_picture(m_decoded.get(), m_width, m_height, frame.frame.get());
    return CycleResult::Drawn;
}

// ---------------------------------------------------------------------------------------------------------

TopologyThread::TopologyThread(ServerSettings& settings, SharedFrame& frame, TopologyDrawer& drawer,
                               ThreadTiming timing)
    : m_settings(settings), m_frame(frame), m_drawer(drawer), m_timing(timing) {}

TopologyThread::~TopologyThread() {
    stop();
    join();
}

void TopologyThread::start() {
    std::lock_guard g(m_lock);
    if (m_thread.joinable() && !m_finished) {
        m_stop.clear(); // still running: it goes on
        return;
    }
    if (m_thread.joinable()) m_thread.join(); // it has left its loop
    m_stop.clear();
    m_finished = false;
    m_started.fetch_add(1, std::memory_order_relaxed);
    m_thread = std::thread([this] { run(); });
}

void TopologyThread::stop() { m_stop.request(); }

void TopologyThread::join() {
    std::thread t;
    {
        std::lock_guard g(m_lock);
        t = std::move(m_thread);
    }
    if (t.joinable()) t.join();
}

bool TopologyThread::running() const {
    std::lock_guard g(const_cast<std::mutex&>(m_lock));
    return m_thread.joinable() && !m_finished;
}

void TopologyThread::run() {
    const int live = m_live.fetch_add(1) + 1;
    for (int most = m_mostLive.load(); live > most && !m_mostLive.compare_exchange_weak(most, live);) {
    }
    for (;;) {
        if (!m_stop.requested()) {
            report(cycle());
            m_stop.sleep(m_timing.pause);
        }
        std::lock_guard g(m_lock);
        if (m_stop.requested()) {
            m_finished = true;
            m_live.fetch_sub(1);
            return;
        }
    }
}

CycleResult TopologyThread::cycle() {
    const ServerSettings::Snapshot settings = m_settings.snapshot();
    const FetchResult got = fetch_topology(settings.address_text(), std::uint16_t(settings.port), m_drawer.text(),
                                           kReceiveBytes + 1, m_timing.fetch, m_stop);
    CycleResult r;
    if (got.status == FetchStatus::Stopped)
        return CycleResult::Stopped;
    else if (got.status == FetchStatus::NoConnection)
        r = CycleResult::NoService;
    else if (got.status == FetchStatus::Empty || got.bytes < 20)
        r = CycleResult::EmptyAnswer;
    else
        r = m_drawer.draw(settings, m_frame);
    m_frame.picture_ready.store(r == CycleResult::Drawn);
    return r;
}

void TopologyThread::report(CycleResult r) {
    if (r == CycleResult::Stopped) return;
    (r == CycleResult::Drawn ? m_drawn : m_failed).fetch_add(1, std::memory_order_relaxed);
    if (r != m_last) std::fprintf(stderr, "Mesh: %s\n", to_string(r));
    m_last = r;
}

} // namespace mesh
