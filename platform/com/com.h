// The COM shapes that cross plug-in boundaries: GUIDs, HRESULTs and IUnknown.
// Interfaces declare their methods in table order ("places"); places 0 to 2 are IUnknown's.
#pragma once

#include <cstdint>
#include <cstring>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

namespace kavro::com_detail {
constexpr std::uint32_t hex_digit(char c) {
    return c >= '0' && c <= '9' ? std::uint32_t(c - '0')
           : c >= 'a' && c <= 'f' ? std::uint32_t(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? std::uint32_t(c - 'A' + 10)
                                  : throw "GUID: not a hexadecimal digit";
}
constexpr std::uint32_t hex(const char* s, int digits) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) v = v * 16 + hex_digit(s[i]);
    return v;
}
} // namespace kavro::com_detail

// A GUID from its registry form without braces: "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
constexpr GUID make_guid(const char (&s)[37]) {
    using kavro::com_detail::hex;
    GUID g{hex(s, 8), std::uint16_t(hex(s + 9, 4)), std::uint16_t(hex(s + 14, 4)), {}};
    g.Data4[0] = std::uint8_t(hex(s + 19, 2));
    g.Data4[1] = std::uint8_t(hex(s + 21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = std::uint8_t(hex(s + 24 + 2 * i, 2));
    return g;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr IID IID_IUnknown = make_guid("00000000-0000-0000-C000-000000000046");

// No virtual destructor: it would take a place in the table. Objects are destroyed by their own Release.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0; // place 0
    virtual ULONG AddRef() = 0;                                      // place 1
    virtual ULONG Release() = 0;                                     // place 2

protected:
    ~IUnknown() = default;
};
