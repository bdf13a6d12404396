// A real browser in the web view panes: with it installed, the Qt front end shows each web view pane as a
// browser (QtWebEngine) with a small navigation bar; without it, as the address and a button for the desktop
// browser. Programs that show web pages call install_web_engine() once, before the FrontEnd is made.
#pragma once

namespace kavro::ui::qt {

// Prepares the browser engine and makes the front end use it. As root, the engine's sandbox cannot run and is
// switched off (only then). Must come before the Qt application exists; later calls do nothing.
void install_web_engine();

} // namespace kavro::ui::qt
