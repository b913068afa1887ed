#include "app/label_fit.h"

#include <QLabel>
#include <algorithm>

namespace quillon {

namespace {

QChar WidestDigit(const QFontMetrics& metrics) {
    QChar widest = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest)) {
            widest = QLatin1Char(digit);
        }
    }
    return widest;
}

}  // namespace

int ExtraWidthFor(QLabel& label, const QStringList& texts) {
    // The label's own size hint, so that its margins, indent and style count
    // as they will when it shows the text.
    label.ensurePolished();
    const QChar digit = WidestDigit(label.fontMetrics());
    const QString kept = label.text();
    int needed = 0;
    for (QString text : texts) {
        label.setText(text.replace(QLatin1Char('#'), digit));
        needed = std::max(needed, label.sizeHint().width());
    }
    label.setText(kept);
    return std::max(0, needed - label.width());
}

void Widen(QWidget& widget, int dx) {
    if (dx == 0) {
        return;
    }
    if (widget.minimumWidth() == widget.maximumWidth()) {
        widget.setFixedWidth(widget.width() + dx);
    } else {
        widget.resize(widget.width() + dx, widget.height());
    }
}

void Shift(QWidget& widget, int dx) {
    widget.move(widget.x() + dx, widget.y());
}

}  // namespace quillon
