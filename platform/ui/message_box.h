// Message boxes. The window system installs its own presenter; until one is installed (and in command-line
// tools) a message box writes its caption and text to standard error and answers IDOK.
#pragma once

#include <functional>
#include <string>

namespace kavro::ui {

// Flags and answers with the window system's values.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_TYPEMASK = 0xF; // the buttons
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_ICONMASK = 0xF0;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDRETRY = 4;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

using MessageBoxPresenter = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Shows a message box without owner window and returns the button pressed.
int message_box(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

// Replaces the presenter for the whole process and returns the previous one; an empty one restores stderr.
MessageBoxPresenter set_message_box_presenter(MessageBoxPresenter presenter);

} // namespace kavro::ui
