// A sensor filter's control interface that does nothing: tests derive from it and override what they watch.
#pragma once

#include "outside/capteur_control.h"

namespace kavro::test {

// Owned by the test (reference counting does nothing, no other interface); every call succeeds without
// touching its arguments, the two reserved places answer E_NOTIMPL like the real filter.
struct SensorStub : ICapteurControl {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT SetConfig(int, const SensorChannelRecord*) override { return S_OK; }
    HRESULT GetConfig(int, ConsoleSensorChannelRecord*) override { return S_OK; }
    HRESULT LoopbackBytes(unsigned char*, unsigned char*, unsigned char*, unsigned char*) override { return S_OK; }
    HRESULT AddressBytes(unsigned char*, unsigned char*, unsigned char*, unsigned char*) override { return S_OK; }
    HRESULT GetStatus(int*, std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*) override { return S_OK; }
    HRESULT GetPosition(int*, float*, float*) override { return S_OK; }
    HRESULT SetWaypoint(int*, int, float*, float*) override { return S_OK; }
    HRESULT SetRobotValue(int*, int*) override { return S_OK; }
};

} // namespace kavro::test
