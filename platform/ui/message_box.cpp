#include "platform/ui/message_box.h"

#include <cstdio>
#include <mutex>

namespace kavro::ui {

namespace {
// The window system is one per process, like the one it stands for.
struct Presenter {
    std::mutex lock;
    MessageBoxPresenter fn;
};
Presenter& presenter() {
    static Presenter p;
    return p;
}
} // namespace

int message_box(const std::string& text, const std::string& caption, unsigned flags) {
    MessageBoxPresenter fn;
    {
        std::lock_guard g(presenter().lock);
        fn = presenter().fn;
    }
    if (fn) return fn(text, caption, flags);
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return (flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

MessageBoxPresenter set_message_box_presenter(MessageBoxPresenter fn) {
    std::lock_guard g(presenter().lock);
    std::swap(presenter().fn, fn);
    return fn;
}

} // namespace kavro::ui
