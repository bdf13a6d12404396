// The drive input shared by the operator window, the joystick, the Wii Remote and the command sender.
// Each field is written by one side and read by the other without a lock, hence atomics: relaxed for single
// values, release and acquire where a flag announces other fields (the selection, the autojump release).
#pragma once

#include <atomic>
#include <cstdint>

namespace kavro::console {

inline constexpr std::uint8_t kPadCentre = 100;
inline constexpr int kMaximumSpeed = 63;
inline constexpr int kDeadZone = 10;
// Selection bits of robots 1 to 4, in the order the command path walks them.
inline constexpr int kRobotBits[4] = {1, 2, 4, 8};

struct DriveState {
    std::atomic<std::uint8_t> pad_x{kPadCentre};   // turn input, larger = right
    std::atomic<std::uint8_t> pad_y{kPadCentre};   // forward input, smaller = forward
    std::atomic<bool> autojump_mode{false};
    std::atomic<bool> autojump_pending{false};     // set on pad release in autojump mode, cleared by the sender
    std::atomic<std::int32_t> selection_mask{0};   // OR of the selected robots' bits
    std::atomic<bool> reconnect_request{false};    // set on every robot check box click, consumed by the sender
    std::atomic<bool> quit{false};                 // set once at shutdown; every worker ends on it
    const int maximum_speed = kMaximumSpeed;
    const int dead_zone = kDeadZone;
};

// A click on a robot check box: the new selection, and a request that the sender redo the handshakes. The
// request is stored first and the mask published after it, so a sender that sees the new mask also sees the
// request and consumes it in the same cycle; the other order let it link the new robots, then take the request
// one cycle later and send every robot a second "init".
inline void set_selection(DriveState& drive, int mask) {
    drive.reconnect_request.store(true, std::memory_order_relaxed);
    drive.selection_mask.store(mask, std::memory_order_release);
}

} // namespace kavro::console
