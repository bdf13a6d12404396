#include "platform/graphviz/render.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

namespace kavro::graphviz {

namespace {

std::string* g_message = nullptr; // the message of the call in progress
bool g_complete = false;           // its first line is complete

// Graphviz hands its messages over in pieces; the first line is kept.
int keep_message(char* text) {
    if (!g_message || g_complete || !text) return 0;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') {
            g_complete = true;
            break;
        }
        if (g_message->size() < 300) g_message->push_back(*p);
    }
    return 0;
}

GVC_t* context() {
    static GVC_t* gvc = [] {
        agseterrf(keep_message);
        // Every graph read from now on is drawn at most 8 x 6 inches, 768 x 576 at the JPEG's 96 dots an inch:
        // the mesh picture's frame. Graphviz shrinks a larger drawing as vectors, which keeps its labels
        // readable and costs a fraction of drawing, encoding and decoding a picture several times the frame.
        // A text that sets its own size keeps it.
        agattr(nullptr, AGRAPH, const_cast<char*>("size"), const_cast<char*>("8,6"));
        return gvContext();
    }();
    return gvc;
}

} // namespace

RenderStatus render_jpeg(std::string_view dot, std::string* jpeg, std::string* message) {
    std::string discard;
    if (!message) message = &discard;
    message->clear();
    jpeg->clear();
    GVC_t* gvc = context();
    if (!gvc) {
        *message = "Graphviz could not start";
        return RenderStatus::Failed;
    }
    g_message = message;
    g_complete = false;
    const std::string text(dot); // agmemread wants a terminated text
    Agraph_t* g = agmemread(text.c_str());
    if (!g) {
        g_message = nullptr;
        if (message->empty()) *message = "no graph in the text";
        return RenderStatus::NotDot;
    }
    RenderStatus status = RenderStatus::Failed;
    if (gvLayout(gvc, g, "dot") == 0) {
        char* data = nullptr;
        unsigned int length = 0;
        if (gvRenderData(gvc, g, "jpg", &data, &length) == 0 && data && length > 0) {
            jpeg->assign(data, length);
            status = RenderStatus::Ok;
        }
        if (data) gvFreeRenderData(data);
        gvFreeLayout(gvc, g);
    }
    agclose(g);
    g_message = nullptr;
    if (status != RenderStatus::Ok && message->empty()) *message = "the graph could not be drawn";
    return status;
}

} // namespace kavro::graphviz
