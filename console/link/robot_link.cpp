#include "console/link/robot_link.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace kavro::console {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kCatchUpLimit = std::chrono::milliseconds(500);

int clamp_magnitude(int v) { return std::clamp(v, 0, kMaximumSpeed); }

} // namespace

WheelBytes wheel_from_pad(std::uint8_t pad_x, std::uint8_t pad_y, int maximum_speed, int dead_zone) {
    // The pad's usable half-range is 94 steps; the dead zone is cut off after scaling.
    const float k = static_cast<float>(maximum_speed + dead_zone) / 94.0f;
    const int turn = static_cast<int>(static_cast<float>(pad_x - 100) * k);
    const int forward = static_cast<int>(static_cast<float>(pad_y - 100) * -k);

    int t = 0;
    if (std::abs(turn) >= dead_zone) t = turn > 0 ? turn - dead_zone : turn + dead_zone;
    int f = 0;
    if (std::abs(forward) >= dead_zone) f = forward > 0 ? forward - dead_zone : forward + dead_zone;

    WheelBytes w{};
    if (f == 0) { // pure rotation
        const int m = std::abs(t);
        if (t > 0) {
            w.wheel2 = static_cast<std::uint8_t>(m + kForwardBit);
            w.wheel1 = static_cast<std::uint8_t>(m);
        } else {
            w.wheel2 = static_cast<std::uint8_t>(m);
            w.wheel1 = static_cast<std::uint8_t>(m + kForwardBit);
        }
    } else if (f > 0) {
        w.wheel2 = static_cast<std::uint8_t>(clamp_magnitude(f + t) + kForwardBit);
        w.wheel1 = static_cast<std::uint8_t>(clamp_magnitude(f - t) + kForwardBit);
    } else {
        const int r = -f;
        w.wheel2 = static_cast<std::uint8_t>(clamp_magnitude(t + r));
        w.wheel1 = static_cast<std::uint8_t>(clamp_magnitude(r - t));
    }
    return w;
}

std::array<char, kSpeedCommandLength> speed_command(std::uint8_t wheel1, std::uint8_t wheel2) {
    return {'s', 'p', 'e', 'e', 'd', ' ', static_cast<char>(wheel1), ' ', static_cast<char>(wheel2)};
}

std::array<char, kAutojumpCommandLength> autojump_command(std::uint8_t pad_x, std::uint8_t pad_y) {
    return {'a', 'u', 't', 'o', 'j', 'u', 'm', 'p', ' ', static_cast<char>(pad_x), ' ', static_cast<char>(pad_y)};
}

CommandSender::CommandSender(DriveState& drive, RobotTable& table, const RobotLinkFields& fields, LinkTiming timing)
    : drive_(drive), table_(table), fields_(fields), timing_(timing) {}

bool CommandSender::connect(int robot) {
    RobotRow& row = table_.robot(robot);
    row.endpoint.close();
    const auto address = fields_.address(robot);
    if (address[0] == 0 && address[1] == 0 && address[2] == 0 && address[3] == 0) return false;
    const unsigned port = fields_.command_port(robot);
    char dotted[16];
    format_dotted(address.data(), dotted);
    if (!row.endpoint.open_towards(static_cast<std::uint16_t>(port), dotted)) return false;
    if (row.endpoint.send("init", 4) < 1) {
        row.endpoint.close();
        return false;
    }
    const long wait_us = static_cast<long>(timing_.handshake_wait.count());
    // Any datagram will do; its sender becomes the peer. A receive error counts as no reply.
    if (row.endpoint.receive(wait_us / 1000000, wait_us % 1000000) <= 0) {
        row.endpoint.close();
        return false;
    }
    return true;
}

void CommandSender::forget(int robot) {
    RobotRow& row = table_.robot(robot);
    row.endpoint.close();
    row.linked.store(false, std::memory_order_relaxed);
}

void CommandSender::release_deselected(int mask) {
    const auto stop = speed_command(kStopWheel, kStopWheel);
    for (int i = 0; i < kRobotCount; ++i) {
        if ((mask & kRobotBits[i]) != 0) continue;
        RobotRow& row = table_.robot(i + 1);
        if (!row.linked.load(std::memory_order_relaxed)) continue;
        // A robot must not keep driving on a command nobody sends any more.
        row.endpoint.send(stop.data(), kSpeedCommandLength);
        forget(i + 1);
    }
}

