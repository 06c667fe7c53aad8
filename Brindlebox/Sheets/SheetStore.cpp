#include "Sheets/SheetStore.h"

#include "Sheets/FreeUpText.h"

#include <chrono>

namespace bx {

QString SheetStore::ago(Date date) const {
  const double e = std::chrono::duration<double>(std::chrono::system_clock::now() - date).count();
  if (e < 90) return "just now";
  if (e < 3600) return QString::number(qint64(e / 60)) + " min ago";
  if (e < 86400) return QString::number(qint64(e / 3600)) + " h ago";
  if (e < 5184000) return QString::number(qint64(e / 86400)) + " d ago";
  return FreeUpText::abbreviatedDate(date);
}

QString SheetStore::providerSymbol(const std::string& provider) const {
  if (provider == "gmail") return "envelope.fill";
  if (provider == "icloud") return "icloud.fill";
  if (provider == "yahoo") return "y.circle.fill";
  if (provider == "fastmail") return "bolt.fill";
  if (provider == "outlook") return "envelope.badge.fill";
  return "server.rack";
}

}  // namespace bx
