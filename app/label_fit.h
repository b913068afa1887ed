#pragma once

#include <QStringList>

class QLabel;
class QWidget;

namespace quillon {

// The forms place their controls at fixed positions, which the font in use
// may outgrow; these let a form widen a label to its texts and make room.

// How much wider label must become to show each of texts whole in its own
// font; 0 when it already does. A '#' in a text stands for the font's
// widest digit, for counters at their longest.
int ExtraWidthFor(QLabel& label, const QStringList& texts);

// Makes widget dx wider; a fixed width stays fixed.
void Widen(QWidget& widget, int dx);

// Moves widget dx to the right.
void Shift(QWidget& widget, int dx);

}  // namespace quillon
