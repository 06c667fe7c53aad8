#include "Orrery.h"

#include "Updater/UpdateView.h"
#include "Updater/Updater.h"
#include "Orrery/WindowHost.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTimer>

namespace orrery {
namespace {

bool started = false;

QList<QColor>& brandColors() {
  static QList<QColor> colors{QGuiApplication::palette().color(QPalette::Highlight),
                              QGuiApplication::palette().color(QPalette::Highlight)};
  return colors;
}

} // namespace

void Orrery::start(const QList<QColor>& brand) {
  if (started) return;
  started = true;
  BrandStore::store(brand);
  updater().start();
}

void Orrery::checkForUpdates() {
  QTimer::singleShot(0, &updater(), [] { updater().check(true); });
}

Updater& Orrery::updater() {
  static Updater* shared = [] {
    auto* u = new Updater(Bundle::main());
    QObject::connect(u, &Updater::windowRequested, u, [u] {
      WindowHost::show(QStringLiteral("update"), QStringLiteral("Software Update"), 420,
                       [u] { return new UpdateView(*u); });
    });
    return u;
  }();
  return *shared;
}

QString Orrery::appName() {
  static const QString name =
      Bundle::main().string(QStringLiteral("CFBundleName")).value_or(QStringLiteral("App"));
  return name;
}

QList<QColor> Orrery::brand() { return brandColors(); }

namespace {
std::function<QString(const QString&)>& localizer() {
  static std::function<QString(const QString&)> f;
  return f;
}
} // namespace

void Orrery::setLocalizer(std::function<QString(const QString&)> localize) { localizer() = std::move(localize); }

QString Orrery::localize(const QString& text) { return localizer() ? localizer()(text) : text; }

QList<QColor> BrandStore::colors() { return brandColors(); }

void BrandStore::store(const QList<QColor>& brand) {
  if (brand.size() >= 2) brandColors() = brand;
  else if (brand.size() == 1) brandColors() = {brand.front(), brand.front()};
}

void BrandStore::reset() {
  const QColor accent = QGuiApplication::palette().color(QPalette::Highlight);
  brandColors() = {accent, accent};
}

} // namespace orrery
