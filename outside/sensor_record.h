// The sensor channel record: the settings of one channel of the sensor filter, exchanged through
// ICapteurControl as raw bytes. Its layout is fixed by the filter, so every offset is checked here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavro {

// The 52 bytes that the mixer exchanges (thirteen little-endian 32-bit words).
struct SensorChannelRecord {
    std::uint8_t general_on;   // 0
    std::uint8_t setting2_on;  // 1
    std::uint8_t setting3_on;  // 2
    std::uint8_t mode_on_1;    // 3  the four copies of mode_on
    std::uint8_t mode_on_2;    // 4
    std::uint8_t setting1_on;  // 5
    std::uint8_t setting4_on;  // 6
    std::uint8_t mode_on_3;    // 7  (the copy that is written back to files)
    std::uint8_t mode_on_4;    // 8
    std::uint8_t unused[3];    // 9..11, kept as the filter returned them
    std::int32_t setting2_a;   // 12
    std::int32_t setting2_b;   // 16
    std::int32_t setting3_a;   // 20
    std::int32_t setting3_b;   // 24
    std::int32_t setting1_a;   // 28
    std::int32_t setting1_b;   // 32
    std::int32_t setting4_a;   // 36
    std::int32_t setting4_b;   // 40
    std::uint32_t status_port; // 44  where the channel's status arrives
    std::uint8_t status_address[4]; // 48  in dotted order
};

// The console's copy adds the mesh node address of the channel.
struct ConsoleSensorChannelRecord {
    SensorChannelRecord settings;  // 0..51
    std::uint8_t node_address[4];  // 52..55 in dotted order
};

static_assert(sizeof(SensorChannelRecord) == 52);
static_assert(sizeof(ConsoleSensorChannelRecord) == 56);
static_assert(offsetof(SensorChannelRecord, general_on) == 0);
static_assert(offsetof(SensorChannelRecord, setting2_on) == 1);
static_assert(offsetof(SensorChannelRecord, setting3_on) == 2);
static_assert(offsetof(SensorChannelRecord, mode_on_1) == 3);
static_assert(offsetof(SensorChannelRecord, mode_on_2) == 4);
static_assert(offsetof(SensorChannelRecord, setting1_on) == 5);
static_assert(offsetof(SensorChannelRecord, setting4_on) == 6);
static_assert(offsetof(SensorChannelRecord, mode_on_3) == 7);
static_assert(offsetof(SensorChannelRecord, mode_on_4) == 8);
static_assert(offsetof(SensorChannelRecord, setting2_a) == 12);
static_assert(offsetof(SensorChannelRecord, setting2_b) == 16);
static_assert(offsetof(SensorChannelRecord, setting3_a) == 20);
static_assert(offsetof(SensorChannelRecord, setting3_b) == 24);
static_assert(offsetof(SensorChannelRecord, setting1_a) == 28);
static_assert(offsetof(SensorChannelRecord, setting1_b) == 32);
static_assert(offsetof(SensorChannelRecord, setting4_a) == 36);
static_assert(offsetof(SensorChannelRecord, setting4_b) == 40);
static_assert(offsetof(SensorChannelRecord, status_port) == 44);
static_assert(offsetof(SensorChannelRecord, status_address) == 48);
static_assert(offsetof(ConsoleSensorChannelRecord, node_address) == 52);

} // namespace kavro
