#include "Platform/Appearance.h"
#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"

#include <gtest/gtest.h>

using namespace bx;

TEST(Platform, AppearanceEnvironmentValues) {
  EXPECT_EQ(Appearance::parseEnvironmentValue("dark"), ColorScheme::Dark);
  EXPECT_EQ(Appearance::parseEnvironmentValue("Dark"), ColorScheme::Dark);
  EXPECT_EQ(Appearance::parseEnvironmentValue(" light\n"), ColorScheme::Light);
  EXPECT_EQ(Appearance::parseEnvironmentValue(""), std::nullopt);
  EXPECT_EQ(Appearance::parseEnvironmentValue("sepia"), std::nullopt);
}

TEST(Platform, ReduceMotionEnvironmentValues) {
  // Present means on, empty included; only an explicit "off" word turns it off.
  for (const char* on : {"", "1", "yes", "true", "on", "anything"}) EXPECT_TRUE(ReduceMotion::parseEnvironmentValue(on)) << on;
  for (const char* off : {"0", "false", "FALSE", "no", "off", " 0 "})
    EXPECT_FALSE(ReduceMotion::parseEnvironmentValue(off)) << off;
}

TEST(Platform, OverridesWinAndReportChanges) {
  int appearanceChanges = 0, motionChanges = 0;
  QObject ctx;
  QObject::connect(&Appearance::shared(), &Appearance::changed, &ctx, [&] { ++appearanceChanges; });
  QObject::connect(&ReduceMotion::shared(), &ReduceMotion::changed, &ctx, [&] { ++motionChanges; });
  Appearance::shared().setOverride(ColorScheme::Dark);
  EXPECT_TRUE(Appearance::shared().isDark());
  Appearance::shared().setOverride(ColorScheme::Light);
  EXPECT_FALSE(Appearance::shared().isDark());
  ReduceMotion::shared().setOverride(true);
  EXPECT_TRUE(ReduceMotion::isOn());
  ReduceMotion::shared().setOverride(true);
  ReduceMotion::shared().setOverride(false);
  EXPECT_FALSE(ReduceMotion::isOn());
  EXPECT_GE(appearanceChanges, 1);
  EXPECT_EQ(motionChanges, 2);
  Appearance::shared().setOverride(std::nullopt);
  ReduceMotion::shared().setOverride(std::nullopt);
}

TEST(Platform, TextsNamingAnotherDesktopReadAsTheirLinuxEquivalent) {
  const std::pair<QString, QString> cases[] = {
      {"Reveal in Finder (⇧⌘R)", "Show in Files (Ctrl+Shift+R)"},
      {"Show in Finder", "Show in Files"},
      {"Quick Look", "Preview"},
      {"Your password stays in this Mac’s Keychain and is sent to nobody",
       "Your password stays in your keyring and is sent to nobody"},
      {"Messages already in the vault stay on your Mac.", "Messages already in the vault stay on this computer."},
      {"Brindlebox copies every message to this Mac as a plain .eml file",
       "Brindlebox copies every message to this computer as a plain .eml file"},
      {"⌘1 – ⌘4", "Ctrl+1 – Ctrl+4"},
      {"⌘↑  ⌘↓", "Ctrl+↑  Ctrl+↓"},
      {"Stop after the current batch (⌘.)", "Stop after the current batch (Ctrl+.)"},
      {"Everything was already in the vault", "Everything was already in the vault"},
      {"Saved “Receipts” to the sidebar", "Saved “Receipts” to the sidebar"},
  };
  for (const auto& [from, to] : cases) EXPECT_EQ(PlatformText::localize(from), to) << from.toStdString();
}

TEST(Platform, ShortcutGlyphsBecomeKeyNamesInTheUsualOrder) {
  EXPECT_EQ(PlatformText::shortcut("⇧⌘B"), "Ctrl+Shift+B");
  EXPECT_EQ(PlatformText::shortcut("⌘N"), "Ctrl+N");
  EXPECT_EQ(PlatformText::shortcut("⌥⇧⌘L"), "Ctrl+Alt+Shift+L");
  EXPECT_EQ(PlatformText::shortcut("B"), "B");
}
