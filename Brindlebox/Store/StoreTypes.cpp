#include "Store/StoreTypes.h"

#include "Store/ByteCountText.h"
#include "Store/ImportQueue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <ctime>
#include <functional>
#include <string>
#include <vector>
#include <memory>

namespace bx {

namespace {

double seconds(Date d) { return std::chrono::duration<double>(d.time_since_epoch()).count(); }

bool localParts(Date d, std::tm& out) {
  const auto s = std::chrono::floor<std::chrono::seconds>(d.time_since_epoch()).count();
  const std::time_t t = static_cast<std::time_t>(s);
  return localtime_r(&t, &out) != nullptr;
}

QString fromICU(const icu::UnicodeString& s) {
  return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

// Making an ICU pattern generator and formatter costs a hundred times more
// than formatting one date, and the message list formats two dates per row
// on every paint: each thread keeps the formatters it made, per default
// locale, since a formatter is not safe to share between threads.
icu::DateFormat* cachedFormat(const char* key, const std::function<icu::DateFormat*(const icu::Locale&)>& make) {
  struct Entry {
    std::string locale, key;
    std::unique_ptr<icu::DateFormat> format;
  };
  thread_local std::vector<Entry> cache;
  const icu::Locale& locale = icu::Locale::getDefault();
  const char* name = locale.getName();
  for (Entry& e : cache)
    if (e.key == key && e.locale == name) return e.format.get();
  std::unique_ptr<icu::DateFormat> made(make(locale));
  if (!made) return nullptr;
  cache.push_back(Entry{name, key, std::move(made)});
  return cache.back().format.get();
}

// A date in the user's locale and time zone with an ICU skeleton, as the
// platform's format styles do.
QString formatSkeleton(Date d, const char* skeleton) {
  icu::DateFormat* fmt = cachedFormat(skeleton, [skeleton](const icu::Locale& locale) -> icu::DateFormat* {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> gen(icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status)) return nullptr;
    const icu::UnicodeString pattern = gen->getBestPattern(icu::UnicodeString(skeleton), status);
    if (U_FAILURE(status)) return nullptr;
    auto made = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
    return U_FAILURE(status) ? nullptr : made.release();
  });
  if (!fmt) return {};
  icu::UnicodeString out;
  fmt->format(seconds(d) * 1000.0, out);
  return fromICU(out);
}

}  // namespace

MonthKey::MonthKey(Date date) {
  std::tm tm{};
  if (localParts(date, tm)) {
    year = tm.tm_year + 1900;
    month = tm.tm_mon + 1;
  }
}

std::pair<Date, Date> MonthKey::bounds(const MonthKey& key) {
  // mktime reads the zone again on every call; grouping a list asks for the
  // same few hundred months on every keystroke. Each thread keeps the months
  // it worked out until TZ says another zone.
  struct Cache {
    std::optional<std::string> zone;
    std::unordered_map<int, std::pair<Date, Date>> months;
  };
  thread_local Cache cache;
  const char* tz = std::getenv("TZ");
  const std::optional<std::string> zone = tz ? std::optional<std::string>(tz) : std::nullopt;
  if (zone != cache.zone) {
    cache.zone = zone;
    cache.months.clear();
  }
  if (const auto it = cache.months.find(key.index()); it != cache.months.end()) return it->second;
  auto start = [](int year, int month) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = 1;
    tm.tm_isdst = -1;
    const std::time_t t = mktime(&tm);
    return std::chrono::system_clock::from_time_t(t);
  };
  const int next = key.index() + 1;
  const std::pair<Date, Date> made{start(key.year, key.month), start(next / 12, next % 12 + 1)};
  cache.months.emplace(key.index(), made);
  return made;
}

MonthKey MonthKey::fromIndex(int index) {
  const int year = index / 12;
  return MonthKey(year, index - year * 12 + 1);
}

QString MonthKey::title() const {
  return QLocale().monthName(month, QLocale::LongFormat) + QLatin1Char(' ') + QString::number(year);
}

QString SmartFilters::rawValue(SmartFilter f) {
  switch (f) {
    case SmartFilter::recent: return QStringLiteral("recent");
    case SmartFilter::attachments: return QStringLiteral("attachments");
    case SmartFilter::trackers: return QStringLiteral("trackers");
    case SmartFilter::suspicious: return QStringLiteral("suspicious");
    case SmartFilter::large: return QStringLiteral("large");
  }
  return {};
}

std::optional<SmartFilter> SmartFilters::fromRawValue(const QString& raw) {
  for (SmartFilter f : allCases)
    if (rawValue(f) == raw) return f;
  return std::nullopt;
}

QString SmartFilters::title(SmartFilter f) {
  switch (f) {
    case SmartFilter::recent: return QStringLiteral("Last 30 Days");
    case SmartFilter::attachments: return QStringLiteral("With Attachments");
    case SmartFilter::trackers: return QStringLiteral("Trackers Blocked");
    case SmartFilter::suspicious: return QStringLiteral("Needs a Second Look");
    case SmartFilter::large: return QStringLiteral("Over 5 MB");
  }
  return {};
}

