// An in-memory operator window for tests: every control's state by identifier, the menu marks, the timers
// and a count of pad redraws.
#pragma once

#include "console/window/controls.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kavro::console::test {

struct FakeControl {
    bool checked = false, enabled = true, visible = true;
    Rect rect;
    std::string text;
    Ipv4Address address{};
    std::vector<std::string> items;
    int selected = -1;
    int range_low = 0, range_high = 100, step = 10, position = 0;
    int colour = -1;  // 0xRRGGBB once set
    std::vector<std::string> visited;  // a web pane's addresses, the current one last
};

class FakeControls : public Controls {
public:
    std::map<int, FakeControl> controls;
    std::map<int, bool> menu_marks, menu_greyed;
    std::map<int, unsigned> timers;
    int pad_redraws = 0, window_redraws = 0, about_boxes = 0;
    int ended_with = -1;

    FakeControl& at(int id) { return controls[id]; }
    const FakeControl& at(int id) const { return controls.at(id); }

    bool checked(int id) const override { return get(id).checked; }
    void set_checked(int id, bool on) override { controls[id].checked = on; }
    bool enabled(int id) const override { return get(id).enabled; }
    void set_enabled(int id, bool on) override { controls[id].enabled = on; }
    bool visible(int id) const override { return get(id).visible; }
    void set_visible(int id, bool on) override { controls[id].visible = on; }
    void set_rect(int id, const Rect& r) override { controls[id].rect = r; }
    std::string text(int id) const override {
        const FakeControl& c = get(id);
        if (!c.items.empty() && c.selected >= 0) return c.items[static_cast<std::size_t>(c.selected)];
        return c.text;
    }
    void set_text(int id, const std::string& t) override { controls[id].text = t; }
    unsigned number(int id) const override {
        const std::string t = get(id).text;
        if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos) return 0;
        return static_cast<unsigned>(std::stoul(t));
    }
    void set_number(int id, unsigned v) override { controls[id].text = std::to_string(v); }
    Ipv4Address address(int id) const override { return get(id).address; }
    void set_address(int id, const Ipv4Address& a) override { controls[id].address = a; }
    void list_clear(int id) override {
        controls[id].items.clear();
        controls[id].selected = -1;
    }
    void list_add(int id, const std::string& item) override { controls[id].items.push_back(item); }
    void list_select(int id, int index) override { controls[id].selected = index; }
    void set_progress_range(int id, int low, int high) override {
        controls[id].range_low = low;
        controls[id].range_high = high;
    }
    void set_progress_step(int id, int step) override { controls[id].step = step; }
    void set_progress_position(int id, int position) override { controls[id].position = position; }
    void set_progress_colour(int id, std::uint8_t r, std::uint8_t g, std::uint8_t b) override {
        controls[id].colour = (r << 16) | (g << 8) | b;
    }
    std::string web_location(int id) const override {
        const FakeControl& c = get(id);
        return c.visited.empty() ? std::string() : c.visited.back();
    }
    void web_navigate(int id, const std::string& url) override { controls[id].visited.push_back(url); }
    bool menu_checked(int id) const override { return menu_marks.count(id) && menu_marks.at(id); }
    void menu_check(int id, bool on) override { menu_marks[id] = on; }
    bool menu_enabled(int id) const override { return !(menu_greyed.count(id) && menu_greyed.at(id)); }
    void menu_enable(int id, bool on) override { menu_greyed[id] = !on; }
    void set_timer(int id, unsigned ms) override { timers[id] = ms; }
    void kill_timer(int id) override { timers.erase(id); }
    void redraw_pad() override { ++pad_redraws; }
    void redraw_window() override { ++window_redraws; }
    void about_box() override { ++about_boxes; }
    void end_and_quit(int result) override { ended_with = result; }

private:
    const FakeControl& get(int id) const {
        static const FakeControl none;
        auto it = controls.find(id);
        return it == controls.end() ? none : it->second;
    }
};

} // namespace kavro::console::test
