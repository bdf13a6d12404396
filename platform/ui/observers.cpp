// Observers: every change of the model is told to each observer, on the thread that made it.
#include "platform/ui/state.h"

namespace kavro::ui {

namespace detail {

void notify(const std::vector<Event>& events) {
    if (events.empty()) return;
    std::vector<Observer> obs;
    {
        std::lock_guard g(state().m);
        for (auto& [k, fn] : state().observers) obs.push_back(fn);
    }
    for (const auto& e : events)
        for (auto& fn : obs) fn(e);
}

} // namespace detail

using namespace detail;

int add_observer(Observer fn) {
    std::lock_guard g(state().m);
    const int token = state().next_token++;
    state().observers.emplace(token, std::move(fn));
    return token;
}

void remove_observer(int token) {
    std::lock_guard g(state().m);
    state().observers.erase(token);
}

} // namespace kavro::ui