bool SmartFilters::contains(SmartFilter f, const MessageRecord& r, double nowSeconds) {
  switch (f) {
    case SmartFilter::recent: return seconds(r.date) > nowSeconds - 2'592'000.0;
    case SmartFilter::attachments: return r.attachments > 0;
    case SmartFilter::trackers: return r.trackers > 0;
    case SmartFilter::suspicious: return r.isSuspicious();
    case SmartFilter::large: return r.size > 5'000'000;
  }
  return false;
}

QString SidebarItem::accountTitle(const QString& directory) {
  return directory.isEmpty() ? QString::fromUtf8(ImportRules::looseCollection) : directory;
}

bool operator==(const SidebarItem& a, const SidebarItem& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case SidebarItem::Kind::all: return true;
    case SidebarItem::Kind::account: return a.account == b.account;
    case SidebarItem::Kind::folder: return a.account == b.account && a.folder == b.folder;
    case SidebarItem::Kind::smart: return a.smart == b.smart;
    case SidebarItem::Kind::saved: return a.saved == b.saved;
  }
  return false;
}

size_t qHash(const SidebarItem& item, size_t seed) {
  seed = ::qHash(int(item.kind), seed);
  switch (item.kind) {
    case SidebarItem::Kind::all: return seed;
    case SidebarItem::Kind::account: return ::qHash(item.account, seed);
    case SidebarItem::Kind::folder: return ::qHash(item.folder, ::qHash(item.account, seed));
    case SidebarItem::Kind::smart: return ::qHash(int(item.smart), seed);
    case SidebarItem::Kind::saved: return ::qHash(item.saved, seed);
  }
  return seed;
}

std::optional<QList<SavedSearch>> SavedSearch::decodeList(const QByteArray& json) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !doc.isArray()) return std::nullopt;
  QList<SavedSearch> out;
  for (const QJsonValue& v : doc.array()) {
    if (!v.isObject()) return std::nullopt;
    const QJsonObject o = v.toObject();
    const QJsonValue id = o.value(QLatin1String("id"));
    const QJsonValue name = o.value(QLatin1String("name"));
    const QJsonValue query = o.value(QLatin1String("query"));
    if (!id.isString() || !name.isString() || !query.isString()) return std::nullopt;
    // The standard string form only: 36 characters, no braces.
    const QString idText = id.toString();
    const QUuid uuid = QUuid::fromString(idText);
    if (idText.size() != 36 || uuid.isNull()) return std::nullopt;
    out.append(SavedSearch{uuid, name.toString(), query.toString()});
  }
  return out;
}

QByteArray SavedSearch::encodeList(const QList<SavedSearch>& list) {
  QJsonArray array;
  for (const SavedSearch& s : list) {
    QJsonObject o;
    o.insert(QLatin1String("id"), s.id.toString(QUuid::WithoutBraces).toUpper());
    o.insert(QLatin1String("name"), s.name);
    o.insert(QLatin1String("query"), s.query);
    array.append(o);
  }
  return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QString Fmt::ago(Date date) { return ago(date, std::chrono::system_clock::now()); }

QString Fmt::ago(Date date, Date now) {
  const double e = seconds(now) - seconds(date);
  if (e < 90) return QStringLiteral("just now");
  if (e < 3'600) return QString::number(static_cast<long long>(e / 60)) + QStringLiteral(" min ago");
  if (e < 86'400) return QString::number(static_cast<long long>(e / 3'600)) + QStringLiteral(" h ago");
  if (e < 5'184'000) return QString::number(static_cast<long long>(e / 86'400)) + QStringLiteral(" d ago");
  // The medium date style: abbreviated month, day and year in the locale's order.
  icu::DateFormat* fmt = cachedFormat("medium", [](const icu::Locale& locale) {
    return icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, locale);
  });
  if (!fmt) return {};
  icu::UnicodeString out;
  fmt->format(seconds(date) * 1000.0, out);
  return fromICU(out);
}

QString Fmt::rowDate(Date date) { return rowDate(date, std::chrono::system_clock::now()); }

QString Fmt::rowDate(Date date, Date now) {
  std::tm d{}, n{};
  if (localParts(date, d) && localParts(now, n)) {
    if (d.tm_year == n.tm_year && d.tm_yday == n.tm_yday) return formatSkeleton(date, "HHmm");
    // Yesterday: the calendar day before today, whatever its length.
    std::tm y = n;
    y.tm_mday -= 1;
    y.tm_hour = 12;
    y.tm_isdst = -1;
    const std::time_t yt = mktime(&y);
    std::tm yl{};
    if (yt != -1 && localtime_r(&yt, &yl) && d.tm_year == yl.tm_year && d.tm_yday == yl.tm_yday)
      return QStringLiteral("Yesterday");
  }
  return formatSkeleton(date, "ddMMM");
}

QString Fmt::bytes(int64_t count) { return ByteCountText::file(count); }

}  // namespace bx
