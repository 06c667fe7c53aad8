#include "Demo/DemoAnchors.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace orrery {
namespace {

bool onScreen(const QWidget* w) {
  return w && w->isVisible() && w->window()->windowHandle();
}

// Reports a tagged widget's frame on every event that can move it.
class Reporter : public QObject {
public:
  explicit Reporter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::LayoutRequest:
    case QEvent::ParentChange: {
      auto* w = static_cast<QWidget*>(watched);
      const QString id = w->property("demoAnchor").toString();
      if (!id.isEmpty()) DemoAnchors::shared().report(id, w);
      break;
    }
    default:
      break;
    }
    return false;
  }
};

// Application-wide: any widget named by its property reports on the events
// that can move it.
class PropertyWatcher : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type t = event->type();
    if ((t == QEvent::Show || t == QEvent::Move || t == QEvent::Resize) && watched->isWidgetType()) {
      const QVariant id = watched->property("demoAnchor");
      if (id.isValid()) DemoAnchors::shared().report(id.toString(), static_cast<QWidget*>(watched));
    }
    return false;
  }
};

} // namespace

void DemoAnchors::watchProperties() {
  static PropertyWatcher* watcher = nullptr;
  if (watcher || !QCoreApplication::instance()) return;
  watcher = new PropertyWatcher(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(watcher);
}

DemoAnchors& DemoAnchors::shared() {
  static DemoAnchors anchors;
  return anchors;
}

void DemoAnchors::tag(QWidget* widget, const QString& id) {
  if (!widget || id.isEmpty()) return;
  const bool watched = widget->property("demoAnchor").isValid();
  widget->setProperty("demoAnchor", id);
  if (!watched) new Reporter(widget);
  widgets_.insert(id, widget);
  report(id, widget);
}

void DemoAnchors::provide(QWidget* host, const QString& prefix, RectProvider provider) {
  if (!host || !provider) return;
  std::erase_if(providers_, [&](const Provider& p) { return !p.host || (p.host == host && p.prefix == prefix); });
  providers_.push_back(Provider{host, prefix, std::move(provider)});
}

void DemoAnchors::report(const QString& id, const QRect& globalFrame) { frames_.insert(id, globalFrame); }

void DemoAnchors::report(const QString& id, const QWidget* widget) {
  if (!onScreen(widget)) return;
  frames_.insert(id, QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()));
}

std::optional<QRect> DemoAnchors::frame(const QString& id) {
  if (QWidget* w = widgets_.value(id); onScreen(w) && w->property("demoAnchor").toString() == id) {
    report(id, w);
  } else {
    bool found = false;
    for (const Provider& p : providers_) {
      if (!onScreen(p.host) || !id.startsWith(p.prefix)) continue;
      if (auto r = p.rect(id)) {
        report(id, QRect(p.host->mapToGlobal(r->topLeft()), r->size()));
        found = true;
        break;
      }
    }
    if (!found) {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!onScreen(top)) continue;
        for (QWidget* child : top->findChildren<QWidget*>()) {
          if (onScreen(child) && child->property("demoAnchor").toString() == id) {
            report(id, child);
            found = true;
            break;
          }
        }
        if (found) break;
      }
    }
  }
  auto it = frames_.constFind(id);
  if (it == frames_.constEnd()) return std::nullopt;
  return *it;
}

void DemoAnchors::reset() {
  frames_.clear();
  widgets_.clear();
  providers_.clear();
}

} // namespace orrery
