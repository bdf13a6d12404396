// regsvr32: registers (or with /u removes) a COM server library by calling its registration export.
//   regsvr32 [/s] [/u] <library>
// Exit code 0 on success; otherwise a message on standard error (none with /s) and a non-zero code:
// 1 usage, 3 the library cannot be loaded, 4 it lacks the export, 5 the export failed.
#include "platform/com/runtime.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <strings.h>

namespace {

int fail(bool silent, int code, const std::string& text) {
    if (!silent) std::fprintf(stderr, "regsvr32: %s\n", text.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv) {
    bool silent = false, unregister = false;
    std::string library;
    bool usage_error = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg[0] == '/' || arg[0] == '-') && arg.size() == 2) {
            const char c = arg[1];
            if (c == 's' || c == 'S')
                silent = true;
            else if (c == 'u' || c == 'U')
                unregister = true;
            else
                usage_error = true;
        } else if (library.empty()) {
            library = arg;
        } else {
            usage_error = true;
        }
    }
    if (usage_error || library.empty())
        return fail(silent, 1, "usage: regsvr32 [/s] [/u] <library>");

    // A file named relative to the current folder ("noir.ax", "../x/noir.ax") is loaded by its absolute
    // path: dlopen would search the library path for a bare name, and the registry must hold a path that
    // works from any folder.
    std::error_code ec;
    if (library.find('/') == std::string::npos ? std::filesystem::exists(library, ec)
                                               : std::filesystem::path(library).is_relative()) {
        const auto absolute = std::filesystem::absolute(library, ec);
        if (!ec) library = absolute.lexically_normal().string();
    }
    void* lib = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* e = dlerror();
        return fail(silent, 3, "cannot load " + library + ": " + (e ? e : "unknown error"));
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, entry));
    if (!fn) return fail(silent, 4, library + " has no entry point " + entry);
    const HRESULT hr = fn();
    if (FAILED(hr)) return fail(silent, 5, std::string(entry) + " in " + library + " failed: " + hresult_name(hr));
    if (!silent) std::printf("%s in %s succeeded.\n", entry, library.c_str());
    return 0;
}
