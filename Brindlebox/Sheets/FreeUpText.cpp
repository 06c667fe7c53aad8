#include "Sheets/FreeUpText.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <cmath>

namespace bx {

namespace {

QLocale numberLocale() {
  QLocale l;
  if (l.language() == QLocale::C) l = QLocale(QLocale::English, QLocale::UnitedStates);
  l.setNumberOptions(QLocale::DefaultNumberOptions);
  return l;
}

QDateTime local(Date d) {
  return QDateTime::fromSecsSinceEpoch(secondsSince1970(d), Qt::LocalTime);
}

QLocale dateLocale() {
  QLocale l;
  if (l.language() == QLocale::C) l = QLocale(QLocale::English, QLocale::UnitedStates);
  return l;
}

bool isSpace(QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; }

}  // namespace

QString FreeUpText::grouped(std::int64_t n) { return numberLocale().toString(qlonglong(n)); }

QString FreeUpText::abbreviatedDate(Date d) { return dateLocale().toString(local(d).date(), "MMM d, yyyy"); }

QString FreeUpText::rowDate(const std::optional<Date>& d) {
  if (!d) return QString::fromUtf8("\u2014");
  return dateLocale().toString(local(*d).date(), "MMM dd, yyyy");
}

QString FreeUpText::phrase(std::int64_t verified) { return "RELEASE " + QString::number(verified); }

QString FreeUpText::trimSpaces(const QString& text) {
  qsizetype b = 0, e = text.size();
  while (b < e && isSpace(text[b])) ++b;
  while (e > b && isSpace(text[e - 1])) --e;
  return text.mid(b, e - b);
}

bool FreeUpText::matches(const QString& typed, const QString& phrase) {
  return trimSpaces(typed).toUpper() == phrase;
}

Date FreeUpText::yearsBefore(Date now, int years) {
  const QDateTime t = local(now);
  QDateTime back = t.addYears(-years);
  if (!back.isValid()) return now;
  const auto ms = back.toMSecsSinceEpoch() - t.toMSecsSinceEpoch();
  return now + std::chrono::milliseconds(ms);
}

QString FreeUpText::tildePath(const QString& path, const QString& home) {
  QString h = home;
  while (h.size() > 1 && h.endsWith('/')) h.chop(1);
  if (h.isEmpty() || h == "/") return path;
  if (path == h) return QStringLiteral("~");
  if (path.startsWith(h + '/')) return "~" + path.mid(h.size());
  return path;
}

}  // namespace bx
