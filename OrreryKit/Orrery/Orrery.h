#pragma once

#include <QColor>
#include <QList>
#include <QString>

#include <functional>

namespace orrery {

class Updater;

// The kit's start-up call and shared services. Main thread only.
struct Orrery {
  // Once per process: stores the brand colours (two or more as given, one is
  // repeated, none keeps the default) and starts the shared updater.
  static void start(const QList<QColor>& brand);
  // A user-initiated check of the shared updater; returns at once.
  static void checkForUpdates();
  // The shared updater, made on first use from the running install.
  static Updater& updater();
  // "CFBundleName" of the running install, else "App".
  static QString appName();
  static QList<QColor> brand();
  // Kit texts that name a place of another desktop go through the
  // application's text table, set once at start; unchanged until then.
  static void setLocalizer(std::function<QString(const QString&)> localize);
  static QString localize(const QString& text);
};

// The brand colours the kit's views use: two accent colours until start().
namespace BrandStore {
QList<QColor> colors();
// Two or more colours are kept as given, one is repeated, none changes nothing.
void store(const QList<QColor>& brand);
// Back to the two accent colours.
void reset();
} // namespace BrandStore

} // namespace orrery
