#include "Browser/MonthNames.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>

#include <array>
#include <mutex>

namespace bx {

QString MonthNames::full(int month) {
  static std::once_flag once;
  static std::array<QString, 12> names;
  std::call_once(once, [] {
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(icu::Locale::getDefault(), status);
    int32_t count = 0;
    const icu::UnicodeString* months = U_SUCCESS(status) ? symbols.getMonths(count) : nullptr;
    static const char* english[] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};
    for (int i = 0; i < 12; ++i) {
      if (months && i < count)
        names[size_t(i)] = QString::fromUtf16(reinterpret_cast<const char16_t*>(months[i].getBuffer()), months[i].length());
      if (names[size_t(i)].isEmpty()) names[size_t(i)] = QString::fromLatin1(english[i]);
    }
  });
  if (month < 1 || month > 12) return {};
  return names[size_t(month - 1)];
}

} // namespace bx
