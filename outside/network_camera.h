// The network camera sources "Caméras IP1" to "Caméras IP4": one output pin each, one class and one
// private interface identifier per camera, all four interfaces with the same table.
#pragma once

#include "platform/com/com.h"

#include <cstdint>

inline constexpr CLSID CLSID_NetworkCamera1 = make_guid("00DB31C8-5AEE-4F12-B5CA-BF5792DF91C6");
inline constexpr CLSID CLSID_NetworkCamera2 = make_guid("2FF2C733-09C1-46D1-BB06-9FAEA9582901");
inline constexpr CLSID CLSID_NetworkCamera3 = make_guid("3B709AD9-3763-4FC5-9755-B7988CE23100");
inline constexpr CLSID CLSID_NetworkCamera4 = make_guid("EFCF6322-90C4-439D-940D-F964DF5D0F08");
inline constexpr IID IID_INetworkCamera1 = make_guid("7E658C86-1950-49A9-A6E9-B0AA4252E811");
inline constexpr IID IID_INetworkCamera2 = make_guid("60CA2737-2F1A-4DB9-9CA3-C0B84E0A7372");
inline constexpr IID IID_INetworkCamera3 = make_guid("43B27B80-C362-4A2A-9756-494CB10335AE");
inline constexpr IID IID_INetworkCamera4 = make_guid("C157D556-6FAB-4124-AC06-1B6449A1D9A1");

// Camera kinds the console passes.
inline constexpr std::int32_t kCameraKindZoom = 1;
inline constexpr std::int32_t kCameraKindMjpeg = 2;
inline constexpr std::int32_t kCameraKindMpeg4 = 3;

// Methods in table order. The console passes the camera's four address bytes (dotted order), its port
// and its kind; the mixer passes the six integers it receives.
struct INetworkCamera : IUnknown {
    virtual HRESULT SetCamera(std::int32_t v1, std::int32_t v2, std::int32_t v3, std::int32_t v4, std::int32_t v5,
                              std::int32_t v6) = 0; // place 3

protected:
    ~INetworkCamera() = default;
};
