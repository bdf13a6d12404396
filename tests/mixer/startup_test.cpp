// The mixer's start-up and end on the window system's model: the refusals beside another mixer or the console,
// the window on the second monitor, and whole runs steered over loopback UDP (configuration list and choice,
// layout, quit, quit with the machine's shutdown), with the configuration saved on the way out.
#include "mixer/startup.h"
#include "mixer/protocol.h"
#include "tests/mixer/rig.h"
#include "tests/support/message_boxes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

using namespace kavro;
using namespace kavro::mixer;

namespace {

struct FakeSystem : MixerSystem {
    std::set<std::string> running;
    std::vector<std::string> asked;
    std::string created;
    std::atomic<std::uint32_t> stored{0}; // set last: the block exists

    bool instance_running(const std::string& name) override {
        asked.push_back(name);
        return running.count(name) > 0;
    }
    void create_instance_block(const std::string& name, ui::Hwnd window) override {
        created = name;
        stored.store(window.value);
    }
};

class Udp {
public:
    Udp() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        timeval tv{3, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Udp() { ::close(fd_); }
    void send(std::uint16_t port, const std::string& data) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    std::string receive() {
        char buf[2000];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
    }

private:
    int fd_;
};

Ports free_ports() {
    return {test::free_udp_port(), test::free_udp_port(), test::free_udp_port(), test::free_udp_port()};
}

// Waits until check holds (up to 10 s).
bool eventually(const std::function<bool()>& check) {
    for (int i = 0; i < 200; ++i) {
        if (check()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return check();
}

} // namespace

TEST(MixerStartup, RefusedBesideAnotherMixerOrTheConsoleWithoutAWindow) {
    test::MessageBoxes boxes;
    for (const char* other : {"KAVRO", "InterfaceKAVRO"}) {
        FakeSystem system;
        system.running.insert(other);
        MixerState s;
        const auto before = ui::top_level_windows().size();
        EXPECT_EQ(run_mixer(s, system), 0);
        EXPECT_EQ(ui::top_level_windows().size(), before);
        EXPECT_EQ(system.stored.load(), 0u);
    }
    EXPECT_EQ(boxes.seen(), (std::vector<std::string>{
                                "Erreur: Cette application est déjà lancée.\nFermer la première pour la relancer de "
                                "nouveau.",
                                "Erreur: L'interface KAVRO est déjà lancée sur cette machine.\nVous ne pouvez pas "
                                "utiliser KAVRO en même temps."}));
}

TEST(MixerStartup, WindowGoesToTheFirstMonitorThatIsNotThePrimary) {
    const auto saved = ui::monitors();
    ui::WindowSpec spec;
    spec.style = ui::WS_POPUP;
    spec.rect = {ui::CW_USEDEFAULT, ui::CW_USEDEFAULT, kWindowWidth, kWindowHeight};
    const ui::Hwnd w = ui::create_window(spec, ui::def_window_proc);
    ui::set_monitors({{{0, 0, 1280, 1024}, true}});
    const ui::Rect alone = ui::get_window_rect(w);
    place_on_second_monitor(w);
    EXPECT_EQ(ui::get_window_rect(w).x, alone.x);
    ui::set_monitors({{{0, 0, 1280, 1024}, true}, {{1280, 100, 720, 576}, false}, {{2000, 0, 800, 600}, false}});
    place_on_second_monitor(w);
    const ui::Rect r = ui::get_window_rect(w);
    EXPECT_EQ(r.x, 1280);
    EXPECT_EQ(r.y, 100);
    EXPECT_EQ(r.w, kWindowWidth);
    EXPECT_EQ(r.h, kWindowHeight);
    ui::destroy_window(w);
    ui::set_monitors(saved);
}

class MixerRun : public ::testing::Test {
protected:
    MixerRun() {
        rig.prepare(s);
        s.ports = free_ports();
        s.shutdown = &shutdown;
    }
    // Runs the mixer on a thread of its own (which owns its window) until it ends.
    void start() {
        result = std::async(std::launch::async, [this] { return run_mixer(s, system); });
        ASSERT_TRUE(eventually([&] { return system.stored.load() != 0; }));
    }
    // The mixer's configuration service answers once its threads run.
    std::string list() {
        std::string reply;
        eventually([&] {
            udp.send(s.ports.configuration, "getconf");
            reply = udp.receive();
            return !reply.empty();
        });
        return reply;
    }
    test::MessageBoxes boxes;
    test::MixerRig rig;
    sys::RecordingShutdown shutdown;
    FakeSystem system;
    MixerState s;
    Udp udp;
    std::future<int> result;
};

TEST_F(MixerRun, SteeredOverUdpThenQuitSavesTheLiveLayout) {
    start();
    const std::string reply = list();
    ASSERT_EQ(reply.size(), 1000u);
    EXPECT_EQ(std::string(reply.c_str()), "1 kavro_old.xml ");
    EXPECT_EQ(system.created, "KAVRO");
    EXPECT_EQ(system.stored.load(), s.window.value);

    // A preset chosen by name is applied by the watcher and retired to kavro_old.xml.
    rig.edit("kavro_old.xml", "<alpha>0.8</alpha>", "<alpha>0.75</alpha>");
    std::filesystem::copy_file(rig.configs() + "kavro_old.xml", rig.configs() + "day.xml");
    std::string choose = "setconf day.xml";
    choose.resize(100, '\0');
    udp.send(s.ports.configuration, choose);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(s.graph_lock);
        return s.layout.alpha[0] == 0.75f && !std::filesystem::exists(rig.configs() + "kavro.xml");
    }));

