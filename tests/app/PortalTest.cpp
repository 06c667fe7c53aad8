// The desktop portal path of the platform layer, against a private D-Bus
// session with a stand-in portal that answers Settings.Read and emits
// SettingChanged.

#include "Platform/Appearance.h"
#include "Platform/DesktopSettings.h"
#include "Platform/ReduceMotion.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace bx;

class FakePortalSettings : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
  uint colorScheme = 1;  // prefer dark
  bool animations = false;

public slots:
  QDBusVariant Read(const QString& ns, const QString& key) {
    // Older portals wrap the value twice; the reader copes with either.
    if (ns == "org.freedesktop.appearance" && key == "color-scheme")
      return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    if (ns == "org.gnome.desktop.interface" && key == "enable-animations") return QDBusVariant(animations);
    return QDBusVariant(QString());
  }
  void change(uint scheme, bool anim) {
    colorScheme = scheme;
    animations = anim;
    emit SettingChanged("org.freedesktop.appearance", "color-scheme", QDBusVariant(scheme));
    emit SettingChanged("org.gnome.desktop.interface", "enable-animations", QDBusVariant(anim));
  }

signals:
  void SettingChanged(const QString& ns, const QString& key, const QDBusVariant& value);
};

namespace {

template <typename F>
bool waitFor(F done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QTest::qWait(10);
  return done();
}

} // namespace

TEST(Portal, DesktopAppearanceAndAnimationsAreReadAndFollowedLive) {
  const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
  if (daemon.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QProcess bus;
  bus.start(daemon, {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + dir.filePath("bus")});
  ASSERT_TRUE(bus.waitForStarted(5000));
  ASSERT_TRUE(waitFor([&] { return bus.canReadLine() || bus.waitForReadyRead(50); }));
  const QString address = QString::fromUtf8(bus.readLine()).trimmed();
  ASSERT_FALSE(address.isEmpty());

  // The portal lives on its own thread and connection, so the application's
  // blocking calls get answers.
  QThread portalThread;
  portalThread.start();
  auto* portal = new FakePortalSettings;
  portal->moveToThread(&portalThread);
  bool registered = false;
  QMetaObject::invokeMethod(
      portal,
      [&] {
        QDBusConnection c = QDBusConnection::connectToBus(address, "fake-portal");
        registered = c.registerService("org.freedesktop.portal.Desktop") &&
                     c.registerObject("/org/freedesktop/portal/desktop", portal,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
      },
      Qt::BlockingQueuedConnection);
  ASSERT_TRUE(registered);

  qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  Appearance::shared().setOverride(std::nullopt);
  ReduceMotion::shared().setOverride(std::nullopt);
  DesktopSettings::shared().refresh();
  EXPECT_EQ(DesktopSettings::shared().source(), DesktopSettings::Source::Portal);
  EXPECT_EQ(DesktopSettings::shared().prefersDark(), true);
  EXPECT_EQ(DesktopSettings::shared().animationsEnabled(), false);
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Dark);
  EXPECT_TRUE(ReduceMotion::isOn());

  int appearanceChanges = 0, motionChanges = 0;
  QObject ctx;
  QObject::connect(&Appearance::shared(), &Appearance::changed, &ctx, [&] { ++appearanceChanges; });
  QObject::connect(&ReduceMotion::shared(), &ReduceMotion::changed, &ctx, [&] { ++motionChanges; });
  QMetaObject::invokeMethod(portal, [portal] { portal->change(2, true); });  // prefer light, animations on
  EXPECT_TRUE(waitFor([&] { return appearanceChanges == 1 && motionChanges == 1; }));
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Light);
  EXPECT_FALSE(ReduceMotion::isOn());

  QMetaObject::invokeMethod(portal, [portal] { portal->change(0, true); });  // no preference: light
  QTest::qWait(100);
  EXPECT_EQ(Appearance::shared().scheme(), ColorScheme::Light);

  QMetaObject::invokeMethod(
      portal,
      [portal] {
        QDBusConnection::disconnectFromBus("fake-portal");
        delete portal;
      },
      Qt::BlockingQueuedConnection);
  portalThread.quit();
  portalThread.wait();
  bus.kill();
  bus.waitForFinished(2000);
}

#include "PortalTest.moc"
