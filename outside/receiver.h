// The network receiver "JPEG Receiver": shows the mixer's picture sent over the network.
#pragma once

#include "platform/com/com.h"

#include <cstdint>

inline constexpr CLSID CLSID_JpegReceiver = make_guid("99F25DE4-E4AD-4E94-A74B-1FD2AFB46CE3");
inline constexpr IID IID_IJpegReceiver = make_guid("F3067CF3-8762-4A68-A9B2-A8989C535216");

// Methods in table order: the mixer's four address bytes (dotted order) and port.
struct IJpegReceiver : IUnknown {
    virtual HRESULT SetSource(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4,
                              std::int32_t port) = 0; // place 3

protected:
    ~IJpegReceiver() = default;
};
