#include "platform/ui/qt/text_fit.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

namespace kavro::ui::qt {

namespace {

constexpr int kSmallestPixels = 7; // below this a label is no longer read at a glance

QString shown(QString text) { return text.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove('&').replace('\x01', '&'); }

} // namespace

int text_room(const QWidget* control) {
    if (const auto* b = qobject_cast<const QAbstractButton*>(control)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        QStyle::SubElement e = QStyle::SE_PushButtonContents;
        if (qobject_cast<const QCheckBox*>(b)) e = QStyle::SE_CheckBoxContents;
        else if (qobject_cast<const QRadioButton*>(b)) e = QStyle::SE_RadioButtonContents;
        const int room = b->style()->subElementRect(e, &opt, b).width();
        // A push button keeps a little air on each side of its text.
        return e == QStyle::SE_PushButtonContents ? room - 4 : room;
    }
    if (qobject_cast<const QGroupBox*>(control)) return control->width() - 12;
    return control->width();
}

bool text_fits(const QWidget* control, const QString& text, const QFont& font) {
    const QFontMetrics fm(font);
    const QString t = shown(text);
    if (t.isEmpty()) return true;
    if (qobject_cast<const QAbstractButton*>(control) || qobject_cast<const QGroupBox*>(control)) {
        const int room = text_room(control);
        for (const QString& line : t.split('\n'))
            if (fm.horizontalAdvance(line) > room) return false;
        return true;
    }
    const QRect area = control->rect();
    const QRect need = fm.boundingRect(area, Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, t);
    return need.width() <= area.width() && need.height() <= area.height();
}

void fit_font(QWidget* control, const QString& text, const QFont& base) {
    QFont f = base;
    const int largest = base.pixelSize() > 0 ? base.pixelSize() : QFontInfo(base).pixelSize();
    for (int px = largest; px >= kSmallestPixels; --px) {
        f.setPixelSize(px);
        if (text_fits(control, text, f) || px == kSmallestPixels) break;
    }
    if (control->font() != f) control->setFont(f);
}

} // namespace kavro::ui::qt
