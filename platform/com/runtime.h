// The COM runtime: one per process (shared library kavro_com).
//
// CoCreateInstance looks a CLSID up first in the table of built-in classes (filled by the platform's own
// libraries, e.g. the filter graph), then in the registry's COM server keys
// ("SOFTWARE\Classes\CLSID\{clsid}\InprocServer32", default value = library path); a plug-in library is
// loaded once with dlopen and asked for a class factory through its exported DllGetClassObject.
#pragma once

#include "platform/com/com.h"

#include <cstddef>
#include <string>

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_ALL = 0x17;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Threads need no set-up here; these succeed so that code written for the platform runs unchanged.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object);

// The task allocator: blocks handed across interfaces (media type formats, page lists).
void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* block);

// Signatures of a plug-in library's exports.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

namespace kavro::com {

// The built-in class table. A platform library adds its classes (typically from a static initialiser of a
// shared library, see KAVRO_BUILTIN_CLASS); a later registration of the same CLSID replaces the earlier one.
// The creation function follows IClassFactory::CreateInstance.
using CreateFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);
void register_builtin_class(REFCLSID clsid, CreateFn create);
void unregister_builtin_class(REFCLSID clsid);
bool is_builtin_class(REFCLSID clsid);

// The path of the registry key holding a class's COM server: "SOFTWARE\Classes\CLSID\{...}".
std::string clsid_key(REFCLSID clsid);

// Loads (once) a plug-in library and returns its dlopen handle, or null with a message on stderr.
void* load_library(const std::string& path, std::string* error = nullptr);

} // namespace kavro::com

// Registers a built-in class when the shared library holding this line is loaded.
#define KAVRO_BUILTIN_CLASS(tag, clsid, fn)                                                                    \
    namespace {                                                                                                \
    [[maybe_unused]] const bool kavro_builtin_##tag = (::kavro::com::register_builtin_class(clsid, fn), true); \
    }
