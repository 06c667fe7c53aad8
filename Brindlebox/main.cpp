#include "Platform/Appearance.h"
#include "Theme/Theme.h"

#include <QApplication>
#include <QMainWindow>
#include <QPainter>

namespace {

// The window's empty content until the root view lands: the paper colour,
// following the appearance.
class Paper : public QWidget {
public:
  Paper() {
    QObject::connect(&bx::Appearance::shared(), &bx::Appearance::changed, this, [this] { update(); });
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), bx::Theme::paper.resolved());
  }
};

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brindlebox"));
  QApplication::setOrganizationName(QStringLiteral("Brindlebox"));

  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Brindlebox"));
  window.setMinimumSize(1100, 620);
  window.resize(1280, 800);
  window.setCentralWidget(new Paper);
  window.show();
  return app.exec();
}
