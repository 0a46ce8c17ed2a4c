#include "ui/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace qor {

namespace {

// MulDiv: a * b / c rounded half away from zero.
int mulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogBaseUnits dialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet / 26 + 1) / 2, metrics.height()};
}

QRect dialogUnitsToPixels(const DluRect& rect, DialogBaseUnits units) {
    return QRect(mulDiv(rect.x, units.x, 4), mulDiv(rect.y, units.y, 8),
                 mulDiv(rect.width, units.x, 4), mulDiv(rect.height, units.y, 8));
}

QFont dialogFont(int pointSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    return font;
}

}  // namespace qor
