// The capture card source "Adlink": four video output pins and the picture adjustments of its inputs.
#pragma once

#include "platform/com/com.h"

#include <cstdint>

inline constexpr CLSID CLSID_CaptureCard = make_guid("7855F7FF-36DD-4DE9-B997-1596998A0ECE");
inline constexpr IID IID_IPictureAdjust = make_guid("0D328FDB-6024-4E94-A989-7DD0066FBC25");

// Methods in table order. The four adjustments of one input (0..7) take a value 0..254; the odd places
// between them are not called.
struct IPictureAdjust : IUnknown {
    virtual HRESULT Reserved3() = 0;                                                  // place 3
    virtual HRESULT SetAdjustment1(std::int32_t value, std::uint8_t input) = 0;      // place 4
    virtual HRESULT Reserved5() = 0;                                                  // place 5
    virtual HRESULT SetAdjustment2(std::int32_t value, std::uint8_t input) = 0;      // place 6
    virtual HRESULT Reserved7() = 0;                                                  // place 7
    virtual HRESULT SetAdjustment3(std::int32_t value, std::uint8_t input) = 0;      // place 8
    virtual HRESULT Reserved9() = 0;                                                  // place 9
    virtual HRESULT SetAdjustment4(std::int32_t value, std::uint8_t input) = 0;      // place 10

protected:
    ~IPictureAdjust() = default;
};
