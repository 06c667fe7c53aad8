#pragma once
// Texts of the free-up and ledger sheets: counts, byte sizes and dates as the
// sheets show them, and the typed confirmation's phrase and match rule.
#include "Util/Date.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace bx {

struct FreeUpText {
  // 1234 -> "1,234": the locale's grouping (English grouping where the
  // locale is the bare C locale, which has none).
  static QString grouped(std::int64_t n);
  // The abbreviated date without time: "Dec 7, 2024", in the local zone.
  static QString abbreviatedDate(Date d);
  // Day, abbreviated month and year for ledger rows: "Dec 07, 2024"; "—"
  // without a date.
  static QString rowDate(const std::optional<Date>& d);

  // "RELEASE " and the count in plain digits.
  static QString phrase(std::int64_t verified);
  // The typed text with spaces (Unicode Zs) and tabs trimmed from both ends,
  // upper-cased, equals the phrase. Line breaks are not trimmed.
  static bool matches(const QString& typed, const QString& phrase);
  // Zs and tab trimmed from both ends.
  static QString trimSpaces(const QString& text);

  // Now minus `years` calendar years, time of day kept (the local calendar).
  static Date yearsBefore(Date now, int years);

  // `path` with a leading `home` replaced by "~" when it is followed by "/"
  // or ends there; any other path unchanged.
  static QString tildePath(const QString& path, const QString& home);
};

}  // namespace bx
