// The graph file writer: a readable description of a graph's filters and connections.
#pragma once

#include "platform/dshow/interfaces.h"

#include <string>

namespace kavro::dshow {

// The description: one line per filter ("filter \"Noir\" {9E23...}"), then one per connection
// ("connect \"Noir\".\"Output 1\" -> \"VMR9\".\"VMR Input0\" video/{subtype} 768x576x16").
KAVRO_DSHOW_API std::string describe_graph(IFilterGraph* graph);
// Writes the description to path (temporary file + rename). E_POINTER, or E_FAIL when it cannot be written.
KAVRO_DSHOW_API HRESULT write_graph_file(IFilterGraph* graph, const std::string& path);

} // namespace kavro::dshow
