// The shipped map page in the console's web pane (the browser engine, offscreen), fed by a running map feed:
// positions and snapshots reach the page, and where the page goes is the pane's location.
#include "console/link/map_feed.h"
#include "platform/ui/qt/web_engine.h"
#include "tests/support/qt_front_end.h"
#include "tests/support/sensor_stub.h"

#include <QLoggingCategory>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <future>
#include <thread>

// The browser engine's own code (Chromium) frees some objects through a base of another size, which
// AddressSanitizer's sized-delete check reports from inside the engine's library; the check is off for this
// program only. Every other check stays.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace kavro::console {
namespace {

using namespace std::chrono_literals;

struct FeedWindow : MapFeedWindow {
    int camera_mode(int) const override { return 2; }
    bool virtual_base() const override { return false; }
    std::string reference_node_text() const override { return "Robot 1"; }
    int view() const override { return kMapView; }
    ICapteurControl* capteur() override { return &sensor; }
    void release_video_graph() override {}
    void error_trace(int, HRESULT) override {}
    kavro::test::SensorStub sensor;
};

// Runs `script` in the page and waits for its answer (an invalid QVariant when none came).
QVariant evaluate(QWebEnginePage& page, const QString& script) {
    QVariant result;
    bool done = false;
    page.runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    for (int i = 0; i < 200 && !done; ++i) {
        test::settle(1);
        std::this_thread::sleep_for(10ms);
    }
    return result;
}

// A window with the web pane 1018 alone, shown.
ui::Hwnd web_pane_window() {
    ui::DialogTemplate t;
    t.caption = "map";
    t.style = ui::WS_POPUP | ui::WS_CAPTION;
    t.rect = {0, 0, 400, 300};
    t.controls = {{1018, ui::WindowClass::WebView, "", {0, 0, 400, 300}, ui::WS_VISIBLE}};
    const ui::Hwnd dlg = ui::create_dialog(t, [](ui::Hwnd, unsigned m, ui::WPARAM, ui::LPARAM) -> ui::LRESULT {
        return m == ui::WM_INITDIALOG ? 1 : 0;
    });
    ui::show_window(dlg, ui::SW_SHOW);
    return dlg;
}

// The browser of a web pane, once the front end has made it.
QWebEngineView* browser_of(ui::qt::FrontEnd& fe, ui::Hwnd pane) {
    QWebEngineView* view = nullptr;
    for (int i = 0; i < 100 && !view; ++i) {
        test::settle(1);
        if (QWidget* w = fe.widget(pane)) view = w->findChild<QWebEngineView*>();
    }
    return view;
}

// Waits until `script` answers true in the page (a page loads on its own time).
bool wait_true(QWebEnginePage& page, const QString& script) {
    const auto give_up = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < give_up) {
        if (evaluate(page, script).toBool()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

TEST(MapPage, ShowsTheFeedsPositionsAndSnapshotsInTheWebPane) {
    ui::qt::install_web_engine();
    ui::qt::FrontEnd& fe = test::offscreen_front_end("map_page_tests");

    MapFeedState state;
    RobotTable table;
    table.robot(1).latitude = 48.5f;
    table.robot(1).longitude = 11.25f;
    table.robot(kBaseIndex).latitude = 48.4995f;
    table.robot(kBaseIndex).longitude = 11.2490f;
    state.snapshot = 1;
    FeedWindow window;
    std::atomic<bool> quit{false};
    std::promise<std::uint16_t> bound;
    MapFeedConfig config;
    config.port = 0;
    config.bind_address = "127.0.0.1";
    config.pace = 200ms;
    config.quit_check = 20ms;
    // The page comes in through the web port, as in the console (browsers refuse the raw port 6667).
    config.web_port = 0;
    config.on_web_listening = [&](std::uint16_t p) { bound.set_value(p); };
    std::thread feed([&] { map_feed_thread(state, table, window, quit, config); });
    const std::uint16_t port = bound.get_future().get();

    const ui::Hwnd dlg = web_pane_window();
    const ui::Hwnd pane = ui::get_dlg_item(dlg, 1018);
    const std::string url = "file://" KAVRO_SOURCE_DIR "/console/pages/web/indexMap.html?feed=127.0.0.1:" +
                            std::to_string(port);
    ui::web_navigate(pane, url);
    test::settle();

    QWebEngineView* view = browser_of(fe, pane);
    ASSERT_NE(view, nullptr) << "the web pane has no browser";
    QVariant lat;
    const auto give_up = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < give_up) {
        lat = evaluate(*view->page(), "window.kavroMap && kavroMap.answers > 0 ? kavroMap.robots[0].lat : -1");
        if (lat.isValid() && lat.toDouble() > 0) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NEAR(lat.toDouble(), 48.5, 1e-6);
    EXPECT_NEAR(evaluate(*view->page(), "kavroMap.base.lon").toDouble(), 11.249, 1e-4);
    EXPECT_EQ(evaluate(*view->page(), "kavroMap.snapshots.length").toInt(), 1);
    EXPECT_EQ(evaluate(*view->page(), "kavroMap.snapshots[0].image.src.endsWith('snapshot/snapshot1.jpg')").toBool(),
              true);
    EXPECT_EQ(ui::web_location(pane).rfind("file://", 0), 0u);

    // Where the page goes, the pane's location follows (the console reads it to know whether the map shows).
    evaluate(*view->page(), "location.hash = 'moved'; 1");
    for (int i = 0; i < 200 && ui::web_location(pane).find("#moved") == std::string::npos; ++i) {
        test::settle(1);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(ui::web_location(pane).find("indexMap.html"), std::string::npos);
    EXPECT_NE(ui::web_location(pane).find("#moved"), std::string::npos);

    ui::destroy_window(dlg);
    test::settle();
    quit = true;
    feed.join();
}


// The engine's start-up report (its graphics set-up, as information lines) stays out of the program's log; its
// warnings stay in.
TEST(BrowserEngine, KeepsItsStartUpReportOutOfTheLog) {
    ui::qt::install_web_engine();
    test::offscreen_front_end("map_page_tests");
    const QLoggingCategory context("qt.webenginecontext");
    EXPECT_FALSE(context.isInfoEnabled());
    EXPECT_TRUE(context.isWarningEnabled());
}

// The home page as the console opens it: the window's robots and editor port become its links, and its map link
// leads to the map page shipped beside it.
TEST(HomePage, LinksTheWindowsPagesAndLeadsToTheMap) {
    ui::qt::install_web_engine();
    ui::qt::FrontEnd& fe = test::offscreen_front_end("map_page_tests");
    const ui::Hwnd dlg = web_pane_window();
    const ui::Hwnd pane = ui::get_dlg_item(dlg, 1018);
    ui::web_navigate(pane, "file://" KAVRO_SOURCE_DIR "/console/pages/web/home.html"
                           "?robot1=127.0.0.11:82&robot3=10.77.0.13:8082&editor=8090");
    QWebEngineView* view = browser_of(fe, pane);
    ASSERT_NE(view, nullptr) << "the web pane has no browser";
    QWebEnginePage& page = *view->page();
    ASSERT_TRUE(wait_true(page, "document.readyState === 'complete' && document.title === 'KAVRO station'"));
    EXPECT_EQ(evaluate(page, "Array.from(document.querySelectorAll('#robots a')).map(a => a.href).join(' ')")
                  .toString()
                  .toStdString(),
              "http://127.0.0.11:82/ http://10.77.0.13:8082/");
    EXPECT_EQ(evaluate(page, "document.getElementById('editorLink').href").toString().toStdString(),
              "http://127.0.0.1:8090/KAVRO/");

    evaluate(page, "document.getElementById('mapLink').click(); 1");
    EXPECT_TRUE(wait_true(page, "document.title === 'KAVRO map'"));
    EXPECT_EQ(ui::web_location(pane), "file://" KAVRO_SOURCE_DIR "/console/pages/web/indexMap.html");
    ui::destroy_window(dlg);
    test::settle();
}

} // namespace
} // namespace kavro::console
