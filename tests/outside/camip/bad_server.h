// A scripted hostile MJPEG server on loopback: each connection gets one kind of bad behaviour.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavro::test {

enum class Hostile {
    wrong_content_type, // a web page instead of a stream
    no_boundary,        // a multipart type that names no boundary
    huge_part,          // a part of 100 MB without a length
    not_jpeg,           // parts typed as JPEG that hold text
    truncated_jpeg,     // parts with the first half of a JPEG
    corrupt_jpeg,       // parts that start and end like a JPEG but hold garbage
    trickle,            // a good stream, one byte a second
    reset_mid_frame,    // half a frame, then a connection reset
};

class BadServer {
public:
    BadServer(Hostile mode, std::vector<std::uint8_t> jpeg) : mode_(mode), jpeg_(std::move(jpeg)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 8);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~BadServer() {
        stop_ = true;
        acceptor_.join();
        for (auto& t : connections_) t.join();
        ::close(listener_);
    }
    int port() const { return port_; }
    int accepted() const { return accepted_.load(); }

private:
    void accept_loop() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++accepted_;
            connections_.emplace_back([this, fd] {
                serve(fd);
                ::close(fd);
            });
        }
    }

    // Sends everything unless the peer has gone or the server stops; false when it could not.
    bool send_all(int fd, const void* data, std::size_t n) {
        const char* p = static_cast<const char*>(data);
        while (n > 0 && !stop_) {
            pollfd w{fd, POLLOUT, 0};
            if (::poll(&w, 1, 50) <= 0) continue;
            const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
            if (sent <= 0) return false;
            p += sent;
            n -= std::size_t(sent);
        }
        return n == 0;
    }
    bool send_text(int fd, const std::string& s) { return send_all(fd, s.data(), s.size()); }
    void pause(std::chrono::milliseconds d) {
        const auto end = std::chrono::steady_clock::now() + d;
        while (!stop_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bool part(int fd, const void* body, std::size_t n) {
        return send_text(fd, "--b\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n") &&
               send_all(fd, body, n) && send_text(fd, "\r\n");
    }

    void serve(int fd) {
        char request[4096];
        ::recv(fd, request, sizeof request, 0); // the request itself does not matter
        const std::string ok = "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=b\r\n\r\n";
        switch (mode_) {
        case Hostile::wrong_content_type:
            send_text(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>camera login</html>");
            pause(std::chrono::seconds(30));
            break;
        case Hostile::no_boundary:
            send_text(fd, "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\n--b\r\n\r\n");
            pause(std::chrono::seconds(30));
            break;
        case Hostile::huge_part: {
            if (!send_text(fd, ok + "--b\r\nContent-Type: image/jpeg\r\n\r\n\xFF\xD8")) break;
            const std::vector<char> chunk(1 << 20, 'x');
            for (int mb = 0; mb < 100 && send_all(fd, chunk.data(), chunk.size()); ++mb) {
            }
            pause(std::chrono::seconds(30));
            break;
        }
        case Hostile::not_jpeg:
            if (!send_text(fd, ok)) break;
            while (!stop_ && part(fd, "hello, this is not a picture", 28)) pause(std::chrono::milliseconds(40));
            break;
        case Hostile::truncated_jpeg:
            if (!send_text(fd, ok)) break;
            while (!stop_ && part(fd, jpeg_.data(), jpeg_.size() / 2)) pause(std::chrono::milliseconds(40));
            break;
        case Hostile::corrupt_jpeg: {
            std::vector<std::uint8_t> bad(jpeg_.size(), 0x5A);
            bad[0] = 0xFF, bad[1] = 0xD8, bad[bad.size() - 2] = 0xFF, bad[bad.size() - 1] = 0xD9;
            if (!send_text(fd, ok)) break;
            while (!stop_ && part(fd, bad.data(), bad.size())) pause(std::chrono::milliseconds(40));
            break;
        }
        case Hostile::trickle: {
            std::string all = ok + "--b\r\nContent-Type: image/jpeg\r\n\r\n";
            all.append(jpeg_.begin(), jpeg_.end());
            for (char c : all) {
                if (stop_ || !send_all(fd, &c, 1)) break;
                pause(std::chrono::seconds(1));
            }
            break;
        }
        case Hostile::reset_mid_frame: {
            if (send_text(fd, ok + "--b\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                  std::to_string(jpeg_.size()) + "\r\n\r\n"))
                send_all(fd, jpeg_.data(), jpeg_.size() / 2);
            linger l{1, 0}; // close with a reset
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            break;
        }
        }
    }

    Hostile mode_;
    std::vector<std::uint8_t> jpeg_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::list<std::thread> connections_; // acceptor thread only, then joined by the destructor
};

} // namespace kavro::test
