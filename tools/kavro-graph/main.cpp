// kavro-graph [--register PLUGIN]... FILTER [--seconds S] [--window] [--pages] [--save FILE] [--quality Q]
//             [--screenshot FILE.png] [--quiet]
// Runs one source filter alone: renders it through a sample grabber into a null renderer (or a window), prints
// its frames' time stamps and count, saves the last frame, opens the filter's property pages.
#include "platform/com/property_pages.h"
#include "platform/ui/property_frame.h"
#include "platform/ui/qt/front_end.h"
#include "tools/kavro-graph/graph_runner.h"

#include <QPixmap>
#include <QWidget>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kavro;
using Clock = std::chrono::steady_clock;

struct Options {
    std::vector<std::string> plugins;
    std::string filter;
    double seconds = -1; // not given
    bool window = false, pages = false, quiet = false;
    std::string save, screenshot;
    int quality = 90;
};

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "kavro-graph: %s\n"
                 "usage: kavro-graph [--register PLUGIN]... FILTER [--seconds S] [--window] [--pages]\n"
                 "                   [--save FILE.png|FILE.jpg] [--quality Q] [--screenshot FILE.png] [--quiet]\n"
                 "  FILTER            a registered filter's friendly name (or its beginning), or a CLSID\n"
                 "  --register PLUGIN registers a plug-in library in the registry ($KAVRO_REGISTRY) first\n"
                 "  --seconds S       how long the graph runs (default 5; with --pages: until the frame closes)\n"
                 "  --window          renders into a window (video renderer) instead of the null renderer\n"
                 "  --pages           opens the filter's property pages in a property frame while it runs\n"
                 "  --save FILE       saves the last frame as PNG or JPEG (--quality, default 90)\n"
                 "  --screenshot FILE saves a picture of the property frame (or the window) at the end\n"
                 "  --quiet           no line per frame\n"
                 "Windows need a display; QT_QPA_PLATFORM=offscreen runs without one.\n",
                 why.c_str());
    return 2;
}

int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--window") o.window = true;
        else if (a == "--pages") o.pages = true;
        else if (a == "--quiet" || a == "-q") o.quiet = true;
        else if (a == "--help" || a == "-h") return usage("runs one filter alone"), 0;
        else if (a == "--register" || a == "--save" || a == "--screenshot" || a == "--seconds" || a == "--quality") {
            const char* v = value();
            if (!v) return usage(a + " needs a value");
            const std::string s = v;
            if (a == "--register") o.plugins.push_back(s);
            else if (a == "--save") o.save = s;
            else if (a == "--screenshot") o.screenshot = s;
            else if (a == "--seconds") {
                auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), o.seconds, std::chars_format::fixed);
                if (ec != std::errc{} || end != s.data() + s.size() || !(o.seconds >= 0 && o.seconds <= 86400))
                    return usage("--seconds needs a number of seconds");
            } else {
                auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), o.quality);
                if (ec != std::errc{} || end != s.data() + s.size() || o.quality < 1 || o.quality > 100)
                    return usage("--quality needs 1..100");
            }
        } else if (!a.empty() && a[0] == '-') {
            return usage("unknown option " + a);
        } else if (o.filter.empty()) {
            o.filter = a;
        } else {
            return usage("one filter at a time");
        }
    }
    if (o.filter.empty()) return usage("which filter?");
    if (o.seconds < 0) o.seconds = o.pages ? 0 : 5;
    return -1;
}

void print_times(const graph::FrameLog& log, bool quiet) {
    const auto times = log.times();
    if (!quiet)
        for (std::size_t i = 0; i < times.size(); ++i) {
            const auto& t = times[i];
            if (t.stamped)
                std::printf("frame %zu: %.3f - %.3f ms\n", i + 1, double(t.start) / 10000.0, double(t.stop) / 10000.0);
            else
                std::printf("frame %zu: no time stamp\n", i + 1);
        }
}

