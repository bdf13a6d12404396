// The operator window's resources: dialog 103 with menu 105, and the About box 102.
#pragma once

#include "platform/ui/ui.h"

namespace kavro::console {

inline constexpr const char* kWindowCaption = "Interface KAVRO v3.0";

ui::MenuTemplate main_menu_template();
ui::DialogTemplate operator_dialog_template();
ui::DialogTemplate about_dialog_template();

} // namespace kavro::console
