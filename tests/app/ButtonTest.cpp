#include "AppTestSupport.h"

#include "Theme/Theme.h"
#include "Views/VaultButton.h"

#include <QSignalSpy>
#include <QtTest/QTest>

using namespace bx;
using bx::test::PinnedLook;

namespace {
class VaultButtonTest : public PinnedLook {};
} // namespace
using Kind = VaultButtonStyle::Kind;

namespace {

struct KindLook {
  Kind kind;
  const char* name;
  QColor fillTop, fillBottom, text, border;
  double hoverTint;         // when hovered and enabled
  QColor hoverBackground;   // when hovered and enabled
};

QColor a(QColor c, double alpha) {
  c.setAlphaF(float(alpha));
  return c;
}

std::vector<KindLook> lightKinds() {
  const auto L = ColorScheme::Light;
  return {
      {Kind::Primary, "primary", QColor(0x1E, 0x3C, 0x72), QColor(36, 82, 122), Qt::white, a(Qt::white, 0.12), 0.08,
       Qt::transparent},
      {Kind::Secondary, "secondary", Theme::panel.resolve(L), Theme::panel.resolve(L), Theme::ink.resolve(L),
       Theme::ruleStrong.resolve(L), 0, Theme::hover.resolve(L)},
      {Kind::Destructive, "destructive", Theme::danger.resolve(L), Theme::danger.resolve(L), Qt::white,
       a(Qt::white, 0.12), 0.08, Qt::transparent},
      {Kind::Quiet, "quiet", Qt::transparent, Qt::transparent, Theme::ink2.resolve(L), Qt::transparent, 0.08,
       Theme::hover.resolve(L)},
  };
}

struct StateCase {
  const char* name;
  bool hover, pressed, enabled, reduce;
  double opacity, scale;
  bool showsHover;
};

const StateCase kStates[] = {
    {"normal", false, false, true, false, 1, 1, false},
    {"hover", true, false, true, false, 1, 1, true},
    {"pressed", false, true, true, false, 0.82, 0.98, false},
    {"pressed, reduce motion", false, true, true, true, 0.82, 1, false},
    {"hover and pressed", true, true, true, false, 0.82, 0.98, true},
    {"disabled", false, false, false, false, 0.4, 1, false},
    {"disabled under the pointer", true, false, false, false, 0.4, 1, false},
};

} // namespace

TEST_F(VaultButtonTest, ButtonStateTableReadFromTheWidgets) {
  for (const bool compact : {false, true}) {
    for (const KindLook& k : lightKinds()) {
      for (const StateCase& s : kStates) {
        SCOPED_TRACE(testing::Message() << k.name << (compact ? " compact " : " ") << s.name);
        ReduceMotion::shared().setOverride(s.reduce);
        VaultButton b("Verify Copies", k.kind, compact);
        b.setEnabled(s.enabled);
        b.setHovered(s.hover);
        b.setDown(s.pressed);
        bx::test::render(b);  // drawing picks up the pressed flag

        const VaultButtonStyle::Look l = b.look();
        EXPECT_EQ(l.fillTop, k.fillTop) << bx::test::describe(l.fillTop);
        EXPECT_EQ(l.fillBottom, k.fillBottom);
        EXPECT_EQ(l.text, k.text);
        EXPECT_TRUE(bx::test::near(l.border, k.border, 1)) << bx::test::describe(l.border);
        EXPECT_DOUBLE_EQ(l.hoverTint, s.showsHover ? k.hoverTint : 0);
        EXPECT_EQ(l.hoverBackground.alpha() > 0, s.showsHover && k.hoverBackground.alpha() > 0);
        if (s.showsHover && k.hoverBackground.alpha() > 0) {
          EXPECT_EQ(l.hoverBackground, k.hoverBackground);
        }
        EXPECT_DOUBLE_EQ(l.opacity, s.opacity);
        EXPECT_DOUBLE_EQ(l.scale, s.scale);
        // What is drawn once settled agrees with the table.
        EXPECT_DOUBLE_EQ(b.currentOpacity(), s.opacity);
        EXPECT_DOUBLE_EQ(b.currentScale(), s.scale);
        EXPECT_DOUBLE_EQ(b.currentHoverTint(), s.showsHover ? k.hoverTint : 0);
      }
    }
  }
}

