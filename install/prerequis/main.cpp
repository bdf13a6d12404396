// prerequis: installs the components KAVRO needs from the installation medium (run from the medium's folder,
// which holds bin/), then opens the system's package.
#include "install/prerequis/prerequis.h"

#include "platform/ui/qt/front_end.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    kavro::ui::qt::FrontEnd front_end(argc, argv);
    kavro::prerequis::Prerequis app;
    app.launcher = kavro::prerequis::system_launcher();
    const int code = kavro::prerequis::run_prerequis(app);
    // "Quitter" ends the program in any state: an installer still running goes on by itself, and the pass
    // waiting for it ends with the process, before anything it uses is torn down.
    if (app.pass.joinable()) {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
