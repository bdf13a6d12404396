// Drawing a DOT graph as JPEG with Graphviz in this process. Graphviz keeps process-wide state and is not
// made for hostile input: the layout component calls this only inside its worker process (layout_worker).
#pragma once

#include <string>
#include <string_view>

namespace kavro::graphviz {

enum class RenderStatus { Ok, NotDot, Failed };

// Lays out the first graph of the DOT text with the hierarchical layout ("dot") and draws it as JPEG into
// *jpeg. NotDot: the text holds no graph (syntax error); Failed: layout or drawing failed. *message gets
// Graphviz's first error text when there is one. A drawing larger than 768 x 576 pixels is shrunk to fit
// within it, unless the text sets the graph's size itself. Not thread-safe (Graphviz is not).
RenderStatus render_jpeg(std::string_view dot, std::string* jpeg, std::string* message);

} // namespace kavro::graphviz
