#include "mixer/sys_mixer_system.h"

#include <iostream>

namespace kavro::mixer {

bool SysMixerSystem::instance_running(const std::string& name) { return sys::instance_running(name); }

void SysMixerSystem::create_instance_block(const std::string& name, ui::Hwnd window) {
    // Another program asking for this one brings the mixer's window to the front.
    block_ = sys::InstanceBlock::create(name, [](std::uint32_t value) {
        if (value != 0) ui::bring_to_front(ui::Hwnd{value});
    });
    if (!block_) {
        std::cerr << "Talvor: could not create the instance block \"" << name << "\"\n";
        return;
    }
    block_->store(window.value);
}

void SysMixerSystem::on_end_request(std::function<void()> end) {
    signals_.reset();
    if (!end) return;
    signals_ = sys::TerminationSignals::install([end = std::move(end)](int signal) {
        std::cerr << "Talvor: signal " << signal << ": leaving as on a quit request\n";
        end();
    });
}

} // namespace kavro::mixer
