#pragma once

#include <QFont>
#include <QRect>

#include "ui/dialog_template.h"

namespace qor {

// The pixels per four horizontal and per eight vertical dialog units of a
// font: what Windows measures on a dialog's font to lay out its template.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
    bool operator==(const DialogBaseUnits&) const = default;
};

// Windows takes the average width of the 52 Latin letters, rounded to the
// nearest pixel, and the font's full line height.
DialogBaseUnits dialogBaseUnits(const QFont& font);

// A template rectangle in pixels, rounded as Windows rounds it (half away
// from zero, each edge length on its own).
QRect dialogUnitsToPixels(const DluRect& rect, DialogBaseUnits units);

// The font a template names cannot be had on Linux ("MS Shell Dlg" is a
// Windows alias): the desktop's default sans-serif family at the template's
// size stands in for it.
QFont dialogFont(int pointSize);

}  // namespace qor
