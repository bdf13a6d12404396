// Capteur: the sensor filter. It keeps a channel record, status, position, waypoints and an integer per index
// (1..4 the robots, 5 the base station), takes each robot's status datagrams from the network (where to listen
// and whom to accept come from the records), and delivers an overlay picture of the status on one video pin:
// 768 x 576, 32-bit RGB, rows top first, about ten frames a second, black where nothing is drawn.
//
// AddressBytes and LoopbackBytes are inputs: the console hands each index's address right after naming the
// index in GetConfig/SetConfig, and the reference address; both are kept, neither is changed.
#pragma once

#include "outside/capteur_control.h"
#include "outside/capteur/channels.h"
#include "outside/capteur/status_listener.h"
#include "platform/dshow/base/factory.h"
#include "platform/dshow/base/source.h"

namespace capteur {

struct CapteurOptions {
    Clock::duration silence = kDefaultSilence;
    REFERENCE_TIME frame_period = UNITS / 10;
    ListenerOptions listener;
};

} // namespace capteur

class CCapteur;

class CCapteurStream : public CSourceStream {
public:
    CCapteurStream(HRESULT* phr, CCapteur* filter, REFERENCE_TIME period);

    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT OnThreadCreate() override;
    HRESULT Notify(IBaseFilter* self, Quality q) override;

private:
    CCapteur* m_capteur;
    const REFERENCE_TIME m_period;
    // Streaming thread only.
    long long m_frame = 0;
    capteur::Clock::time_point m_due{};
};

class CCapteur : public CSource, public ICapteurControl {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // With other periods and ports, for tests.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr, const capteur::CapteurOptions& options);
    ~CCapteur() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override;

    // ICapteurControl
    HRESULT Reserved3() override;
    HRESULT Reserved4() override;
    HRESULT SetConfig(int index, const kavro::SensorChannelRecord* record) override;
    HRESULT GetConfig(int index, kavro::ConsoleSensorChannelRecord* record) override;
    HRESULT LoopbackBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3, unsigned char* b4) override;
    HRESULT AddressBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3, unsigned char* b4) override;
    HRESULT GetStatus(int* index, std::int32_t* battery, std::int32_t* wheel1, std::int32_t* wheel2,
                      std::int32_t* signal) override;
    HRESULT GetPosition(int* index, float* latitude, float* longitude) override;
    HRESULT SetWaypoint(int* robot, int waypoint, float* x, float* y) override;
    HRESULT SetRobotValue(int* robot, int* value) override;

    capteur::ChannelTable& Channels() { return m_channels; }
    capteur::StatusListener& Listener() { return m_listener; }

private:
    CCapteur(IUnknown* outer, HRESULT* phr, const capteur::CapteurOptions& options);

    capteur::ChannelTable m_channels;
    capteur::StatusListener m_listener;
};
