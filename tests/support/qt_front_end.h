// The Qt front end as the window tests use it: on the offscreen platform, and a way to let the window system's
// messages and Qt's events settle before looking.
#pragma once

#include "platform/ui/qt/front_end.h"
#include "platform/ui/ui.h"

#include <QCoreApplication>

#include <cstdlib>

namespace kavro::test {

// One front end for the whole test program (`program` is its name for Qt), made on first use and never
// destroyed: Qt allows one application object per process and the tests share it.
inline ui::qt::FrontEnd& offscreen_front_end(const char* program) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(program), nullptr};
    static ui::qt::FrontEnd* fe = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new ui::qt::FrontEnd(argc, argv);
    }();
    return *fe;
}

// Delivers the posted window messages and Qt's pending events, `rounds` times (one round's work may post more).
inline void settle(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) {
        ui::pump_messages();
        QCoreApplication::processEvents();
    }
}

} // namespace kavro::test
