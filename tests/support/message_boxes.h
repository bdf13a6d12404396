// Message boxes collected instead of shown, as "caption: text", answered with OK.
#pragma once

#include "platform/ui/message_box.h"

#include <mutex>
#include <string>
#include <vector>

namespace kavro::test {

// Installs itself as the message box presenter for its lifetime and puts the previous one back. Boxes may come
// from any thread (the plug-ins' worker threads show some).
class MessageBoxes {
public:
    MessageBoxes() {
        previous_ = ui::set_message_box_presenter([this](const std::string& text, const std::string& caption,
                                                         unsigned) {
            std::lock_guard lock(mutex_);
            seen_.push_back(caption + ": " + text);
            return ui::IDOK;
        });
    }
    ~MessageBoxes() { ui::set_message_box_presenter(previous_); }
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    std::vector<std::string> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    bool empty() const { return seen().empty(); }
    void clear() {
        std::lock_guard lock(mutex_);
        seen_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> seen_;
    ui::MessageBoxPresenter previous_;
};

} // namespace kavro::test