TEST_F(VaultButtonTest, ButtonSizesAndFontsByCompactness) {
  VaultButton regular("Back Up All", Kind::Secondary, false);
  VaultButton compact("Back Up All", Kind::Secondary, true);
  EXPECT_EQ(regular.buttonStyle().font().pixelSize(), 13);
  EXPECT_EQ(compact.buttonStyle().font().pixelSize(), 12);
  EXPECT_EQ(regular.buttonStyle().font().weight(), QFont::Medium);
  EXPECT_EQ(compact.buttonStyle().font().weight(), QFont::Medium);
  const QFontMetricsF rf(regular.buttonStyle().font()), cf(compact.buttonStyle().font());
  EXPECT_EQ(regular.sizeHint().height(), qCeil(rf.height()) + 14);
  EXPECT_EQ(compact.sizeHint().height(), qCeil(cf.height()) + 8);
  EXPECT_EQ(regular.sizeHint().width(), qCeil(rf.horizontalAdvance("Back Up All")) + 28);
  EXPECT_EQ(compact.sizeHint().width(), qCeil(cf.horizontalAdvance("Back Up All")) + 20);
}

TEST_F(VaultButtonTest, PrimaryGradientFollowsALiveAppearanceChange) {
  VaultButton b("Add Account…", Kind::Primary);
  bx::test::render(b);
  EXPECT_EQ(b.look().fillTop, QColor(30, 60, 114));
  EXPECT_EQ(b.look().fillBottom, QColor(36, 82, 122));
  const QImage light = b.grab().toImage();
  Appearance::shared().setOverride(ColorScheme::Dark);
  EXPECT_EQ(b.look().fillTop, QColor(43, 82, 150));
  EXPECT_EQ(b.look().fillBottom, QColor(35, 135, 123));
  const QImage dark = b.grab().toImage();
  // Near the bottom edge the dark gradient is teal, the light one navy.
  const QColor lb = light.pixelColor(light.width() / 2, light.height() - 3);
  const QColor db = dark.pixelColor(dark.width() / 2, dark.height() - 3);
  EXPECT_GT(db.green(), lb.green() + 30);
}

TEST_F(VaultButtonTest, DisabledButtonIgnoresPressesAndTheRoundedCornerIsNotClickable) {
  VaultButton b("Release", Kind::Destructive);
  b.resize(b.sizeHint());
  bx::test::render(b);
  QSignalSpy clicks(&b, &QAbstractButton::clicked);
  QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(1, 1));  // outside the corner's curve
  EXPECT_EQ(clicks.count(), 0);
  QTest::mouseClick(&b, Qt::LeftButton, {}, b.rect().center());
  EXPECT_EQ(clicks.count(), 1);

  b.setEnabled(false);
  QTest::mousePress(&b, Qt::LeftButton, {}, b.rect().center());
  EXPECT_FALSE(b.isDown());
  EXPECT_DOUBLE_EQ(b.currentOpacity(), 0.4);
  EXPECT_DOUBLE_EQ(b.currentScale(), 1);
  QTest::mouseRelease(&b, Qt::LeftButton, {}, b.rect().center());
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(VaultButtonTest, HoverTintCoversTheWholeButtonTextIncluded) {
  // A hovered destructive button is lighter everywhere, on its white text too
  // (the tint lies over the label), which shows as a lighter fill at the edge.
  VaultButton plain("Delete", Kind::Destructive);
  VaultButton hovered("Delete", Kind::Destructive);
  hovered.setHovered(true);
  const QImage p = bx::test::render(plain);
  const QImage h = bx::test::render(hovered);
  const QPoint edge(4, p.height() / 2);
  EXPECT_GT(h.pixelColor(edge).lightness(), p.pixelColor(edge).lightness());
}
