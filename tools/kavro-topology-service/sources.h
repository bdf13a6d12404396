// Where the topology service's snapshots come from: a replayed capture of the daemon's output, or a topology
// description file that is read again whenever it changes.
#pragma once

#include "tools/kavro-topology-service/description.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavro::topology {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxCaptureBytes = 16 << 20;

// Splits a capture of the daemon's stream into its snapshots, each ending with "}\n\n". Bytes after the last
// complete snapshot (a capture cut short) form a last piece of their own unless they are only white space.
std::vector<std::string> split_snapshots(std::string_view capture);

// Reads a whole file of at most `limit` bytes. False with a message when it cannot be read or is larger.
bool read_file(const std::string& path, std::size_t limit, std::string& out, std::string& error);

class SnapshotSource {
public:
    virtual ~SnapshotSource() = default;
    // Brings the source up to `now` (called by the service's loop, one thread). Returns the snapshots that
    // became current since the last call, oldest first (empty: nothing changed).
    virtual std::vector<std::string> update(Clock::time_point now) = 0;
    // The snapshot a new client receives first. Never empty once the source is constructed.
    virtual const std::string& current() const = 0;
};

// Plays a capture's snapshots one after the other, one every `interval` from `start`, and starts over after
// the last. The daemon's captures hold no time stamps; the interval stands for the rate it wrote at.
class CaptureReplay final : public SnapshotSource {
public:
    CaptureReplay(std::vector<std::string> snapshots, std::chrono::milliseconds interval, Clock::time_point start);
    std::vector<std::string> update(Clock::time_point now) override;
    const std::string& current() const override { return snapshots_[index_ % snapshots_.size()]; }

private:
    std::vector<std::string> snapshots_;
    std::chrono::milliseconds interval_;
    Clock::time_point start_;
    std::uint64_t index_ = 0; // steps taken since start
};

// Renders a description file and watches it (size, modification time and file identity, looked at every
// `watch` period): a changed file that parses and renders differently is a new snapshot; a file that no longer
// parses is reported on stderr once and the previous topology stays.
class DescriptionFile final : public SnapshotSource {
public:
    DescriptionFile(std::string path, std::chrono::milliseconds watch);
    // Reads the file for the first time. False with a message when it cannot be read or parsed.
    bool load(std::string& error);
    std::vector<std::string> update(Clock::time_point now) override;
    const std::string& current() const override { return current_; }

private:
    struct Stamp {
        std::int64_t mtime_ns = -1, size = -1;
        std::uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    Stamp stamp() const;

    std::string path_;
    std::chrono::milliseconds watch_;
    Clock::time_point next_look_{};
    Stamp seen_;
    std::string current_;
};

} // namespace kavro::topology
