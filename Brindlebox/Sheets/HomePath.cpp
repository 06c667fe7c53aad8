#include "Sheets/HomePath.h"

#include <QDir>

namespace bx {

QString tildePath(const QString& path, const QString& home) {
  QString h = home;
  while (h.size() > 1 && h.endsWith('/')) h.chop(1);
  if (h.isEmpty() || h == "/") return path;
  if (path == h) return QStringLiteral("~");
  if (path.startsWith(h + '/')) return QStringLiteral("~") + path.mid(h.size());
  return path;
}

QString tildePath(const QString& path) { return tildePath(path, QDir::homePath()); }

} // namespace bx
