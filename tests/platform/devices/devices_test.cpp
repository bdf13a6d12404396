// The device layer: report lengths from descriptors, axis scaling, COM port names, and a serial port on a
// pseudo terminal.
#include "platform/devices/game_controller.h"
#include "platform/devices/hid.h"
#include "platform/devices/serial_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace kavro::devices;

TEST(HidDescriptor, NumberedReportsTakeTheLongestPlusTheIdentifier) {
    const std::uint8_t d[] = {
        0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, // usage page, usage, collection
        0x85, 0x20,                         // report id 0x20
        0x75, 0x08, 0x95, 0x06, 0x81, 0x00, // 6 bytes input
        0x85, 0x33,                         // report id 0x33
        0x95, 0x11, 0x81, 0x00,             // 17 bytes input
        0x75, 0x01, 0x95, 0x04, 0x81, 0x00, // plus 4 bits
        0x85, 0x11,                         // report id 0x11
        0x75, 0x08, 0x95, 0x01, 0x91, 0x00, // 1 byte output
        0x85, 0x16,
        0x95, 0x15, 0x91, 0x00,             // 21 bytes output
        0xC0};
    HidCaps c = caps_from_report_descriptor(d, sizeof d);
    EXPECT_TRUE(c.numbered_reports);
    EXPECT_EQ(c.input_report_length, 1 + 18);  // 17 bytes and 4 bits round up to 18
    EXPECT_EQ(c.output_report_length, 1 + 21);
}

TEST(HidDescriptor, UnnumberedPushPopLongItemsAndTruncation) {
    const std::uint8_t d[] = {
        0x75, 0x08, 0x95, 0x03,             // 8 bits x 3
        0xA4,                               // push
        0x95, 0x10,                         // 16
        0x91, 0x02,                         // output 16 bytes
        0xB4,                               // pop: back to 3
        0xFE, 0x02, 0x00, 0xAA, 0xBB,       // long item, skipped
        0x81, 0x02,                         // input 3 bytes
        0x27, 0xFF, 0xFF, 0x00, 0x00,       // logical maximum, 4-byte item
        0x95};                              // truncated item at the end
    HidCaps c = caps_from_report_descriptor(d, sizeof d);
    EXPECT_FALSE(c.numbered_reports);
    EXPECT_EQ(c.input_report_length, 4);
    EXPECT_EQ(c.output_report_length, 17);
    EXPECT_EQ(caps_from_report_descriptor(d, 0).input_report_length, 0);
}

TEST(GameControllerAxes, ScaleOntoTheFullRange) {
    EXPECT_EQ(scale_axis(0, 0, 255), 0);
    EXPECT_EQ(scale_axis(255, 0, 255), 65535);
    EXPECT_EQ(scale_axis(-32768, -32768, 32767), 0);
    EXPECT_EQ(scale_axis(32767, -32768, 32767), 65535);
    EXPECT_EQ(scale_axis(0, -32768, 32767), 32768);
    EXPECT_EQ(scale_axis(500, 0, 255), 65535) << "out-of-range values are clamped";
    EXPECT_EQ(scale_axis(5, 7, 7), 32767) << "an axis without a range reads as centred";
}

TEST(SerialNames, ComPortsMapToDevicePaths) {
    unsetenv("KAVRO_COM3");
    EXPECT_EQ(serial_device_path("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serial_device_path("COM10"), "/dev/ttyS9");
    EXPECT_EQ(serial_device_path("COM0"), "");
    EXPECT_EQ(serial_device_path("COM11"), "");
    EXPECT_EQ(serial_device_path("COMx"), "");
    EXPECT_EQ(serial_device_path("LPT1"), "");
    EXPECT_EQ(serial_device_path(""), "");
    EXPECT_EQ(serial_device_path("/dev/ttyUSB0"), "/dev/ttyUSB0");
    setenv("KAVRO_COM3", "/dev/ttyACM0", 1);
    EXPECT_EQ(serial_device_path("COM3"), "/dev/ttyACM0");
    unsetenv("KAVRO_COM3");
}

namespace {

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slave = ptsname(master);
    }
    ~Pty() { ::close(master); }
};

} // namespace

TEST(SerialPort, PseudoTerminalSettingsReadsAndExclusiveUse) {
    Pty pty;
    TermiosSerialPorts ports({{"COM4", pty.slave}, {"COM6", "/nonexistent/tty"}});
    EXPECT_EQ(ports.open("COM6"), nullptr) << "only existing devices are opened";
    EXPECT_EQ(ports.open("LPT1"), nullptr);
    auto port = ports.open("COM4");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(ports.open("COM4"), nullptr) << "a second open of the same port fails";

    SerialSettings s;
    s.interval_timeout_ms = 250;  // wide enough that a loaded machine keeps two close writes in one block
    s.total_timeout_ms = 400;
    ASSERT_TRUE(port->configure(s));
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    // Nothing there: the total time-out.
    char buf[256];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->read(buf, sizeof buf), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(390));

    // Two writes close together make one block; the pause after them ends the read.
    ASSERT_EQ(::write(pty.master, "$GPGGA,1", 8), 8);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(::write(pty.master, "23\n", 3), 3);
    });
    long n = port->read(buf, sizeof buf);
    later.join();
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), "$GPGGA,123\n");

    // A full buffer returns at once.
    std::string many(300, 'x');
    ASSERT_EQ(::write(pty.master, many.data(), many.size()), 300);
    EXPECT_EQ(port->read(buf, 100), 100);

    EXPECT_EQ(port->write("ok", 2), 2);
}

// Runs `body` as an unprivileged user: in a child process that drops root for uid/gid 65534 (nobody) when this
// test runs as root, else in a child as the current user. Answers the child's exit code (0 = success).
template <class Body> int as_unprivileged_user(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(90);
        if (::geteuid() == 0) ::_exit(91);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(SerialPort, PseudoTerminalReopensForAnUnprivilegedUser) {
    // Exclusive use must not outlive the port: a GPS bridged to a pty is closed and reopened when the operator
    // confirms the port, and only root may open a terminal left in exclusive mode.
    Pty pty;
    ASSERT_EQ(::chown(pty.slave.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(pty.slave.c_str(), 0600), 0);
    const std::string slave = pty.slave;
    const int code = as_unprivileged_user([&slave] {
        TermiosSerialPorts ports({{"COM1", slave}});
        for (int round = 0; round < 3; ++round) {
            auto port = ports.open("COM1");
            if (!port) return 10 + round;
            if (ports.open("COM1") != nullptr) return 20 + round; // still exclusive while open
            if (!port->configure(SerialSettings{})) return 30 + round;
        }
        return 0;
    });
    EXPECT_EQ(code, 0) << "10+n: open n failed, 20+n: a second open succeeded, 30+n: configure failed";
}
