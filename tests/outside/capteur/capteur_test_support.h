// Helpers of the sensor filter tests: filters built from the linked objects, records, UDP senders on loopback.
#pragma once

#include "outside/capteur/capteur.h"
#include "tests/platform/dshow/test_support.h"
#include "tests/support/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace capteur::test {

using namespace std::chrono_literals;

// A filter from the linked objects, held by its IUnknown, with its control interface and its own classes.
struct Filter {
    explicit Filter(const CapteurOptions& options = {}) {
        HRESULT hr = S_OK;
        CUnknown* obj = CCapteur::CreateInstance(nullptr, &hr, options);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(obj->NonDelegatingQueryInterface(IID_IBaseFilter, filter.put_void()), S_OK);
        EXPECT_EQ(filter->QueryInterface(IID_ICapteurControl, control.put_void()), S_OK);
        capteur = static_cast<CCapteur*>(static_cast<CSource*>(filter.get()));
    }
    ComPtr<IBaseFilter> filter;
    ComPtr<ICapteurControl> control;
    CCapteur* capteur = nullptr;
};

inline kavro::SensorChannelRecord status_record(std::uint32_t port, Address address) {
    kavro::SensorChannelRecord r{};
    r.status_port = port;
    std::memcpy(r.status_address, address.data(), 4);
    return r;
}

// A UDP socket bound on a loopback address (any port), to send from.
class Sender {
public:
    explicit Sender(const char* address) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, address, &a.sin_addr);
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Sender() {
        if (fd_ >= 0) ::close(fd_);
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    bool ok() const { return ok_; }
    bool send(std::uint16_t port, const std::string& text, const char* to_address = "127.0.0.1") const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, to_address, &to.sin_addr);
        return ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               ssize_t(text.size());
    }

private:
    int fd_ = -1;
    bool ok_ = false;
};

using kavro::test::free_udp_port;

// Polls until `done` or the limit.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

} // namespace capteur::test
