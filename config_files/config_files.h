// The mixer and console configuration files ("./configs/kavro.xml" and its fallback "kavro_old.xml").
//
// Both are read purely by position: element names and attributes are never looked at. A pending
// "kavro.xml" is applied and then renamed to "kavro_old.xml"; "kavro_old.xml" is the fallback.
#pragma once

#include "minxl/minxl.h"
#include "outside/sensor_record.h"
#include "outside/capteur_control.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kavro {

inline constexpr int kMixerStreams = 11;
inline constexpr int kConsolePanes = 8;
inline constexpr int kSensorChannels = 5;
inline constexpr std::size_t kSensorNameSize = 200;      // buffer size, terminator included
inline constexpr std::size_t kMaxLayoutFileName = 89;     // longest name the console saves its layout under
inline constexpr const char* kDefaultConfigsDir = "./configs/";

// Root positions of the mixer layout.
inline constexpr unsigned kMixerFirstStream = 2;
inline constexpr unsigned kMixerSensorBlock = 13;
// Root positions of the console layout.
inline constexpr unsigned kConsoleFirstPane = 2;
inline constexpr unsigned kConsoleSensorBlock = 10;

// What the mixer takes from its file: the eleven streams (index stream - 1), the overlay source and alpha.
struct MixerLayout {
    float left[kMixerStreams] = {};
    float top[kMixerStreams] = {};
    float right[kMixerStreams] = {};
    float bottom[kMixerStreams] = {};
    float alpha[kMixerStreams] = {};
    char sensor_name[kSensorNameSize] = {};
    float overlay_alpha = 0;
};

// One pane of the console's composite.
struct CompositePane {
    float left = 0, top = 0, right = 0, bottom = 0, alpha = 0;
    int z = 0;               // layer
    bool connected = false;  // the pane's source is connected to the renderer
};

// What the console takes from its file: eight panes, the overlay source and alpha.
struct ConsoleLayout {
    CompositePane panes[kConsolePanes];
    float overlay_alpha = 0; // the ninth alpha
    bool overlay_enabled = false;
    char sensor_name[kSensorNameSize] = {};
};

// Value formats of the files.
float read_real(const std::string& text);     // stream extraction of a float; not a number reads as 0
std::int32_t read_integer(const std::string& text); // stream extraction of a 32-bit int; not a number reads as 0
inline bool read_flag(const std::string& text) { return text == "1"; }
std::string format_real(float value);          // default stream formatting (six significant digits)

// Copies the sensor block's flags (children 2 and 3) and the group of channel 1..5 (child 3 + channel) into
// the settings fields of record; every other byte keeps its value. Throws MinXL::ex_invalid_child_index when
// the block is short.
void apply_channel_group(const MinXL::t_xml_node& sensor_block, int channel, SensorChannelRecord& record);
// The reverse: writes general_on, mode_on (third copy) and the twelve group values into existing elements.
void store_channel_group(MinXL::t_xml_node& sensor_block, int channel, const SensorChannelRecord& record);

// Loads the pending file or its fallback into doc and layout and retires the pending file. On failure shows
// "No configuration file !" and returns a failure; doc and layout keep what they held.
HRESULT read_mixer_config(MinXL::t_xml_node& doc, MixerLayout& layout,
                          const std::string& configs_dir = kDefaultConfigsDir);
// Stores the live layout and, when a sensor filter is given, its five channels into doc and saves it as the
// fallback file. Returns whether the file was written (the mixer itself ignores it).
bool write_mixer_config(MinXL::t_xml_node& doc, const MixerLayout& layout, ICapteurControl* sensor,
                        const std::string& configs_dir = kDefaultConfigsDir);

HRESULT read_console_config(MinXL::t_xml_node& doc, ConsoleLayout& layout,
                            const std::string& configs_dir = kDefaultConfigsDir);
// Saves the console layout under configs_dir + file_name. The name is a plain file name: at most 89
// characters, no folder part; anything else is refused and nothing is written.
bool write_console_config(MinXL::t_xml_node& doc, const ConsoleLayout& layout, ICapteurControl* sensor,
                          std::string_view file_name, const std::string& configs_dir = kDefaultConfigsDir);

bool is_plain_file_name(std::string_view name, std::size_t max_length);

} // namespace kavro
