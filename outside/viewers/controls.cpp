// VitaminCtrl.dll: the three camera viewer controls as COM classes (no DirectShow filters), each a thin
// layer over a CameraPlayer: argument checks, the kind's stream path, the camera command texts.
#include "outside/viewer_controls.h"
#include "outside/viewers/controls.h"
#include "outside/viewers/player.h"
#include "platform/dshow/base/factory.h"
#include "platform/sys/paths.h"
#include "platform/ui/control_host.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

namespace {

// Where a player finds its stream: the same path table as the network camera sources, so that a pane and the
// composite show the same stream of a camera.
viewers::PlayerSettings player_settings(viewers::Kind kind);

std::string stream_path(viewers::Kind kind) {
    const std::optional<std::string> path =
        camip::kind_path(int(kind), [](const char* name) -> const char* { return std::getenv(name); });
    return path ? *path : std::string("/video.mjpg");
}

const char* kind_name(viewers::Kind kind) { return camip::kind_name(int(kind)); }

viewers::PlayerSettings player_settings(viewers::Kind kind) {
    viewers::PlayerSettings s;
    s.name = kind_name(kind);
    s.stream_path = stream_path(kind);
    return s;
}

class CViewerControl final : public CUnknown, public ICameraViewer, public kavro::ui::IPaneControl {
public:
    CViewerControl(IUnknown* outer, viewers::Kind kind, const IID& iid)
        : CUnknown(kind_name(kind), outer), m_iid(iid),
          m_player(player_settings(kind)) {}

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == m_iid) return GetInterface(static_cast<ICameraViewer*>(this), object);
        if (riid == kavro::ui::IID_IPaneControl) return GetInterface(static_cast<kavro::ui::IPaneControl*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    // IPaneControl
    HRESULT AttachPane(std::uint32_t pane) override {
        m_player.set_window(pane);
        return S_OK;
    }
    HRESULT DetachPane() override {
        m_player.stop();
        m_player.set_window(0);
        return S_OK;
    }

    // ICameraViewer
    HRESULT SetSetting(const char* name, const char* value) override {
        if (!name || !value) return fail(E_POINTER, "setting without a name or value");
        const std::string n = name, v = value;
        if (n == "UserName") {
            m_player.change_settings([&](viewers::PlayerSettings& s) { s.user = v; });
        } else if (n == "Password") {
            m_player.change_settings([&](viewers::PlayerSettings& s) { s.password = v; });
        } else if (n == "ControlPath" || n == "StreamPath") {
            if (v.empty() || v[0] != '/' || v.find_first_of(" \r\n") != std::string::npos)
                return fail(E_INVALIDARG, "setting " + n + ": not an HTTP path: \"" + v + "\"");
            if (n == "ControlPath")
                m_player.change_settings([&](viewers::PlayerSettings& s) { s.control_path = v; });
            else
                m_given_path = v;
        } else if (n == "Stretch") {
            if (v != "0" && v != "1") return fail(E_INVALIDARG, "setting Stretch: \"" + v + "\" is neither 0 nor 1");
            m_player.change_settings([&](viewers::PlayerSettings& s) { s.stretch = v == "1"; });
        } else {
            return fail(E_INVALIDARG, "unknown setting \"" + n + "\"");
        }
        return S_OK;
    }
    HRESULT SetAddress(const char* address) override {
        in_addr parsed{};
        if (!address || inet_pton(AF_INET, address, &parsed) != 1)
            return fail(E_INVALIDARG, std::string("not an IPv4 address: \"") + (address ? address : "") + "\"");
        m_address = address;
        return S_OK;
    }
    HRESULT SetPort(std::int32_t port) override {
        if (port < 1 || port > 65535) return fail(E_INVALIDARG, "not a port: " + std::to_string(port));
        m_port = port;
        return S_OK;
    }
    HRESULT SetStreamPath(const char* path) override { return SetSetting("StreamPath", path); }
    HRESULT SetSize(std::int32_t width, std::int32_t height) override {
        const bool follow = width == 0 && height == 0;
        if (!follow && (width < 16 || height < 16 || width > viewers::kMaxPictureSide || height > viewers::kMaxPictureSide))
            return fail(E_INVALIDARG, "not a picture size: " + std::to_string(width) + " x " + std::to_string(height));
        m_player.set_size(width, height);
        return S_OK;
    }
    HRESULT Start() override {
        if (m_address.empty() || m_port == 0) return fail(E_FAIL, "start without a camera address and port");
        if (m_address == "0.0.0.0") return fail(E_FAIL, "start with no camera (address 0.0.0.0)");
        m_player.start(m_address, m_port);
        return S_OK;
    }
    HRESULT Stop() override {
        m_player.stop();
        return S_OK;
    }
    HRESULT SaveSnapshot(const char* path) override {
        if (!path || !*path) return fail(E_POINTER, "snapshot without a file name");
        const std::vector<std::uint8_t> picture = m_player.last_picture();
        if (picture.empty()) return fail(E_FAIL, "snapshot: no picture from the camera yet");
        const std::filesystem::path file = kavro::sys::local_path(path);
        if (!viewers::write_file_whole(file, picture))
            return fail(E_FAIL, "snapshot: cannot write " + file.string());
        return S_OK;
    }
    HRESULT CameraCommand(const char* command, std::int32_t speed) override {
        if (!command) return fail(E_POINTER, "camera command without a name");
        const std::string c = command;
        if (c != "home" && c != "tele" && c != "wide") return fail(E_INVALIDARG, "unknown camera command \"" + c + "\"");
        if (speed < 1 || speed > 100) return fail(E_INVALIDARG, "camera command speed out of 1..100");
        m_player.send_command("move=" + c + "&speed=" + std::to_string(speed));
        return S_OK;
    }
    HRESULT SetPanTilt(std::int32_t pan, std::int32_t tilt) override {
        if (pan < 1 || pan > 313 || tilt < 0 || tilt > 114) return fail(E_INVALIDARG, "pan or tilt out of range");
        m_player.send_command("pan=" + std::to_string(pan) + "&tilt=" + std::to_string(tilt));
        return S_OK;
    }
    HRESULT SetZoom(std::int32_t level) override {
        if (level < 1 || level > 8) return fail(E_INVALIDARG, "zoom level out of 1..8");
        m_player.send_command("zoom=" + std::to_string(level));
        return S_OK;
    }
    HRESULT SetDigitalOutput(std::int32_t output, std::int32_t state) override {
        if (output < 1 || output > 4 || (state != 0 && state != 1))
            return fail(E_INVALIDARG, "digital output or state out of range");
        m_player.send_command("output=" + std::to_string(output) + "&state=" + std::to_string(state));
        return S_OK;
    }
    HRESULT GetErrorText(char* buffer, std::int32_t size) override {
        if (!buffer || size <= 0) return E_POINTER;
        const std::string text = m_player.problem();
        const std::size_t n = std::min(text.size(), std::size_t(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        return S_OK;
    }

    viewers::CameraPlayer& Player() { return m_player; }

private:
    HRESULT fail(HRESULT hr, const std::string& why) {
        m_player.set_problem(why);
        return hr;
    }

    const IID m_iid;
    viewers::CameraPlayer m_player;
    // Caller's thread only (the console's window thread).
    std::string m_address;
    std::int32_t m_port = 0;
    std::string m_given_path; // kept; the stream path comes from the kind (see the README)
};

template <viewers::Kind kind>
CUnknown* create(IUnknown* outer, HRESULT* phr) {
    static const IID* const kIids[] = {nullptr, &IID_IZoomViewer, &IID_IMjpegViewer, &IID_IMpeg4Viewer};
    CUnknown* control = nullptr;
    try {
        control = new CViewerControl(outer, kind, *kIids[int(kind)]);
    } catch (const std::exception&) {
        control = nullptr;
    }
    if (!control && phr) *phr = E_OUTOFMEMORY;
    return control;
}

} // namespace

namespace viewers {

bool write_file_whole(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    const std::filesystem::path temp = file.string() + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (!out) {
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::filesystem::rename(temp, file, ec);
    if (ec) std::filesystem::remove(temp, ec);
    return !ec;
}

CameraPlayer* player_of(ICameraViewer* control) {
    return control ? &static_cast<CViewerControl*>(control)->Player() : nullptr;
}

} // namespace viewers

// Three COM classes, no filters.
KAVRO_DSHOW_PLUGIN({"Camera viewer ZOOM", &CLSID_ZoomViewer, create<viewers::Kind::Zoom>, nullptr, nullptr},
                   {"Camera viewer MJPEG", &CLSID_MjpegViewer, create<viewers::Kind::Mjpeg>, nullptr, nullptr},
                   {"Camera viewer MPEG4", &CLSID_Mpeg4Viewer, create<viewers::Kind::Mpeg4>, nullptr, nullptr})
