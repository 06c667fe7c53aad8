#include "Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace orrery {

std::optional<QString> Bundle::string(const QString& key) const {
  const auto it = info.constFind(key);
  if (it == info.constEnd() || it->typeId() != QMetaType::QString) return std::nullopt;
  return it->toString();
}

bool Bundle::isInnerPath(const QString& path) {
  if (path.isEmpty()) return false;
  for (const QStringView part : QStringView(path).split(u'/'))
    if (part.isEmpty() || part == u"." || part == u"..") return false;
  return true;
}

QString Bundle::launcher(const QString& fallback) const {
  const auto name = string(QStringLiteral("CFBundleExecutable"));
  if (name && isInnerPath(*name)) return *name;
  return isInnerPath(fallback) ? fallback : QString();
}

std::optional<Bundle> Bundle::open(const QString& folder) {
  QFile file(QDir(folder).filePath(QLatin1String(infoFileName)));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  // The app-info is a few hundred bytes; anything large is not ours.
  const QByteArray bytes = file.read(1 << 20);
  const QJsonDocument doc = QJsonDocument::fromJson(bytes);
  if (!doc.isObject()) return std::nullopt;
  return Bundle{QFileInfo(folder).absoluteFilePath(), doc.object().toVariantMap()};
}

const Bundle& Bundle::main() {
  static const Bundle bundle = [] {
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (auto b = open(exeDir)) return *b;
    if (QFileInfo(exeDir).fileName() == u"bin")
      if (auto b = open(QFileInfo(exeDir).absolutePath())) return *b;
    return Bundle{exeDir, {}};
  }();
  return bundle;
}

} // namespace orrery
