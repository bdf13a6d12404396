#include "tools/kavro-topology-service/sources.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kavro::topology {

std::vector<std::string> split_snapshots(std::string_view capture) {
    static constexpr std::string_view kEnd = "}\n\n";
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < capture.size()) {
        std::size_t end = capture.find(kEnd, pos);
        if (end == std::string_view::npos) {
            std::string_view rest = capture.substr(pos);
            if (rest.find_first_not_of(" \t\r\n") != std::string_view::npos) out.emplace_back(rest);
            break;
        }
        out.emplace_back(capture.substr(pos, end + kEnd.size() - pos));
        pos = end + kEnd.size();
    }
    return out;
}

bool read_file(const std::string& path, std::size_t limit, std::string& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<std::size_t>(in.gcount()));
        if (text.size() > limit) {
            error = path + ": larger than " + std::to_string(limit) + " bytes";
            return false;
        }
    }
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    out = std::move(text);
    return true;
}

CaptureReplay::CaptureReplay(std::vector<std::string> snapshots, std::chrono::milliseconds interval,
                             Clock::time_point start)
    : snapshots_(std::move(snapshots)), interval_(interval.count() > 0 ? interval : std::chrono::milliseconds(1)),
      start_(start) {
    if (snapshots_.empty()) snapshots_.emplace_back("digraph topology\n{\n}\n\n");
}

std::vector<std::string> CaptureReplay::update(Clock::time_point now) {
    std::vector<std::string> fresh;
    if (snapshots_.size() < 2 || now < start_) return fresh; // one snapshot never changes
    const auto steps = static_cast<std::uint64_t>((now - start_) / interval_);
    // After a long stall only the last few steps are worth sending: a client wants the present.
    if (steps > index_ + 8) index_ = steps - 8;
    while (index_ < steps) {
        ++index_;
        fresh.push_back(current());
    }
    return fresh;
}

DescriptionFile::DescriptionFile(std::string path, std::chrono::milliseconds watch)
    : path_(std::move(path)), watch_(watch) {}

DescriptionFile::Stamp DescriptionFile::stamp() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return {};
    return {std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec, std::int64_t{st.st_size},
            std::uint64_t{st.st_ino}};
}

bool DescriptionFile::load(std::string& error) {
    seen_ = stamp();
    std::string text;
    Description d;
    if (!read_file(path_, kMaxDescriptionBytes, text, error)) return false;
    if (!parse_description(text, d, error)) {
        error = path_ + ": " + error;
        return false;
    }
    current_ = render_dot(d);
    return true;
}

std::vector<std::string> DescriptionFile::update(Clock::time_point now) {
    std::vector<std::string> fresh;
    if (now < next_look_) return fresh;
    next_look_ = now + watch_;
    Stamp s = stamp();
    if (s == seen_) return fresh;
    seen_ = s;
    std::string text, error;
    Description d;
    if (!read_file(path_, kMaxDescriptionBytes, text, error) ||
        (!parse_description(text, d, error) && (error = path_ + ": " + error, true))) {
        std::fprintf(stderr, "kavro-topology-service: %s (the previous topology stays)\n", error.c_str());
        return fresh;
    }
    std::string dot = render_dot(d);
    if (dot != current_) {
        current_ = std::move(dot);
        fresh.push_back(current_);
    }
    return fresh;
}

} // namespace kavro::topology
