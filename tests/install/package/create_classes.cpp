// Creates, by its CLSID, every class the registry ($KAVRO_REGISTRY) has registered from the folder given, as a
// program looking for its plug-ins does; prints one line per class and the libraries seen. Exit code 0 when
// every one was created, 1 otherwise.
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: create_classes FOLDER/\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (FAILED(CoInitialize(nullptr))) return 1;
    int failures = 0;
    std::set<std::string> libraries;
    for (const std::string& key : kavro::registry::subkeys("SOFTWARE\\Classes\\CLSID")) {
        const auto server =
            kavro::registry::get_string("SOFTWARE\\Classes\\CLSID\\" + key + "\\InprocServer32", "");
        if (!server || !server->starts_with(folder)) continue;
        const std::string library = std::filesystem::path(*server).filename().string();
        libraries.insert(library);
        IUnknown* object = nullptr;
        const auto clsid = guid_from_string(key);
        const HRESULT hr = clsid ? CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void**>(&object))
                                 : E_FAIL;
        std::printf("%s %s %s\n", SUCCEEDED(hr) ? "created" : "FAILED", library.c_str(), key.c_str());
        if (object) object->Release();
        if (FAILED(hr)) ++failures;
    }
    CoUninitialize();
    std::printf("libraries:");
    for (const auto& l : libraries) std::printf(" %s", l.c_str());
    std::printf("\n");
    return failures ? 1 : 0;
}
