#include "AppTestSupport.h"

#include "Theme/Theme.h"
#include "Views/ToastOverlay.h"
#include "Views/ToastView.h"

#include <QSignalSpy>
#include <QtTest/QTest>

using namespace bx;
using bx::test::PinnedLook;

TEST(Toast, EqualityComparesIdentityAsWellAsContent) {
  const Toast a = Toast::make("Saved", "checkmark.shield.fill", Theme::seal);
  const Toast b = Toast::make("Saved", "checkmark.shield.fill", Theme::seal);
  EXPECT_NE(a, b);  // same words, different toasts
  Toast c = a;
  EXPECT_EQ(a, c);
  c.tint = Theme::ink2;
  EXPECT_NE(a, c);
  c = a;
  c.symbol = "stop.circle.fill";
  EXPECT_NE(a, c);
}

namespace {

class ToastOverlayTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    host.resize(600, 400);
    host.setAttribute(Qt::WA_DontShowOnScreen);
    host.show();
  }
  QWidget host;
};

} // namespace

TEST_F(ToastOverlayTest, ANewToastReplacesTheShownOneWithItsOwnViewAndBounce) {
  ToastOverlay overlay(&host);
  EXPECT_EQ(overlay.currentView(), nullptr);
  overlay.setToast(Toast::make("Saved", "checkmark.shield.fill", Theme::seal));
  ToastView* first = overlay.currentView();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->bounce(), 1);
  EXPECT_TRUE(first->isVisible());

  // The same toast again changes nothing.
  overlay.setToast(overlay.toast());
  EXPECT_EQ(overlay.currentView(), first);

  // Same words, new toast: a new view that bounces on its own.
  overlay.setToast(Toast::make("Saved", "checkmark.shield.fill", Theme::seal));
  ToastView* second = overlay.currentView();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->bounce(), 1);

  overlay.setToast(std::nullopt);
  EXPECT_EQ(overlay.currentView(), nullptr);
  EXPECT_FALSE(overlay.toast().has_value());
}

TEST_F(ToastOverlayTest, ClickingTheBannerClearsItAtOnceAndReportsIt) {
  ToastOverlay overlay(&host);
  const Toast t = Toast::make("Released 40 from the server · copies safe in the vault", "checkmark.shield.fill",
                              Theme::seal);
  overlay.setToast(t);
  QSignalSpy dismissed(&overlay, &ToastOverlay::dismissed);
  ToastView* view = overlay.currentView();
  ASSERT_NE(view, nullptr);
  // A click in the shadow margin is not a click on the banner.
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(dismissed.count(), 0);
  QTest::mouseClick(view, Qt::LeftButton, {}, view->bannerRect().center());
  ASSERT_EQ(dismissed.count(), 1);
  EXPECT_EQ(dismissed.at(0).at(0).toUuid(), t.id);
  EXPECT_FALSE(overlay.toast().has_value());
  // The owner's own clearing later finds nothing left to do.
  overlay.setToast(std::nullopt);
  EXPECT_EQ(dismissed.count(), 1);
}

TEST_F(ToastOverlayTest, BannerSitsAtTheBottomCentre) {
  ToastOverlay overlay(&host);
  overlay.setToast(Toast::make("Everything was already in the vault", "checkmark.shield.fill", Theme::seal));
  const QRect banner = overlay.bannerGeometry();
  EXPECT_EQ(ToastOverlay::bottomPadding(), 22);
  EXPECT_EQ(banner.bottom() + 1, 400 - 22);
  EXPECT_NEAR(banner.center().x(), 300, 1);
  const QRect inView = overlay.currentView()->bannerRect().translated(overlay.currentView()->pos());
  EXPECT_EQ(inView, banner);
}

TEST_F(ToastOverlayTest, InTheDemoTheBannerSitsHigher) {
  qputenv("BRINDLEBOX_DEMO_DIR", "");  // presence is enough, the value is not read
  ToastOverlay overlay(&host);
  overlay.setToast(Toast::make("Saved", "checkmark.shield.fill", Theme::seal));
  EXPECT_EQ(ToastOverlay::bottomPadding(), 96);
  EXPECT_EQ(overlay.bannerGeometry().bottom() + 1, 400 - 96);
  qunsetenv("BRINDLEBOX_DEMO_DIR");
}

TEST_F(ToastOverlayTest, LongTextIsCutToTwoLinesAndTheBannerKeepsSixteenPixelsFromTheSides) {
  ToastOverlay overlay(&host);
  QString text;
  for (int i = 0; i < 40; ++i) text += "word ";
  overlay.setToast(Toast::make(text, "stop.circle.fill", Theme::ink2));
  const QStringList lines = overlay.currentView()->textLines(600 - 32);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[1].endsWith(QChar(0x2026)));
  const QRect banner = overlay.bannerGeometry();
  EXPECT_GE(banner.left(), 16);
  EXPECT_LE(banner.right() + 1, 600 - 16);
}

TEST_F(ToastOverlayTest, ToastsMoveInFromBelowUnlessReduceMotionThenOnlyFade) {
  Motion::setInstant(false);
  {
    ToastOverlay overlay(&host);
    overlay.setToast(Toast::make("Saved", "checkmark.shield.fill", Theme::seal));
    ToastView* v = overlay.currentView();
    EXPECT_GE(v->y() + ToastView::kShadowMargin, host.height());  // starts below the bottom edge
    EXPECT_DOUBLE_EQ(v->presentationOpacity(), 0);
  }
  ReduceMotion::shared().setOverride(true);
  {
    ToastOverlay overlay(&host);
    overlay.setToast(Toast::make("Saved", "checkmark.shield.fill", Theme::seal));
    ToastView* v = overlay.currentView();
    EXPECT_EQ(v->y() + ToastView::kShadowMargin, overlay.bannerGeometry().top());  // in place, fading in
    EXPECT_DOUBLE_EQ(v->presentationOpacity(), 0);
    QElapsedTimer timer;
    timer.start();
    while (v->presentationOpacity() < 1 && timer.elapsed() < 3000) QTest::qWait(20);
    EXPECT_DOUBLE_EQ(v->presentationOpacity(), 1);
    EXPECT_EQ(v->y() + ToastView::kShadowMargin, overlay.bannerGeometry().top());
  }
}
