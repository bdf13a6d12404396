#include "console/sys_console_system.h"

#include <iostream>

namespace kavro::console {

bool SysConsoleSystem::instance_running(const std::string& name) { return sys::instance_running(name); }

void SysConsoleSystem::create_instance_block(const std::string& name) {
    // Another program asking for this one brings the operator window (or its open box) to the front.
    block_ = sys::InstanceBlock::create(name, [](std::uint32_t value) {
        if (value != 0) ui::bring_to_front(ui::Hwnd{value});
    });
    if (!block_) std::cerr << "InterfaceKAVRO: could not create the instance block \"" << name << "\"\n";
}

void SysConsoleSystem::publish_window(ui::Hwnd window) {
    if (block_) block_->store(window.value);
}

void SysConsoleSystem::on_end_request(std::function<void()> end) {
    signals_.reset();
    signals_ = sys::TerminationSignals::install([end = std::move(end)](int signal) {
        std::cerr << "InterfaceKAVRO: signal " << signal << ": leaving as on Exit\n";
        end();
    });
}

} // namespace kavro::console