// Opens the filter's property pages in a frame (S_FALSE: it has none).
HRESULT open_pages(IBaseFilter* filter, const std::string& name, ui::PropertyFrame& frame) {
    ComPtr<ISpecifyPropertyPages> specify;
    HRESULT hr = filter->QueryInterface(IID_ISpecifyPropertyPages, specify.put_void());
    if (FAILED(hr)) return hr;
    CAUUID pages{0, nullptr};
    if (FAILED(hr = specify->GetPages(&pages))) return hr;
    std::vector<CLSID> list(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    if (list.empty()) return S_FALSE;
    return frame.open(ui::Hwnd{}, 120, 120, name, {filter}, list);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (int rc = parse(argc, argv, o); rc >= 0) return rc;
    kavro::dshow::register_builtin_classes();
    std::string error, name;
    for (const auto& p : o.plugins)
        if (!graph::register_plugin(p, error)) return std::fprintf(stderr, "kavro-graph: %s\n", error.c_str()), 1;
    ComPtr<IBaseFilter> filter;
    if (!graph::find_filter(o.filter, filter, name, error))
        return std::fprintf(stderr, "kavro-graph: %s\n", error.c_str()), 1;

    std::unique_ptr<ui::qt::FrontEnd> front;
    if (o.window || o.pages || !o.screenshot.empty()) front = std::make_unique<ui::qt::FrontEnd>(argc, argv);
    ui::Hwnd video;
    if (o.window) {
        ui::WindowSpec spec;
        spec.title = "kavro-graph: " + name;
        spec.rect = {80, 80, 768, 576};
        video = ui::create_window(spec, ui::def_window_proc);
        const ui::FrameInsets in = ui::frame_insets(video);
        ui::move_window(video, 80, 80, 768 + in.left + in.right, 576 + in.top + in.bottom);
        ui::show_window(video, ui::SW_SHOW);
    }

    graph::GraphRun run;
    if (!run.start(filter.get(), name, {OAHWND(video.value)}, error))
        return std::fprintf(stderr, "kavro-graph: %s\n", error.c_str()), 1;
    std::printf("%s: %s\n", name.c_str(), run.log().format_text().c_str());
    std::fflush(stdout);

    ui::PropertyFrame frame;
    if (o.pages) {
        const HRESULT hr = open_pages(filter.get(), name, frame);
        if (hr != S_OK) std::fprintf(stderr, "kavro-graph: no property pages to show (%s)\n", hresult_name(hr).c_str());
    }
    const auto start = Clock::now();
    const auto until = start + std::chrono::milliseconds(std::lround(o.seconds * 1000));
    const bool until_closed = o.pages && o.seconds == 0 && frame.is_open();
    ui::Hwnd ticker = ui::create_window({}, [&](ui::Hwnd self, unsigned msg, ui::WPARAM wp, ui::LPARAM lp) -> ui::LRESULT {
        if (msg == ui::WM_TIMER && (until_closed ? !frame.is_open() : Clock::now() >= until)) {
            if (!o.screenshot.empty() && front) {
                const ui::Hwnd shown = frame.is_open() ? frame.hwnd() : video;
                QWidget* w = shown ? front->widget(shown) : nullptr;
                if (!w || !w->grab().save(QString::fromStdString(o.screenshot), "PNG"))
                    std::fprintf(stderr, "kavro-graph: no screenshot written to %s\n", o.screenshot.c_str());
            }
            ui::post_quit_message(0);
            return 0;
        }
        return ui::def_window_proc(self, msg, wp, lp);
    });
    ui::set_timer(ticker, 1, 20);
    ui::run_message_loop();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    run.stop();

    print_times(run.log(), o.quiet);
    const auto frames = run.log().frames();
    std::printf("%llu frames in %.2f s (%.1f per second)\n", static_cast<unsigned long long>(frames), elapsed,
                elapsed > 0 ? double(frames) / elapsed : 0.0);
    int rc = 0;
    if (!o.save.empty()) {
        graph::Picture picture;
        if (run.log().last_picture(picture, error) && graph::save_picture(picture, o.save, o.quality, error)) {
            std::printf("last frame saved to %s\n", o.save.c_str());
        } else {
            std::fprintf(stderr, "kavro-graph: %s\n", error.c_str());
            rc = 1;
        }
    }
    ui::destroy_window(ticker);
    if (video) ui::destroy_window(video);
    return rc;
}
