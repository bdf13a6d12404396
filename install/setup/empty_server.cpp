// A COM server library without classes. Two libraries of the registration list, an outside viewer helper
// control and an outside video decoder, have no part to play here: the camera viewer controls need no helper
// and the platform carries its own JPEG decoder. They are installed as this library so that an installation
// registers the same fourteen libraries; registering it records nothing and always succeeds.
#include "platform/com/com.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID, void** object) {
    if (object) *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return S_OK; }
extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() { return S_OK; }
extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() { return S_OK; }
