// The video panes before the video graphs exist: no pictures, but each view still shows its own pane and
// hides the others', so the window behaves as it will with video.
#pragma once

#include "console/window/subsystems.h"

namespace kavro::console {

struct ConsoleApp;

class PanesWithoutVideo : public VideoPanes {
public:
    explicit PanesWithoutVideo(ConsoleApp& app) : app_(app) {}
    void stop_view(int view) override;
    void start_view(int view) override;

private:
    ConsoleApp& app_;
};

} // namespace kavro::console
