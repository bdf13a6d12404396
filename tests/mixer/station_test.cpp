// The Talvor program from outside, as a second station sees it: it runs in a network namespace of its own (only
// its loopback is up, so it binds its real ports and reaches nothing else), with Qt offscreen, and is steered
// with datagrams sent from a thread that joined that namespace. Skipped, with the reason, where no namespace can
// be made (not root, no `ip`).
#include "tests/mixer/station.h"

#include <random>
#include <set>

using namespace kavro;
using namespace kavro::test;

namespace {

// Datagrams of garbage per port: the full count normally, fewer where the sanitizers slow every datagram down.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kGarbagePerPort = 10000;
#else
constexpr int kGarbagePerPort = 100000;
#endif

} // namespace

TEST_F(Station, ConfigurationServiceQuitAndSavedState) {
    std::ofstream(rig.configs() + "interface.xml") << "<i/>";
    std::ofstream(rig.configs() + "interface_old.xml") << "<i/>";
    Talvor talvor(ns, rig, log());
    ns.inside([&] {
        Client c;
        std::string reply = c.getconf();
        ASSERT_EQ(reply.size(), 1000u) << file("talvor.log");
        const std::string text = reply.c_str();
        EXPECT_TRUE(text == "2 interface.xml kavro_old.xml " || text == "2 kavro_old.xml interface.xml ") << text;
        EXPECT_EQ(reply.find_first_not_of('\0', text.size()), std::string::npos); // NUL filler

        // A preset chosen by name is applied and retired within about 100 ms (here: within a second).
        rig.edit("kavro_old.xml", "<alpha>0.8</alpha>", "<alpha>0.7</alpha>");
        std::filesystem::copy_file(rig.configs() + "kavro_old.xml", rig.configs() + "night.xml");
        c.send(11000, "setconf night.xml");
        const auto sent = std::chrono::steady_clock::now();
        while (std::filesystem::exists(rig.configs() + "kavro.xml") ||
               rig.read("kavro_old.xml") != rig.read("night.xml")) {
            ASSERT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Names outside the folder copy nothing.
        c.send(11000, "setconf ../talvor.log");
        c.send(11000, "getconf x"); // not a list request: no reply
        EXPECT_EQ(c.receive(300), "");

        // Without any configuration file left, getconf stays unanswered.
        for (const char* n : {"interface.xml", "interface_old.xml", "kavro_old.xml", "night.xml"})
            std::filesystem::remove(rig.configs() + n);
        c.send(11000, "getconf");
        EXPECT_EQ(c.receive(300), "");

        // The network cameras are given exactly the values received: camera 2 asks this address for its stream.
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
        ::listen(server, 4);
        c.send(10000, "0 0 0 0 0 2 127 0 0 1 " + std::to_string(ntohs(a.sin_port)) + " 2 0 0 0 0 0 2 0 0 0 0 0 2");
        pollfd p{server, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        const int peer = ::accept(server, nullptr, nullptr);
        char request[512] = {};
        pollfd q{peer, POLLIN, 0};
        ::poll(&q, 1, 5000);
        EXPECT_GT(::recv(peer, request, sizeof request - 1, 0), 0);
        EXPECT_EQ(std::string(request).rfind("GET /video.mjpg ", 0), 0u) << request;
        ::close(peer);
        ::close(server);

        // Picture adjustments, scaled by 1.275 in single precision: camera 3 is input 3 of the first card,
        // camera 6 input 6 (the second card's second).
        c.send(8000, "3 100 100 100 100");
        c.send(8000, "6 200 0 200 0");

        // A short layout, then the quit: the live values are saved and the program ends with 0.
        c.send(7000, "0.1 0.2 0.6 0.7 0.5");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.send(7000, "-1");
    });
    EXPECT_EQ(talvor.wait(60), 0) << file("talvor.log");
    const std::string saved = rig.read("kavro_old.xml");
    EXPECT_NE(saved.find("<left>0.1</left><top>0.2</top><right>0.6</right><bottom>0.7</bottom><alpha>0.5</alpha>"),
              std::string::npos)
        << saved;
    EXPECT_NE(file("talvor.log").find("init 1\ninit 2\ninit 3\ninit 4\nfin init\n"), std::string::npos);
    EXPECT_NE(file("talvor.log").find("setconf refused"), std::string::npos);
    // One line per value received (other threads' lines may come between them).
    for (const char* line : {"card 1: input 3 brightness 127", "card 1: input 3 contrast 127",
                             "card 1: input 3 saturation 127", "card 1: input 3 hue 127",
                             "card 2: input 6 brightness 254", "card 2: input 6 contrast 0",
                             "card 2: input 6 saturation 254", "card 2: input 6 hue 0"})
        EXPECT_NE(file("talvor.log").find("Adlink " + std::string(line) + "\n"), std::string::npos) << line;
    EXPECT_EQ(file("shutdown.log"), "");
}

TEST_F(Station, OneMixerPerMachineAndMinusTwoShutsDown) {
    Talvor first(ns, rig, log());
    ns.inside([&] { ASSERT_EQ(Client().getconf().size(), 1000u) << file("talvor.log"); });
    {
        Talvor second(ns, rig, rig.configs() + "../second.log");
        EXPECT_EQ(second.wait(60), 0);
        EXPECT_NE(file("second.log").find("Erreur: Cette application est déjà lancée."), std::string::npos)
            << file("second.log");
    }
    ns.inside([&] {
        Client c;
        EXPECT_EQ(c.getconf().size(), 1000u); // the first one still serves
        c.send(7000, "-2");
    });
    EXPECT_EQ(first.wait(60), 0) << file("talvor.log");
    EXPECT_EQ(file("shutdown.log"), "shutdown\n");
}

TEST_F(Station, RefusedBesideTheConsole) {
    // The console's block, held by a helper process in the same namespace until its standard input closes.
    int input[2], output[2];
    ASSERT_EQ(::pipe(input), 0);
    ASSERT_EQ(::pipe(output), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        ::close(input[1]);
        ::close(output[0]);
        ::execlp("ip", "ip", "netns", "exec", ns.name().c_str(), INSTANCE_PROBE, "hold", "InterfaceKAVRO",
                 static_cast<char*>(nullptr));
        ::_exit(121);
    }
    ::close(input[0]);
    ::close(output[1]);
    char ready[6] = {};
    ASSERT_EQ(::read(output[0], ready, 5), 5);
    EXPECT_STREQ(ready, "ready");
    Talvor talvor(ns, rig, log());
    EXPECT_EQ(talvor.wait(60), 0);
    EXPECT_NE(file("talvor.log").find("Erreur: L'interface KAVRO est déjà lancée sur cette machine."),
              std::string::npos)
        << file("talvor.log");
    ::close(input[1]);
    ::close(output[0]);
    ::waitpid(holder, nullptr, 0);
}

TEST_F(Station, MalformedDatagramsOnEveryPortLeaveItUpIdleAndWritingOnlyItsFolder) {
    Talvor talvor(ns, rig, log());
    const auto folder_before = [&] {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(rig.configs() + ".."))
            if (e.path().parent_path().filename() != "configs") names.insert(e.path().filename().string());
        return names;
    };
    long baseline = 0;
    ns.inside([&] {
        Client c;
        ASSERT_EQ(c.getconf().size(), 1000u) << file("talvor.log");
        c.send(7000, "0"); // every stream hidden, as the garbage below leaves them: the same work before and after
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long start = talvor.cpu_ticks();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        baseline = talvor.cpu_ticks() - start;
        const auto before = folder_before();
        std::mt19937 random(7);
        // Text that reads as no number (so no stream is shown), blanks, separators and control bytes.
        const char raw[] = "abcxyz /\\:setconfgetx\0\x7f\xff";
        const std::string alphabet(raw, sizeof raw - 1);
        for (std::uint16_t port : {7000, 8000, 10000, 11000}) {
            for (int i = 0; i < kGarbagePerPort; ++i) {
                std::string d(random() % 1200, '\0');
                for (char& ch : d) ch = alphabet[random() % alphabet.size()];
                if (port == 11000 && d.rfind("setconf", 0) == 0) d = "setconf ../" + d;
                c.send(port, d);
            }
        }
        ASSERT_EQ(c.getconf().size(), 1000u); // still serving
        EXPECT_EQ(folder_before(), before);
    });
    // Once what was queued is handled, back to the work of showing its picture (a loaded machine: some slack).
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long start = talvor.cpu_ticks();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_LE(talvor.cpu_ticks() - start, baseline * 3 / 2 + ::sysconf(_SC_CLK_TCK) / 5);
    EXPECT_EQ(talvor.wait(0), -1);
}
