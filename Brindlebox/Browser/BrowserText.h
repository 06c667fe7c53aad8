#pragma once

#include "Store/StoreTypes.h"

#include <QString>
#include <optional>

namespace bx {

// The texts of the main window's three columns, built from values so each
// rule can be checked on its own. Counts use the locale's digit grouping,
// years plain digits.
struct BrowserText {
  // A text that differs between different sidebar selections.
  static QString sidebarKey(const SidebarItem& item);

  // The query without leading and trailing spaces and tabs (line breaks stay).
  static QString trimmed(const QString& query);
  static QString count(long long n);
  // "3,112 messages · 2019–2024"; "0 messages" without groups.
  static QString subtitle(int visible, std::optional<int> newestYear, std::optional<int> oldestYear);
  // "results for “query”".
  static QString resultsText(int count, const QString& trimmedQuery);
  // The empty-state text of a view whose filter matches nothing.
  static QString emptyText(const SidebarItem& sidebar);
  // "1,200 of 8,431 messages indexed", or the text for a total of 0.
  static QString readingText(int done, int total);

  // A window title shown as written ("[*]" is the title's own text, not a
  // placeholder).
  static QString windowTitle(const QString& title);
  // A tooltip shown as written, never as markup.
  static QString plainToolTip(const QString& text);

  // Vault header: "2.4 GB · 2016–24".
  static std::optional<QString> yearSpan(std::optional<int> oldestYear, std::optional<int> newestYear);
  static QString headerDetail(long long totalBytes, std::optional<int> oldestYear, std::optional<int> newestYear);

  // Backup strip.
  static QString statusTitle(bool problems, bool noAccounts, bool everBackedUp);
  // `ago` is the age text when there is a last-check date. An unset
  // `scheduleHours` (nullopt) and anything below 1 show as 1 h, the
  // scheduler's own floor.
  static QString statusDetail(const std::optional<QString>& ago, bool scheduleEnabled, std::optional<int> scheduleHours,
                              int accountCount);
  static QString runningTitle(const BackupProgress& p);
  static QString progressLine(const BackupProgress& p);
  static double progressFraction(const BackupProgress& p);
  static QString indexingLine(int done, int total);
};

} // namespace bx
