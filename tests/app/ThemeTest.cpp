#include "AppTestSupport.h"

#include "Theme/Theme.h"
#include "Views/VaultCard.h"

#include <QSignalSpy>

using namespace bx;
using bx::test::PinnedLook;

namespace {
class ThemeLive : public PinnedLook {};
} // namespace

namespace {

struct TokenCase {
  const char* name;
  ThemeColor token;
  quint32 light;
  double lightAlpha;
  quint32 dark;
  double darkAlpha;
};

QColor srgb(quint32 v, double a) {
  QColor c((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  c.setAlphaF(float(a));
  return c;
}

} // namespace

TEST(Theme, EveryTokenResolvesToItsLightAndDarkValue) {
  const TokenCase cases[] = {
      {"paper", Theme::paper, 0xF4F6F8, 1, 0x0E1420, 1},
      {"panel", Theme::panel, 0xFFFFFF, 1, 0x151C2A, 1},
      {"raised", Theme::raised, 0xFAFBFC, 1, 0x1A2233, 1},
      {"rule", Theme::rule, 0x0F1B2D, 0.09, 0xFFFFFF, 0.08},
      {"ruleStrong", Theme::ruleStrong, 0x0F1B2D, 0.16, 0xFFFFFF, 0.14},
      {"ink", Theme::ink, 0x142033, 1, 0xE6EAF1, 1},
      {"ink2", Theme::ink2, 0x566173, 1, 0x9BA6B6, 1},
      {"ink3", Theme::ink3, 0x8A94A3, 1, 0x6B7688, 1},
      {"seal", Theme::seal, 0x23877B, 1, 0x45C2B1, 1},
      {"focus", Theme::focus, 0x1E3C72, 1, 0x5F8BD8, 1},
      {"caution", Theme::caution, 0xA86A12, 1, 0xE2AE55, 1},
      {"danger", Theme::danger, 0xA63D35, 1, 0xE5847A, 1},
      {"selection", Theme::selection, 0x1E3C72, 0.10, 0x5F8BD8, 0.20},
      {"hover", Theme::hover, 0x0F1B2D, 0.04, 0xFFFFFF, 0.05},
      {"navy", Theme::navy, 0x1E3C72, 1, 0x1E3C72, 1},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.name);
    const QColor light = c.token.resolve(ColorScheme::Light);
    const QColor dark = c.token.resolve(ColorScheme::Dark);
    EXPECT_EQ(light.rgb() & 0xFFFFFF, c.light);
    EXPECT_NEAR(light.alphaF(), c.lightAlpha, 1e-4);
    EXPECT_EQ(dark.rgb() & 0xFFFFFF, c.dark);
    EXPECT_NEAR(dark.alphaF(), c.darkAlpha, 1e-4);
    EXPECT_EQ(light.spec(), QColor::Rgb);
  }
  EXPECT_FALSE(Theme::navy.isDynamic());
  EXPECT_EQ(Theme::rCard, 10);
}

TEST_F(ThemeLive, TokensFollowTheAppearanceLiveAndSayWhenItChanges) {
  QSignalSpy spy(&Appearance::shared(), &Appearance::changed);
  EXPECT_TRUE(bx::test::near(Theme::rule.resolved(), srgb(0x0F1B2D, 0.09)));
  Appearance::shared().setOverride(ColorScheme::Dark);
  EXPECT_TRUE(bx::test::near(Theme::rule.resolved(), srgb(0xFFFFFF, 0.08)));
  Appearance::shared().setOverride(ColorScheme::Dark);  // no change, no signal
  Appearance::shared().setOverride(ColorScheme::Light);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(0).at(0).value<ColorScheme>(), ColorScheme::Dark);
  EXPECT_EQ(spy.at(1).at(0).value<ColorScheme>(), ColorScheme::Light);
}

TEST_F(ThemeLive, AWidgetOnScreenRepaintsInTheNewAppearanceWithoutBeingRebuilt) {
  VaultCard card(Theme::rCard, Theme::raised);
  card.resize(120, 60);
  QImage before = bx::test::render(card);
  EXPECT_EQ(QColor(before.pixel(60, 30)).rgb() & 0xFFFFFF, 0xFAFBFCu);
  Appearance::shared().setOverride(ColorScheme::Dark);
  QImage after = card.grab().toImage();
  EXPECT_EQ(QColor(after.pixel(60, 30)).rgb() & 0xFFFFFF, 0x1A2233u);
}

TEST(Theme, OpacityScalesBothVariantsAndEqualityComparesEverything) {
  const ThemeColor half = Theme::seal.opacity(0.6);
  EXPECT_NEAR(half.resolve(ColorScheme::Light).alphaF(), 0.6, 1e-3);
  EXPECT_NEAR(half.resolve(ColorScheme::Dark).alphaF(), 0.6, 1e-3);
  EXPECT_EQ(half.resolve(ColorScheme::Dark).rgb() & 0xFFFFFF, 0x45C2B1u);
  EXPECT_NE(half, Theme::seal);
  EXPECT_EQ(Theme::seal.opacity(1), Theme::seal);
  EXPECT_TRUE(ThemeColor::clear().isClear());
}

TEST(Theme, FontsHaveTheirPixelSizesAndWeights) {
  struct Case {
    const char* name;
    QFont font;
    int pixels;
    QFont::Weight weight;
  } cases[] = {
      {"display", Theme::Font::display(), 28, QFont::DemiBold}, {"title", Theme::Font::title(), 20, QFont::DemiBold},
      {"month", Theme::Font::month(), 19, QFont::DemiBold},     {"headline", Theme::Font::headline(), 13, QFont::DemiBold},
      {"label", Theme::Font::label(), 10, QFont::DemiBold},     {"body", Theme::Font::body(), 13, QFont::Normal},
      {"callout", Theme::Font::callout(), 12, QFont::Normal},   {"caption", Theme::Font::caption(), 11, QFont::Normal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.font.pixelSize(), c.pixels);
    EXPECT_EQ(c.font.weight(), c.weight);
    EXPECT_FALSE(c.font.italic());
  }
}

TEST(Theme, MixingColoursBlendsAndClamps) {
  const QColor a(0, 0, 0), b(255, 255, 255);
  EXPECT_TRUE(bx::test::near(mixColors(a, b, 0.5), QColor(128, 128, 128), 1));
  EXPECT_EQ(mixColors(a, b, -1), a);
  EXPECT_EQ(mixColors(a, b, 2), b);
  // A clear end fades the other colour's alpha without darkening it.
  const QColor faded = mixColors(QColor(0, 0, 0, 0), QColor(200, 100, 50), 0.5);
  EXPECT_EQ(faded.red(), 200);
  EXPECT_NEAR(faded.alphaF(), 0.5, 0.01);
}
