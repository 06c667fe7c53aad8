#include "Store/ByteCountText.h"

#include <cmath>
#include <cstdlib>

namespace bx {

QString ByteCountText::file(std::int64_t bytes, const QLocale& locale) {
    QLocale loc = locale;
    loc.setNumberOptions(loc.numberOptions() & ~QLocale::OmitGroupSeparator);
    if (bytes == 0) return QStringLiteral("Zero KB");
    const std::int64_t magnitude = std::llabs(bytes);
    if (magnitude < 1000)
        return loc.toString(qlonglong(bytes)) + (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));

    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int decimals[] = {0, 1, 2, 2, 2, 2};
    double value = double(bytes) / 1000.0;
    int unit = 0;
    // Move up a unit when the rounded value would read 1,000 or more.
    while (unit < 5) {
        const double scale = std::pow(10.0, decimals[unit]);
        if (std::fabs(std::round(value * scale) / scale) < 1000.0) break;
        value /= 1000.0;
        ++unit;
    }
    QString number = loc.toString(value, 'f', decimals[unit]);
    if (decimals[unit] > 0) {
        const QString point = loc.decimalPoint();
        while (number.endsWith(QLatin1Char('0'))) number.chop(1);
        if (number.endsWith(point)) number.chop(point.size());
    }
    return number + QLatin1Char(' ') + QLatin1String(units[unit]);
}

}  // namespace bx