    // A short layout: stream 1 moved and at 0.5, every other stream hidden.
    udp.send(s.ports.layout, "0.1 0.2 0.6 0.7 0.5");
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(s.graph_lock);
        return s.layout.right[0] == 0.6f && !s.shown[1] && !s.shown[10];
    }));
    udp.send(s.ports.layout, "-1");
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(shutdown.shutdown_requests.load(), 0);
    EXPECT_FALSE(s.objects.graph);
    const std::string saved = rig.read("kavro_old.xml");
    EXPECT_NE(saved.find("<left>0.1</left><top>0.2</top><right>0.6</right><bottom>0.7</bottom><alpha>0.5</alpha>"),
              std::string::npos)
        << saved;
    EXPECT_TRUE(boxes.empty()) << ::testing::PrintToString(boxes.seen());
}

TEST_F(MixerRun, MinusTwoShutsTheMachineDownAndEnds) {
    start();
    list();
    udp.send(s.ports.layout, "-2");
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(shutdown.privilege_requests.load(), 1);
    EXPECT_EQ(shutdown.shutdown_requests.load(), 1);
}

TEST_F(MixerRun, QuitRacingLayoutsAndThePendingFileLeavesNoTornGraph) {
    start();
    list();
    // Layouts that show and hide streams, pending files and a quit, all at once.
    std::thread files([&] {
        for (int i = 0; i < 8; ++i) {
            std::error_code ec;
            std::filesystem::copy_file(rig.configs() + "kavro_old.xml", rig.configs() + "kavro.xml",
                                       std::filesystem::copy_options::overwrite_existing, ec);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    for (int i = 0; i < 8; ++i) {
        std::string layout;
        for (int k = 0; k < 11; ++k) layout += "0 0 1 1 " + std::string((i + k) % 2 ? "0.8 " : "0 ");
        udp.send(s.ports.layout, layout + "0");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    udp.send(s.ports.layout, "-1");
    files.join();
    // The quit comes after the layouts queued before it, each of which stops and reconnects the graph: long
    // under the sanitizers on a loaded machine.
    ASSERT_EQ(result.wait_for(std::chrono::seconds(90)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_FALSE(s.objects.graph);
    EXPECT_TRUE(boxes.empty()) << ::testing::PrintToString(boxes.seen());
}
