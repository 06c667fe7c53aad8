#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

namespace orrery {

// An installed application: its install folder and the app-info file at
// that folder's top, written at packaging. Dev and test builds carry no
// app-info (or one without a feed), so their updater stays inert.
struct Bundle {
  static constexpr const char* infoFileName = "app-info.json";
  static constexpr const char* sealFileName = ".orrery-seal";

  QString path;     // absolute install folder
  QVariantMap info; // the app-info keys; empty when the file is missing or unreadable

  // The string under `key`, or nullopt when absent or not a string.
  std::optional<QString> string(const QString& key) const;
  std::optional<QString> identifier() const { return string(QStringLiteral("CFBundleIdentifier")); }
  std::optional<QString> shortVersion() const { return string(QStringLiteral("CFBundleShortVersionString")); }
  // The file that starts the application, relative to the folder:
  // "CFBundleExecutable" when it is a path that stays inside the folder
  // ("brindlebox", "bin/brindlebox"), else `fallback` when that one does,
  // else empty.
  QString launcher(const QString& fallback) const;
  // Whether `path` is relative and names something below the folder: no
  // empty, "." or ".." part.
  static bool isInnerPath(const QString& path);

  // Reads the app-info at the folder's top; nullopt when the folder has no
  // readable app-info object.
  static std::optional<Bundle> open(const QString& folder);
  // The running application: the executable's folder, or its parent when
  // the executable sits in a bin/ folder below the app-info.
  static const Bundle& main();
};

} // namespace orrery
