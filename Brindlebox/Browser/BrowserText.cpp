#include "Browser/BrowserText.h"

#include "Store/ByteCountText.h"

#include <QLocale>

namespace bx {

namespace {
QString plural(long long n) { return n == 1 ? QString() : QStringLiteral("s"); }
bool isSpaceOrTab(QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; }
} // namespace

QString BrowserText::sidebarKey(const SidebarItem& item) {
  switch (item.kind) {
  case SidebarItem::Kind::all: return QStringLiteral("all");
  case SidebarItem::Kind::account: return QStringLiteral("account:") + item.account;
  case SidebarItem::Kind::folder:
    return QStringLiteral("folder:") + QString::number(item.account.size()) + QLatin1Char(':') + item.account +
           QLatin1Char('/') + item.folder;
  case SidebarItem::Kind::smart: return QStringLiteral("smart:") + SmartFilters::rawValue(item.smart);
  case SidebarItem::Kind::saved: return QStringLiteral("saved:") + item.saved.toString(QUuid::WithoutBraces);
  }
  return {};
}

QString BrowserText::trimmed(const QString& query) {
  qsizetype a = 0, b = query.size();
  while (a < b && isSpaceOrTab(query[a])) ++a;
  while (b > a && isSpaceOrTab(query[b - 1])) --b;
  return query.mid(a, b - a);
}

QString BrowserText::count(long long n) { return QLocale().toString(n); }

QString BrowserText::subtitle(int visible, std::optional<int> newestYear, std::optional<int> oldestYear) {
  if (!newestYear || !oldestYear) return count(visible) + QStringLiteral(" messages");
  const QString years = *newestYear == *oldestYear
                            ? QString::number(*newestYear)
                            : QString::number(*oldestYear) + QChar(0x2013) + QString::number(*newestYear);
  return count(visible) + QStringLiteral(" message") + plural(visible) + QStringLiteral(" · ") + years;
}

QString BrowserText::resultsText(int n, const QString& trimmedQuery) {
  return QStringLiteral("result") + plural(n) + QStringLiteral(" for “") + trimmedQuery + QStringLiteral("”");
}

QString BrowserText::emptyText(const SidebarItem& sidebar) {
  if (sidebar.kind == SidebarItem::Kind::smart) {
    switch (sidebar.smart) {
    case SmartFilter::recent: return QStringLiteral("Nothing arrived in the last 30 days. Back up to fetch new mail.");
    case SmartFilter::attachments: return QStringLiteral("No message in your vault has attachments.");
    case SmartFilter::trackers: return QStringLiteral("No message in your vault tried to track when you opened it.");
    case SmartFilter::suspicious:
      return QStringLiteral("No message failed sender checks, used a look-alike address or hid a misleading link.");
    case SmartFilter::large: return QStringLiteral("No message is larger than 5 MB.");
    }
  }
  return QStringLiteral("No messages match this view.");
}

QString BrowserText::readingText(int done, int total) {
  if (total < 1) return QStringLiteral("Messages appear as they’re indexed.");
  return count(done) + QStringLiteral(" of ") + count(total) + QStringLiteral(" messages indexed");
}

QString BrowserText::windowTitle(const QString& title) {
  QString t = title;
  return t.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QString BrowserText::plainToolTip(const QString& text) {
  if (text.isEmpty()) return text;
  // "<qt>" makes the tooltip rich text, so the escaped characters show as
  // themselves whatever the text looks like.
  return QStringLiteral("<qt>") + text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
         QStringLiteral("</qt>");
}

std::optional<QString> BrowserText::yearSpan(std::optional<int> oldestYear, std::optional<int> newestYear) {
  if (!oldestYear || !newestYear) return std::nullopt;
  if (*oldestYear == *newestYear) return QString::number(*oldestYear);
  const QString n = QString::number(*newestYear);
  return QString::number(*oldestYear) + QChar(0x2013) + n.right(2);
}

QString BrowserText::headerDetail(long long totalBytes, std::optional<int> oldestYear, std::optional<int> newestYear) {
  QString s = ByteCountText::file(std::max(0LL, totalBytes));
  if (auto span = yearSpan(oldestYear, newestYear)) s += QStringLiteral(" · ") + *span;
  return s;
}

QString BrowserText::statusTitle(bool problems, bool noAccounts, bool everBackedUp) {
  if (problems) return QStringLiteral("Needs attention");
  if (noAccounts) return QStringLiteral("No accounts yet");
  if (everBackedUp) return QStringLiteral("Backed up");
  return QStringLiteral("Not backed up yet");
}

QString BrowserText::statusDetail(const std::optional<QString>& ago, bool scheduleEnabled,
                                  std::optional<int> scheduleHours, int accountCount) {
  QStringList parts;
  if (ago) parts << *ago;
  if (scheduleEnabled) {
    // Nothing stored reads as the six hours the settings show; a stored
    // value has the scheduler's floor of one hour.
    const int h = scheduleHours ? std::max(1, *scheduleHours) : 6;
    parts << QStringLiteral("auto ") + QString::number(h) + QStringLiteral(" h");
  } else {
    parts << QString::number(accountCount) + QStringLiteral(" acct") + plural(accountCount);
  }
  return parts.join(QStringLiteral(" · "));
}

QString BrowserText::runningTitle(const BackupProgress& p) {
  if (p.phase.empty()) return QStringLiteral("Connecting…");
  return QString::fromStdString(p.phase) + QStringLiteral(" · ") + QString::fromStdString(p.folder);
}

QString BrowserText::progressLine(const BackupProgress& p) {
  if (p.messagesTotal < 1) return QString::fromStdString(p.account);
  return count(p.messagesDone) + QStringLiteral(" / ") + count(p.messagesTotal) + QStringLiteral(" · ") +
         ByteCountText::file(std::max<long long>(0, p.bytesDone));
}

double BrowserText::progressFraction(const BackupProgress& p) {
  if (p.bytesTotal >= 1) return std::min(1.0, double(p.bytesDone) / double(p.bytesTotal));
  if (p.messagesTotal > 0) return double(p.messagesDone) / double(p.messagesTotal);
  return 0;
}

QString BrowserText::indexingLine(int done, int total) {
  return QStringLiteral("Indexing ") + count(done) + QStringLiteral(" of ") + count(total);
}

} // namespace bx
