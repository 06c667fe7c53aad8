#include "Store/StoreTypes.h"

namespace bx {

MonthKey::MonthKey(Date date) { (void)date; }
MonthKey MonthKey::fromIndex(int index) {
  const int year = index / 12;
  return MonthKey(year, index - year * 12 + 1);
}
QString MonthKey::title() const { return {}; }

QString SmartFilters::rawValue(SmartFilter f) { (void)f; return {}; }
std::optional<SmartFilter> SmartFilters::fromRawValue(const QString& raw) { (void)raw; return std::nullopt; }
QString SmartFilters::title(SmartFilter f) { (void)f; return {}; }
bool SmartFilters::contains(SmartFilter f, const MessageRecord& r, double nowSeconds) {
  (void)f; (void)r; (void)nowSeconds;
  return false;
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
size_t qHash(const SidebarItem& item, size_t seed) { return ::qHash(int(item.kind), seed); }

std::optional<QList<SavedSearch>> SavedSearch::decodeList(const QByteArray& json) { (void)json; return std::nullopt; }
QByteArray SavedSearch::encodeList(const QList<SavedSearch>& list) { (void)list; return "[]"; }

QString Fmt::ago(Date date) { return ago(date, std::chrono::system_clock::now()); }
QString Fmt::ago(Date date, Date now) { (void)date; (void)now; return {}; }
QString Fmt::rowDate(Date date) { return rowDate(date, std::chrono::system_clock::now()); }
QString Fmt::rowDate(Date date, Date now) { (void)date; (void)now; return {}; }

}  // namespace bx
