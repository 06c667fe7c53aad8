#include "AppTestSupport.h"

#include "Theme/AnimatedValue.h"
#include "Theme/HoverHighlight.h"
#include "Theme/Motion.h"

#include <QElapsedTimer>
#include <QWidget>
#include <QtTest/QTest>

using namespace bx;
using bx::test::PinnedLook;

namespace {
class MotionLive : public PinnedLook {};
} // namespace

TEST(Motion, NamedAnimationsAreAsDefined) {
  EXPECT_EQ(Motion::spring, Animation::spring(0.35, 0.85));
  EXPECT_EQ(Motion::snappy, Animation::spring(0.25, 0.85));
  EXPECT_EQ(Motion::fade, Animation::easeInOut(0.18));
  EXPECT_EQ(Motion::fade.durationMs(), 180);
}

TEST(Motion, ReduceMotionTurnsEveryAnimatedChangeIntoTheFadeNeverNone) {
  const Animation asked[] = {Motion::spring, Motion::snappy, Motion::fade, Animation::spring(0.35, 1.0),
                             Animation::easeOut(0.15)};
  for (const Animation& a : asked) {
    EXPECT_EQ(MotionAnimation({true, a}).effective(), Motion::fade);
    EXPECT_EQ(MotionAnimation({false, a}).effective(), a);
  }
}

TEST_F(MotionLive, MotionReadsTheSettingWhenTheAnimationIsBuilt) {
  EXPECT_EQ(motion(Motion::spring), Motion::spring);
  ReduceMotion::shared().setOverride(true);
  EXPECT_EQ(motion(Motion::spring), Motion::fade);
  EXPECT_EQ(motion(Motion::snappy), Motion::fade);
  ReduceMotion::shared().setOverride(false);
  EXPECT_EQ(motion(Motion::snappy), Motion::snappy);
}

TEST(SpringCurve, StartsAtRestAndSettlesOnItsTarget) {
  for (const SpringCurve s : {SpringCurve{0.35, 0.85}, SpringCurve{0.25, 0.85}, SpringCurve{0.16, 0.85},
                              SpringCurve{0.35, 1.0}, SpringCurve{0.3, 1.4}}) {
    SCOPED_TRACE(testing::Message() << s.response << "/" << s.dampingFraction);
    EXPECT_DOUBLE_EQ(s.value(0), 0);
    EXPECT_NEAR(s.velocity(0), 0, 1e-6);
    const double settle = s.settleTime();
    EXPECT_GT(settle, s.response * 0.5);
    EXPECT_LT(settle, s.response * 5);
    EXPECT_NEAR(s.value(settle), 1, 1.5e-3);
    EXPECT_NEAR(s.value(settle * 2), 1, 1e-3);
  }
}

TEST(SpringCurve, UnderDampedOvershootsALittleAndCriticalNever) {
  double maxUnder = 0, maxCritical = 0;
  for (double t = 0; t < 2; t += 0.001) {
    maxUnder = std::max(maxUnder, SpringCurve{0.35, 0.85}.value(t));
    maxCritical = std::max(maxCritical, SpringCurve{0.35, 1.0}.value(t));
  }
  EXPECT_GT(maxUnder, 1.0);
  EXPECT_LT(maxUnder, 1.01);
  EXPECT_LE(maxCritical, 1.0);
  // Response is the undamped period: a quicker spring is further along.
  const SpringCurve quick{0.25, 0.85}, slow{0.35, 0.85};
  EXPECT_GT(quick.value(0.1), slow.value(0.1));
}

TEST(Animation, ProgressRunsFromZeroToOneAlongItsCurve) {
  const SpringCurve s{0.35, 0.85};
  const double total = s.settleTime();
  EXPECT_EQ(Motion::spring.durationMs(), int(std::lround(total * 1000)));
  for (const Animation& a : {Motion::spring, Motion::snappy, Motion::fade, Animation::easeOut(0.12)}) {
    EXPECT_DOUBLE_EQ(a.progress(0), 0);
    EXPECT_DOUBLE_EQ(a.progress(1), 1);
    EXPECT_DOUBLE_EQ(a.progress(-1), 0);
    EXPECT_DOUBLE_EQ(a.progress(2), 1);
  }
  for (double u = 0.05; u < 1; u += 0.05) EXPECT_DOUBLE_EQ(Motion::spring.progress(u), s.value(u * total)) << u;
  // Ease-in-out is symmetric and halfway at half time; ease-out is ahead of linear.
  EXPECT_DOUBLE_EQ(Motion::fade.progress(0.5), 0.5);
  EXPECT_NEAR(Motion::fade.progress(0.25) + Motion::fade.progress(0.75), 1, 1e-12);
  EXPECT_GT(Animation::easeOut(0.15).progress(0.3), 0.3);
}

TEST(AnimatedValue, MovesToItsTargetOverTheAnimation) {
  AnimatedValue v(0);
  v.animateTo(1, Animation::easeInOut(0.05));
  EXPECT_TRUE(v.isRunning());
  EXPECT_EQ(v.target(), 1);
  QElapsedTimer timer;
  timer.start();
  while (v.isRunning() && timer.elapsed() < 5000) QTest::qWait(10);
  EXPECT_FALSE(v.isRunning());
  EXPECT_DOUBLE_EQ(v.value(), 1);
  // A new target while settled and equal is no animation at all.
  v.animateTo(1, Motion::spring);
  EXPECT_FALSE(v.isRunning());
}

TEST_F(MotionLive, HoverHighlightLooksByLiftHoverAndReduceMotion) {
  struct Case {
    bool lift, hover, reduce;
    double background, scale, shadow;
  } cases[] = {
      {false, false, false, 0, 1, 0},     {false, true, false, 0.05, 1, 0},  {false, true, true, 0.05, 1, 0},
      {true, false, false, 0, 1, 0},      {true, true, false, 0.05, 1.015, 0.1},
      {true, true, true, 0.05, 1, 0.1},  // no scale, shadow stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lift " << c.lift << " hover " << c.hover << " reduce " << c.reduce);
    ReduceMotion::shared().setOverride(c.reduce);
    QWidget w;
    auto* h = HoverHighlight::apply(&w, 10, c.lift);
    h->setHover(c.hover);
    EXPECT_DOUBLE_EQ(h->backgroundOpacity(), c.background);
    EXPECT_DOUBLE_EQ(h->scale(), c.scale);
    EXPECT_DOUBLE_EQ(h->shadowOpacity(), c.shadow);
    EXPECT_EQ(w.graphicsEffect(), h);
  }
}

TEST_F(MotionLive, HoverHighlightFollowsThePointerAndDrawsOutsideTheWidgetWhenLifted) {
  QWidget w;
  w.resize(100, 40);
  auto* h = HoverHighlight::apply(&w, 10, true);
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(&w, &enter);
  EXPECT_TRUE(h->hover());
  EXPECT_DOUBLE_EQ(h->progress(), 1);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&w, &leave);
  EXPECT_FALSE(h->hover());
  EXPECT_DOUBLE_EQ(h->progress(), 0);
  const QRectF room = h->boundingRectFor(QRectF(0, 0, 100, 40));
  EXPECT_LT(room.top(), -8);  // the shadow has room above and below
  EXPECT_GT(room.bottom(), 40 + 8 + 3);
}
