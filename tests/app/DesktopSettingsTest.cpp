#include "Platform/Appearance.h"
#include "Platform/DesktopSettings.h"
#include "Platform/ReduceMotion.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace bx;

namespace {

// A stand-in for `gsettings` that answers from two files, so a test can
// change the desktop's settings under the application.
class FakeGSettings {
public:
  FakeGSettings() {
    EXPECT_TRUE(dir_.isValid());
    QFile script(dir_.filePath("gsettings"));
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n"
                 "[ \"$1\" = get ] && [ \"$2\" = org.gnome.desktop.interface ] || exit 1\n"
                 "cat \"$(dirname \"$0\")/$3\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", dir_.path().toUtf8() + ":" + qgetenv("PATH"));
    // No session bus, so no portal: the settings come from gsettings.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.filePath("no-bus").toUtf8());
  }
  void set(const char* key, const char* value) {
    QFile f(dir_.filePath(key));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(value);
    f.write("\n");
  }

private:
  QTemporaryDir dir_;
};

} // namespace

// ctest runs each case in its own process, so the desktop is first asked here.
TEST(DesktopSettings, AppearanceAndReduceMotionFollowTheDesktopWhenNothingOverridesThem) {
  FakeGSettings desktop;
  Appearance::shared().setOverride(std::nullopt);
  ReduceMotion::shared().setOverride(std::nullopt);
  desktop.set("color-scheme", "'prefer-dark'");
  desktop.set("enable-animations", "false");
  DesktopSettings::shared().refresh();
  if (DesktopSettings::shared().source() == DesktopSettings::Source::Portal)
    GTEST_SKIP() << "a desktop portal answers in this session";
  ASSERT_EQ(DesktopSettings::shared().source(), DesktopSettings::Source::GSettings);
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Dark);
  EXPECT_TRUE(ReduceMotion::isOn());

  QSignalSpy appearance(&Appearance::shared(), &Appearance::changed);
  QSignalSpy motion(&ReduceMotion::shared(), &ReduceMotion::changed);
  desktop.set("color-scheme", "'default'");
  desktop.set("enable-animations", "true");
  DesktopSettings::shared().refresh();
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Light);  // no preference reads as light
  EXPECT_FALSE(ReduceMotion::isOn());
  EXPECT_EQ(appearance.count(), 1);
  EXPECT_EQ(motion.count(), 1);

  // An override still wins over the desktop.
  desktop.set("color-scheme", "'prefer-dark'");
  DesktopSettings::shared().refresh();
  Appearance::shared().setOverride(ColorScheme::Light);
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Light);
  Appearance::shared().setOverride(std::nullopt);
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Dark);
}
