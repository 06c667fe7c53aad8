#include "ShellTestSupport.h"
#include "Demo/DemoAnchors.h"

#include <QPushButton>
#include <QVBoxLayout>

using namespace orrery;
using namespace bx::test;

namespace {

class DemoAnchorsTest : public ShellTest {
protected:
  void SetUp() override {
    ShellTest::SetUp();
    DemoAnchors::shared().reset();
  }
  void TearDown() override {
    DemoAnchors::shared().reset();
    ShellTest::TearDown();
  }
};

// A list that paints its rows itself: row i of id "row-i" at y = 20 i.
class PaintedList : public QWidget {
public:
  PaintedList() {
    DemoAnchors::shared().provide(this, QStringLiteral("row-"), [](const QString& id) -> std::optional<QRect> {
      bool ok = false;
      const int i = id.mid(4).toInt(&ok);
      if (!ok || i < 0 || i >= 5) return std::nullopt;
      return QRect(0, 20 * i, 100, 20);
    });
  }
};

} // namespace

TEST_F(DemoAnchorsTest, AWidgetReportsOnlyOnceInAShownWindow) {
  QWidget window;
  window.resize(300, 200);
  auto* button = new QPushButton("Go", &window);
  button->setGeometry(40, 30, 80, 24);
  demoAnchor(button, "go");
  EXPECT_FALSE(DemoAnchors::shared().frames().contains("go"));
  EXPECT_FALSE(DemoAnchors::shared().frame("go"));

  window.show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(DemoAnchors::shared().frames().contains("go"));
  const QRect expected(button->mapToGlobal(QPoint(0, 0)), QSize(80, 24));
  EXPECT_EQ(DemoAnchors::shared().frame("go"), expected);

  // Layout moves it: the table follows without a lookup.
  button->setGeometry(10, 60, 100, 30);
  EXPECT_EQ(DemoAnchors::shared().frames().value("go"), QRect(button->mapToGlobal(QPoint(0, 0)), QSize(100, 30)));
  EXPECT_EQ(button->property("demoAnchor").toString(), "go");
}

TEST_F(DemoAnchorsTest, LastFrameStaysAfterTheWidgetGoes) {
  QWidget window;
  window.resize(300, 200);
  auto* button = new QPushButton("Go", &window);
  button->setGeometry(40, 30, 80, 24);
  demoAnchor(button, "sheetField");
  window.show();
  QCoreApplication::processEvents();
  const QRect last = *DemoAnchors::shared().frame("sheetField");
  delete button;
  EXPECT_EQ(DemoAnchors::shared().frame("sheetField"), last);
  EXPECT_FALSE(DemoAnchors::shared().frame("neverTagged"));
}

TEST_F(DemoAnchorsTest, TwoWidgetsWithOneIdLastTagWins) {
  QWidget window;
  window.resize(300, 200);
  auto* a = new QPushButton("A", &window);
  auto* b = new QPushButton("B", &window);
  a->setGeometry(0, 0, 50, 20);
  b->setGeometry(100, 100, 60, 20);
  window.show();
  demoAnchor(a, "same");
  demoAnchor(b, "same");
  EXPECT_EQ(DemoAnchors::shared().frame("same")->size(), QSize(60, 20));
}

TEST_F(DemoAnchorsTest, PaintedRowsComeFromTheirProvider) {
  QWidget window;
  window.resize(300, 200);
  auto* list = new PaintedList;
  list->setParent(&window);
  list->setGeometry(10, 10, 100, 100);
  window.show();
  QCoreApplication::processEvents();
  const auto frame = DemoAnchors::shared().frame("row-3");
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, QRect(list->mapToGlobal(QPoint(0, 60)), QSize(100, 20)));
  EXPECT_FALSE(DemoAnchors::shared().frame("row-7"));
  // Scrolled away or gone: the last frame stays.
  delete list;
  EXPECT_EQ(DemoAnchors::shared().frame("row-3"), frame);
}

TEST_F(DemoAnchorsTest, ButtonsNamedByTheirPropertyAreFound) {
  QWidget window;
  window.resize(300, 200);
  auto* button = new QPushButton("Load", &window);
  button->setGeometry(5, 5, 70, 22);
  button->setProperty("demoAnchor", "noteAction");
  window.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(DemoAnchors::shared().frame("noteAction"), QRect(button->mapToGlobal(QPoint(0, 0)), QSize(70, 22)));
}

TEST_F(DemoAnchorsTest, WatchedPropertiesReportWithoutALookup) {
  DemoAnchors::shared().watchProperties();
  QWidget window;
  window.resize(300, 200);
  auto* button = new QPushButton("Verify", &window);
  button->setProperty("demoAnchor", "verifyLedger");
  button->setGeometry(5, 5, 70, 22);
  window.show();
  QCoreApplication::processEvents();
  ASSERT_TRUE(DemoAnchors::shared().frames().contains("verifyLedger"));
  button->setGeometry(20, 40, 90, 30);
  EXPECT_EQ(DemoAnchors::shared().frames().value("verifyLedger").size(), QSize(90, 30));
  // The sheet goes; its frame stays.
  delete button;
  EXPECT_EQ(DemoAnchors::shared().frames().value("verifyLedger").size(), QSize(90, 30));
}
