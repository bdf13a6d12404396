#include "mixer/listeners.h"

#include "mixer/graph.h"
#include "mixer/protocol.h"
#include "util/text_split.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>

namespace kavro::mixer {

namespace {

enum Which { kLayout, kCameraPicture, kIpCamera, kConfiguration };
constexpr const char* kNames[] = {"layout", "camera picture", "network camera", "configuration"};

int bind_udp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

Workers::Workers(MixerState& s) : s_(s), wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Workers::~Workers() {
    stop();
    for (auto& t : threads_)
        if (t.joinable()) t.join();
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

void Workers::start() {
    const Ports& p = s_.ports;
    threads_.emplace_back([this, port = p.layout] { listen(port, kLayout); });
    threads_.emplace_back([this, port = p.camera_picture] { listen(port, kCameraPicture); });
    threads_.emplace_back([this, port = p.ip_camera] { listen(port, kIpCamera); });
    threads_.emplace_back([this, port = p.configuration] { listen(port, kConfiguration); });
    threads_.emplace_back([this] { watch(); });
}

void Workers::stop() {
    s_.stop.store(true);
    const std::uint64_t one = 1;
    if (wake_fd_ >= 0) (void)!::write(wake_fd_, &one, sizeof one);
}

void Workers::listen(std::uint16_t port, int which) {
    const int fd = bind_udp(port);
    if (fd < 0) {
        std::cerr << "Talvor: the " << kNames[which] << " port " << port << " cannot be used: "
                  << std::strerror(errno) << "\n";
        return;
    }
    char buffer[kDatagramSize + 1];
    while (!s_.stop.load()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (::poll(fds, 2, 1000) <= 0 || !(fds[0].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, kDatagramSize, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
        if (n <= 0 || s_.stop.load()) continue;
        buffer[n] = '\0';
        handle(which, fd, buffer, std::size_t(n), &from, from_size);
        if (which == kLayout && s_.stop.load()) break;
    }
    ::close(fd);
}

void Workers::handle(int which, int fd, const char* data, std::size_t size, const void* from, unsigned from_size) {
    const TextTokens tokens(data, size);
    switch (which) {
    case kLayout: {
        const LayoutOutcome outcome = handle_layout(s_, tokens);
        if (outcome == LayoutOutcome::applied) return;
        if (outcome == LayoutOutcome::quit_and_shut_down && s_.shutdown) sys::shut_down_machine(*s_.shutdown);
        // The destroy steps run on the window's thread; this thread waits until they are done.
        if (s_.window) ui::send_message(s_.window, ui::WM_CLOSE);
        stop();
        return;
    }
    case kCameraPicture: handle_camera_picture(s_, tokens); return;
    case kIpCamera: handle_ip_camera(s_, tokens); return;
    case kConfiguration:
        if (auto reply = handle_configuration(s_, tokens))
            (void)::sendto(fd, reply->data(), reply->size(), 0, static_cast<const sockaddr*>(from), from_size);
        return;
    }
}

void Workers::watch() {
    while (!s_.stop.load()) {
        if (!apply_pending_configuration(s_)) return;
        pollfd wake{wake_fd_, POLLIN, 0};
        ::poll(&wake, 1, 100);
    }
}

} // namespace kavro::mixer
