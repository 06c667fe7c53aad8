#include "Shell/Seams.h"

#include "Theme/Theme.h"
#include "Views/SmallCaps.h"
#include "Views/ThemedWidget.h"

#include <QDialog>
#include <QPainter>
#include <QVBoxLayout>

namespace bx::Seams {
namespace {

class Placeholder : public ThemedWidget {
public:
  Placeholder(const QString& name, QWidget* parent) : ThemedWidget(parent) {
    setObjectName(name);
    auto* v = new QVBoxLayout(this);
    v->addWidget(new SmallCaps(name, Theme::ink3, this), 0, Qt::AlignCenter);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Theme::panel.resolved());
  }
};

ViewFactory placeholderFactory(const char* name) {
  return [name](AppStore&, QWidget* parent) { return placeholder(QString::fromLatin1(name), parent); };
}

} // namespace

QWidget* placeholder(const QString& name, QWidget* parent) { return new Placeholder(name, parent); }

ViewFactory& sidebar() {
  static ViewFactory f = placeholderFactory("sidebar");
  return f;
}
ViewFactory& timelineSpine() {
  static ViewFactory f = [](AppStore&, QWidget* parent) {
    QWidget* w = placeholder(QString(), parent);
    w->setObjectName(QStringLiteral("spine"));
    w->setFixedWidth(84);
    return w;
  };
  return f;
}
ViewFactory& messageList() {
  static ViewFactory f = placeholderFactory("messages");
  return f;
}
ViewFactory& reader() {
  static ViewFactory f = placeholderFactory("reader");
  return f;
}
ViewFactory& settings() {
  static ViewFactory f = placeholderFactory("settings");
  return f;
}

SheetFactory& sheet(Sheet kind) {
  static SheetFactory factories[4];
  return factories[int(kind)];
}

} // namespace bx::Seams
