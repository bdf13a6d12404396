// The four ports' datagram handlers on any bytes. The first byte chooses the port (layout, camera picture,
// network camera, configuration), the rest is the datagram (at most 1000 bytes, as received). The capture
// cards, cameras and sensor filter are doubles that check the values they get; the configs folder is a
// temporary one, and nothing may appear outside it. A configuration reply is always 1000 bytes with its text
// inside 999.
#include "mixer/protocol.h"
#include "platform/ui/message_box.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

using namespace kavro;
using namespace kavro::mixer;

namespace {

struct Card : IPictureAdjust {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT SetAdjustment1(std::int32_t, std::uint8_t) override { return S_OK; }
    HRESULT SetAdjustment2(std::int32_t, std::uint8_t) override { return S_OK; }
    HRESULT SetAdjustment3(std::int32_t, std::uint8_t) override { return S_OK; }
    HRESULT SetAdjustment4(std::int32_t, std::uint8_t) override { return S_OK; }
};

struct Camera : INetworkCamera {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetCamera(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) override {
        return S_OK;
    }
};

struct Sensor : ICapteurControl {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT SetConfig(int index, const SensorChannelRecord* r) override {
        if (index < 1 || index > 5 || !r || r->setting1_on > 1 || r->setting4_on > 1) std::abort();
        return S_OK;
    }
    HRESULT GetConfig(int index, ConsoleSensorChannelRecord* r) override {
        if (index < 1 || index > 5 || !r) std::abort();
        return S_OK;
    }
    HRESULT LoopbackBytes(unsigned char*, unsigned char*, unsigned char*, unsigned char*) override { return S_OK; }
    HRESULT AddressBytes(unsigned char*, unsigned char*, unsigned char*, unsigned char*) override { return S_OK; }
    HRESULT GetStatus(int*, std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*) override { return S_OK; }
    HRESULT GetPosition(int*, float*, float*) override { return S_OK; }
    HRESULT SetWaypoint(int*, int, float*, float*) override { return S_OK; }
    HRESULT SetRobotValue(int*, int*) override { return S_OK; }
};

struct World {
    std::filesystem::path root;
    Card cards[2];
    Camera cameras[4];
    Sensor sensor;
    MixerState s;
    World() {
        char pattern[] = "/tmp/kavro-fuzz-mixer-XXXXXX";
        root = ::mkdtemp(pattern);
        std::filesystem::create_directories(root / "configs");
        std::ofstream(root / "configs" / "day.xml") << "<day/>";
        std::ofstream(root / "configs" / "interface_old.xml") << "<i/>";
        std::ofstream(root / "secret.xml") << "<secret/>";
        s.configs_dir = (root / "configs").string() + "/";
        for (int c = 0; c < 2; ++c) s.objects.card_adjust[c] = &cards[c];
        for (int k = 0; k < 4; ++k) s.objects.camera_control[k] = &cameras[k];
        s.objects.sensor = &sensor;
        std::freopen("/dev/null", "w", stdout); // the network cameras' progress lines
        std::cerr.rdbuf(nullptr);               // refused names (libFuzzer's own reports still reach stderr)
        ui::set_message_box_presenter([](const std::string&, const std::string&, unsigned) { return ui::IDOK; });
    }
    // Only "configs" and "secret.xml" at the top, the latter unchanged.
    void check() const {
        int entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(root)) {
            ++entries;
            const auto name = e.path().filename();
            if (name != "configs" && name != "secret.xml") std::abort();
        }
        if (entries != 2) std::abort();
        for (const auto& e : std::filesystem::directory_iterator(root / "configs"))
            if (e.is_directory()) std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    if (size == 0) return 0;
    const int port = data[0] % 4;
    const std::size_t length = std::min<std::size_t>(size - 1, kDatagramSize);
    std::string datagram(reinterpret_cast<const char*>(data + 1), length);
    const TextTokens tokens(datagram.data(), datagram.size());
    switch (port) {
    case 0: handle_layout(world.s, tokens); break;
    case 1: handle_camera_picture(world.s, tokens); break;
    case 2: handle_ip_camera(world.s, tokens); break;
    case 3:
        if (auto reply = handle_configuration(world.s, tokens)) {
            if (reply->size() != kDatagramSize || std::strlen(reply->c_str()) > kDatagramSize - 1) std::abort();
        }
        // The watcher's step on whatever a setconf left pending.
        apply_pending_configuration(world.s);
        break;
    }
    world.check();
    return 0;
}
