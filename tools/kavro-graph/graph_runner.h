// The graph runner behind kavro-graph: one source filter rendered through a sample grabber into a null
// renderer (or the video renderer in a window), frames counted with their time stamps, the last frame kept.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/dshow/dshow.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kavro::graph {

// A filter by CLSID ("{...}" or without braces) or by friendly name among the registered filters: an exact
// name first, else the first name that begins with the text (as the mixer finds "Noir"). False with a
// message when there is none or it cannot be created.
bool find_filter(const std::string& name_or_clsid, ComPtr<IBaseFilter>& filter, std::string& found_name,
                 std::string& error);

// Registers a plug-in library in the current registry through its DllRegisterServer.
bool register_plugin(const std::string& path, std::string& error);

struct FrameTime {
    bool stamped = false;
    REFERENCE_TIME start = 0, stop = 0;
};

// A frame as pixels 0xFFRRGGBB, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

// What the grabber saw; filled on the streaming thread, read by the caller under the lock.
class FrameLog {
public:
    static constexpr std::size_t kMaxTimes = 100000; // time stamps kept (frames are counted beyond)

    void add(const FrameTime& t, const BYTE* data, std::size_t length);
    void set_format(const AM_MEDIA_TYPE& mt); // from the grabber's connection
    std::uint64_t frames() const;
    std::vector<FrameTime> times() const;
    // The last frame converted from the connection's format (16, 24 or 32-bit RGB); false when there is none
    // or the format is another.
    bool last_picture(Picture& out, std::string& error) const;
    std::string format_text() const; // "768x576 RGB24 top-down"

private:
    mutable std::mutex m_; // guards everything below
    std::uint64_t frames_ = 0;
    std::vector<FrameTime> times_;
    std::vector<BYTE> last_;
    GUID subtype_{};
    BITMAPINFOHEADER header_{};
};

struct RunOptions {
    OAHWND window = 0; // a ui window to render into with the video renderer; 0: the null renderer
};

// A running graph: source -> sample grabber -> renderer.
class GraphRun {
public:
    GraphRun();
    ~GraphRun(); // stops the graph
    // Builds the graph around the source and runs it. False with a message on failure.
    bool start(IBaseFilter* source, const std::string& name, const RunOptions& options, std::string& error);
    void stop();
    const FrameLog& log() const { return *log_; }

private:
    struct Callback;
    std::shared_ptr<FrameLog> log_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<ISampleGrabber> grabber_;
    Callback* callback_ = nullptr;
};

// Writes the picture as PNG (.png) or JPEG (.jpg, .jpeg; quality 1..100). False with a message.
bool save_picture(const Picture& picture, const std::string& path, int quality, std::string& error);

} // namespace kavro::graph
