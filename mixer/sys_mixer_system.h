// Start-up's system pieces on the platform: the named instance blocks and the system's end requests.
#pragma once

#include "mixer/startup.h"
#include "platform/sys/instance.h"
#include "platform/sys/signals.h"

#include <memory>

namespace kavro::mixer {

class SysMixerSystem : public MixerSystem {
public:
    bool instance_running(const std::string& name) override;
    void create_instance_block(const std::string& name, ui::Hwnd window) override;
    void on_end_request(std::function<void()> end) override;

private:
    // Held for the life of the process: the name exists exactly as long as the mixer runs.
    std::unique_ptr<sys::InstanceBlock> block_;
    std::unique_ptr<sys::TerminationSignals> signals_;
};

} // namespace kavro::mixer
