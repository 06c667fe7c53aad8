#pragma once
// Byte sizes as the interface writes them: decimal units, "Zero KB", whole
// bytes and kilobytes, one decimal for megabytes and two above ("3.4 MB",
// "1.25 GB"), trailing zeros of the fraction dropped.
#include <QLocale>
#include <QString>

#include <cstdint>

namespace bx {

struct ByteCountText {
    static QString file(std::int64_t bytes, const QLocale& locale = QLocale());
};

}  // namespace bx