void CommandSender::send_to_selected(int mask, const char* bytes, int length) {
    for (int i = 0; i < kRobotCount; ++i) {
        if ((mask & kRobotBits[i]) == 0) continue;
        RobotRow& row = table_.robot(i + 1);
        if (!row.linked.load(std::memory_order_relaxed)) continue;
        if (row.endpoint.send(bytes, length) <= 0) forget(i + 1); // the next cycle redoes the handshake
    }
}

bool CommandSender::handshake_selected(int mask) {
    constexpr auto relaxed = std::memory_order_relaxed;
    bool handshakes = false;
    for (int i = 0; i < kRobotCount; ++i) {
        RobotRow& row = table_.robot(i + 1);
        if ((mask & kRobotBits[i]) == 0 || row.linked.load(relaxed)) continue;
        // A robot without an address is never contacted: that takes no time, so it is no handshake and must
        // not hold back the schedule of the others.
        if (is_unset(fields_.address(i + 1))) continue;
        row.linked.store(connect(i + 1), relaxed);
        drive_.autojump_pending.store(false, relaxed);
        handshakes = true;
    }
    return handshakes;
}

void CommandSender::send_autojump() {
    constexpr auto relaxed = std::memory_order_relaxed;
    // One command per release of the pad; leaving autojump mode during the wait still sends it.
    // Acquire pairs with the release of the pad, so the jump goes to where the pad was let go.
    while (!drive_.autojump_pending.load(std::memory_order_acquire) && drive_.autojump_mode.load(relaxed) &&
           !drive_.quit.load(relaxed))
        std::this_thread::sleep_for(timing_.autojump_step);
    const auto command = autojump_command(drive_.pad_x.load(relaxed), drive_.pad_y.load(relaxed));
    drive_.autojump_pending.store(false, relaxed);
    const int mask = drive_.selection_mask.load(relaxed);
    release_deselected(mask);
    send_to_selected(mask, command.data(), kAutojumpCommandLength);
}

void CommandSender::send_speed(int mask) {
    constexpr auto relaxed = std::memory_order_relaxed;
    WheelBytes w = wheel_from_pad(drive_.pad_x.load(relaxed), drive_.pad_y.load(relaxed), drive_.maximum_speed,
                                  drive_.dead_zone);
    if (w.wheel1 == 0) w.wheel1 = kStopWheel;
    if (w.wheel2 == 0) w.wheel2 = kStopWheel;
    const auto command = speed_command(w.wheel1, w.wheel2);
    send_to_selected(mask, command.data(), kSpeedCommandLength);
}

void CommandSender::run() {
    constexpr auto relaxed = std::memory_order_relaxed;
    auto deadline = Clock::now();
    while (!drive_.quit.load(relaxed)) {
        // Acquire pairs with set_selection: a new mask comes with its reconnect request.
        const int mask = drive_.selection_mask.load(std::memory_order_acquire);
        release_deselected(mask);
        if (mask == 0) {
            drive_.autojump_pending.store(false, relaxed);
            std::this_thread::sleep_for(timing_.idle);
            deadline = Clock::now();
            continue;
        }
        if (drive_.reconnect_request.exchange(false, relaxed)) {
            // Every click on a robot check box restarts the handshake of all selected robots.
            for (int robot = 1; robot <= kRobotCount; ++robot) forget(robot);
        }
        const bool handshakes = handshake_selected(mask);
        if (drive_.autojump_mode.load(relaxed)) {
            send_autojump();
            deadline = Clock::now();
        } else {
            send_speed(mask);
        }

        // The period runs against a steady clock so that the work of a cycle does not stretch it, and a cycle
        // that started late (the thread was not scheduled in time) is caught up: each robot gets 25 commands a
        // second. Handshakes are different: a silent robot costs up to 150 ms in every cycle, so after a cycle
        // with handshakes the schedule restarts one period later instead of sending a burst; so it does after
        // a delay too long to be worth catching up.
        deadline += timing_.period;
        const auto now = Clock::now();
        if (handshakes || now - deadline > kCatchUpLimit) deadline = std::max(deadline, now + timing_.period);
        std::this_thread::sleep_until(deadline);
    }
    release_deselected(0);
}

void command_sender_thread(DriveState& drive, RobotTable& table, const RobotLinkFields& fields, LinkTiming timing) {
    CommandSender(drive, table, fields, timing).run();
}

} // namespace kavro::console
