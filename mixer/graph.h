// The capture and mixing graph: the black background on renderer input 0, the eleven camera streams on inputs
// 1..11 (each connected only while its alpha is above 0.1), the sensor overlay through a sample grabber, and the
// second card's fourth camera into the network sender.
//
// Every function here except find_filter is called with the state's graph_lock held. Results of graph calls
// are also kept in the state's last result.
#pragma once

#include "mixer/state.h"

#include <string>

namespace kavro::mixer {

// The occurrence-th registered filter of the category (in the enumerator's order) whose friendly name begins
// with name (case-sensitive), bound to an object. When none matches: the message "<name> non trouvé" / "info"
// and VFW_E_NOT_FOUND.
HRESULT find_filter(REFCLSID category, const std::string& name, int occurrence, IBaseFilter** filter);

// Reads the configuration and builds and runs the graph into the state's window. On failure everything made so
// far is released and the failing result answered.
HRESULT build_graph(MixerState& s);

// The source filter and output pin of stream position 0..10.
struct StreamSource {
    IBaseFilter* filter;
    int pin;
};
StreamSource stream_source(const MixerState& s, int position);

// Connects the source's pin to renderer input position + 1 (the graph inserts what it needs between them).
// On failure the graph is released.
HRESULT connect_stream(MixerState& s, int position, IBaseFilter* source, int pin);
// The reverse; for a network camera (positions 7..10) the filter inserted between them is removed too.
// On failure the graph is released.
HRESULT disconnect_stream(MixerState& s, int position, IBaseFilter* source, int pin);
// Shows, hides and places stream position + 1 as the layout says: connected (graph stopped first) when its
// alpha reaches 0.1, disconnected (alpha set to 0) when it falls to 0.1 or below, else moved while running.
void apply_stream(MixerState& s, int position);
// apply_stream for the eleven positions in order, then runs the graph. Nothing once the graph is released.
void apply_layout(MixerState& s);

// Releases every graph object; a second call does nothing. The graph is stopped first, so the overlay
// callback has finished when its renderer goes.
void release_graph(MixerState& s);

// Writes the graph's description to the system path (under the drive-C root for "C:\\...").
HRESULT save_graph_file(IGraphBuilder* graph, const std::string& path);

// Hands the sensor filter the record of each channel 1..5 built from the document's sensor block.
HRESULT apply_sensor_settings(MixerState& s);

} // namespace kavro::mixer
