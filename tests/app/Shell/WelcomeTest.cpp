#include "ShellTestSupport.h"
#include "Theme/Theme.h"

#include <QPainter>
#include "Shell/EmptySpineIllustration.h"
#include "Shell/Keycap.h"
#include "Shell/WelcomeView.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>

using namespace bx;
using namespace bx::test;

namespace {
class WelcomeTest : public ShellTest {};
} // namespace

TEST_F(WelcomeTest, TextsAsTheUserReadsThem) {
  WelcomeView page;
  auto textOf = [&](const char* name) { return page.findChild<TextBlock*>(name)->text(); };
  EXPECT_EQ(textOf("headline"), QStringLiteral("A vault for every email\nyou\u2019ve ever kept."));
  EXPECT_EQ(textOf("blurb"), QStringLiteral("Brindlebox copies your mail onto this computer as plain .eml files "
                                            "\u2014 one per message, filed by account, folder and year \u2014 then "
                                            "lets you travel through it offline."));
  // The hint names a mail app of this desktop, not the other one.
  EXPECT_EQ(textOf("hint"), QStringLiteral("Already in Evolution? Select the messages, then File \u203A Save as "
                                           "mbox\u2026 gives you an .mbox to import here."));
  EXPECT_EQ(page.addAccountButton()->text(), "Add a Mail Account");
  EXPECT_EQ(page.importButton()->text(), QStringLiteral("Import .eml or .mbox\u2026"));
}

TEST_F(WelcomeTest, ButtonsReportAndReturnPressesAddAccount) {
  WelcomeView page;
  page.resize(1000, 700);
  page.show();
  page.activateWindow();
  QApplication::setActiveWindow(&page);
  QSignalSpy add(&page, &WelcomeView::addAccountRequested);
  QSignalSpy import(&page, &WelcomeView::importRequested);
  QTest::keyClick(&page, Qt::Key_Return);
  QTest::keyClick(&page, Qt::Key_Enter);
  EXPECT_EQ(add.count(), 2);
  page.importButton()->click();
  EXPECT_EQ(import.count(), 1);
}

TEST_F(WelcomeTest, AppearsOnceAndRisesUnlessReduceMotion) {
  for (bool reduce : {false, true}) {
    ReduceMotion::shared().setOverride(reduce);
    Motion::setInstant(false);
    WelcomeView page;
    page.resize(1000, 700);
    EXPECT_EQ(page.appearProgress(), 0);
    page.show();
    EXPECT_TRUE(page.appeared());
    QTRY_COMPARE_WITH_TIMEOUT(page.appearProgress(), 1.0, 2000);
    Motion::setInstant(true);
  }
}

TEST_F(WelcomeTest, ImportStatusSlidesInUnlessReduceMotion) {
  WelcomeView page;
  page.resize(1000, 700);
  page.show();
  page.setImportMessage(QStringLiteral("Importing\u2026"));
  EXPECT_TRUE(page.importStatus()->isVisible());
  EXPECT_EQ(page.importStatus()->text(), QStringLiteral("Importing\u2026"));
  EXPECT_TRUE(page.importStatus()->slides());
  page.setImportMessage(std::nullopt);
  EXPECT_FALSE(page.importStatus()->isVisible());
  ReduceMotion::shared().setOverride(true);
  page.setImportMessage(QStringLiteral("Imported 3 messages"));
  EXPECT_FALSE(page.importStatus()->slides());
}

TEST_F(WelcomeTest, ShortWindowScrollsTallWindowCentres) {
  WelcomeView page;
  page.resize(1100, 300);
  page.show();
  QCoreApplication::processEvents();
  EXPECT_GT(page.scrollArea()->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(page.spine()->height(), 300) << "the strip stays fixed";
  page.resize(1100, 1400);
  QCoreApplication::processEvents();
  EXPECT_EQ(page.scrollArea()->verticalScrollBar()->maximum(), 0);
  QWidget* card = page.findChild<QWidget*>("promises");
  const QPoint top = card->mapTo(&page, QPoint(0, 0));
  EXPECT_GT(top.y(), 300) << "short content sits in the middle of a tall page";
}

TEST(EmptySpineTest, Metrics) {
  const auto tall = EmptySpineIllustration::metrics(800);
  EXPECT_NEAR(tall.step, (800 - 136) / 192.0, 1e-9);
  EXPECT_NEAR(tall.yearHeight, tall.step * 12 + 6, 1e-9);
  EXPECT_NEAR(tall.tick, tall.step - 1, 1e-9);
  const auto low = EmptySpineIllustration::metrics(300);
  EXPECT_EQ(low.step, 2);
  EXPECT_EQ(low.tick, 1);
}

TEST_F(WelcomeTest, SpineDrawsTheAccentBarsOfTheCurrentYear) {
  QImage img(120, 800, QImage::Format_ARGB32);
  QPainter p(&img);
  EmptySpineIllustration::paint(p, QSizeF(120, 800), 2026);
  p.end();
  const QColor paper = Theme::paper.resolved();
  // Second month's bar reaches 54 + 24; an ordinary tick only 54 + 3.
  const int y = 24 + qRound(EmptySpineIllustration::metrics(800).step * 1.4);
  EXPECT_FALSE(near(img.pixelColor(54 + 20, y), paper));
  const int later = 24 + qRound(EmptySpineIllustration::metrics(800).yearHeight * 2 + 1);
  EXPECT_TRUE(near(img.pixelColor(54 + 20, later), paper));
}

TEST(KeycapTest, ShowsTheKeysAsTheyReadHere) {
  EXPECT_EQ(Keycap(QStringLiteral("\u21E7\u2318B")).displayText(), "Ctrl+Shift+B");
  EXPECT_EQ(Keycap(QStringLiteral("\u23181 \u2013 \u23184")).displayText(), QStringLiteral("Ctrl+1 \u2013 Ctrl+4"));
  EXPECT_EQ(Keycap(QStringLiteral("\u2318\u2191  \u2318\u2193")).displayText(),
            QStringLiteral("Ctrl+\u2191  Ctrl+\u2193"));
  EXPECT_GE(Keycap(QStringLiteral("N")).sizeHint().width(), 26);
}
