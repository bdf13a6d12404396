// Texts that fit their controls: a control whose rectangle (laid out for the system's dialog font) is too
// narrow for its text at the window's font gets the same face a little smaller, only as far as needed.
#pragma once

#include <QFont>
#include <QString>

class QWidget;

namespace kavro::ui::qt {

// The width a control's text may take: the button's label area beside its check mark or radio dot, a push
// button's contents, a group box's title line, or the whole width of a static text.
int text_room(const QWidget* control);

// Whether `text` fits `control` at `font`: on one line beside the check mark or in the push button (each line
// of a two-line push button), within the title line of a group box, or word-wrapped within a static's
// rectangle.
bool text_fits(const QWidget* control, const QString& text, const QFont& font);

// Gives `control` the largest pixel size from `base`'s down to a readable minimum at which `text` fits (the
// minimum when none does).
void fit_font(QWidget* control, const QString& text, const QFont& base);

} // namespace kavro::ui::qt
