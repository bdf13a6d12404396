// The sensor filter "Capteur": robot status, positions and the overlay picture for both programs.
#pragma once

#include "outside/sensor_record.h"
#include "platform/com/com.h"

inline constexpr CLSID CLSID_Capteur = make_guid("C0AA9776-ACF4-4A19-A3A2-A6BF69EB74BB");
inline constexpr IID IID_ICapteurControl = make_guid("196BA9EC-58FC-4598-AB06-B5F06D8D9704");

// Methods in table order. Index 1..4 are the robots, 5 the base station.
// SetConfig reads the 52 settings bytes of the record; GetConfig fills the 56-byte console form, whose first
// 52 bytes are what the mixer keeps.
struct ICapteurControl : IUnknown {
    virtual HRESULT Reserved3() = 0;                                                      // place 3, never called
    virtual HRESULT Reserved4() = 0;                                                      // place 4, never called
    virtual HRESULT SetConfig(int index, const kavro::SensorChannelRecord* record) = 0;  // place 5
    virtual HRESULT GetConfig(int index, kavro::ConsoleSensorChannelRecord* record) = 0; // place 6
    virtual HRESULT LoopbackBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3,
                                  unsigned char* b4) = 0; // place 7
    virtual HRESULT AddressBytes(unsigned char* b1, unsigned char* b2, unsigned char* b3,
                                 unsigned char* b4) = 0; // place 8
    virtual HRESULT GetStatus(int* index, std::int32_t* battery, std::int32_t* wheel1, std::int32_t* wheel2,
                              std::int32_t* signal) = 0;                          // place 9
    virtual HRESULT GetPosition(int* index, float* latitude, float* longitude) = 0; // place 10
    virtual HRESULT SetWaypoint(int* robot, int waypoint, float* x, float* y) = 0;  // place 11
    virtual HRESULT SetRobotValue(int* robot, int* value) = 0;                      // place 12

protected:
    ~ICapteurControl() = default;
};
