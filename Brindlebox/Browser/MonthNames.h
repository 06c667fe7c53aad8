#pragma once

#include <QString>

namespace bx {

// Full month names of the user's language (ICU's date format symbols for
// the default locale); month 1…12.
struct MonthNames {
  static QString full(int month);
};

} // namespace bx
