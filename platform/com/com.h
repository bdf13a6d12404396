// The COM shapes that cross plug-in boundaries: GUIDs, HRESULTs and IUnknown.
// Interfaces declare their methods in table order ("places"); places 0 to 2 are IUnknown's.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using BOOL = int;
// Other C libraries (GLib, libjpeg) define these as macros of the same values.
#ifndef TRUE
inline constexpr BOOL TRUE = 1;
#endif
#ifndef FALSE
inline constexpr BOOL FALSE = 0;
#endif

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

// Registry form with braces and upper-case digits: "{9E237DA7-8506-453F-99D9-8B80F69254FB}".
std::string guid_to_string(const GUID& g);
// Accepts the registry form with or without braces, any case; nothing else.
std::optional<GUID> guid_from_string(const std::string& text);

inline constexpr GUID GUID_NULL{};
inline constexpr CLSID CLSID_NULL{};

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_NOT_SUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007Au);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The platform's text for a result code ("E_POINTER", "VFW_E_NOT_FOUND", or "0x80041234" when unknown).
std::string hresult_name(HRESULT hr);

inline constexpr IID IID_IUnknown = make_guid("00000000-0000-0000-C000-000000000046");
inline constexpr IID IID_IClassFactory = make_guid("00000001-0000-0000-C000-000000000046");

// No virtual destructor: it would take a place in the table. Objects are destroyed by their own Release.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0; // place 0
    virtual ULONG AddRef() = 0;                                      // place 1
    virtual ULONG Release() = 0;                                     // place 2

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0; // place 3
    virtual HRESULT LockServer(BOOL lock) = 0;                                      // place 4

protected:
    ~IClassFactory() = default;
};
