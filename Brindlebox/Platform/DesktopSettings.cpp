#include "Platform/DesktopSettings.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>

namespace bx {

namespace {

constexpr auto kPortalService = "org.freedesktop.portal.Desktop";
constexpr auto kPortalPath = "/org/freedesktop/portal/desktop";
constexpr auto kPortalSettings = "org.freedesktop.portal.Settings";
constexpr int kPortalTimeoutMs = 400;
constexpr auto kConnectionName = "bx-desktop-settings";

// The portal wraps the value in one or two variants depending on its version.
QVariant unwrap(QVariant v) {
  while (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
    v = v.value<QDBusVariant>().variant();
  return v;
}

std::optional<bool> darkFromColorScheme(const QVariant& v) {
  bool ok = false;
  const uint scheme = v.toUInt(&ok);
  if (!ok) return std::nullopt;
  if (scheme == 1) return true;   // prefer dark
  if (scheme == 2) return false;  // prefer light
  return std::nullopt;            // no preference
}

} // namespace

DesktopSettings& DesktopSettings::shared() {
  static DesktopSettings* instance = new DesktopSettings;
  return *instance;
}

DesktopSettings::DesktopSettings() {
  qRegisterMetaType<QDBusVariant>();
  if (readPortal()) source_ = Source::Portal;
  else readGSettings();
}

void DesktopSettings::refresh() {
  const auto dark = prefersDark_;
  const auto animations = animationsEnabled_;
  prefersDark_.reset();
  animationsEnabled_.reset();
  source_ = Source::None;
  if (readPortal()) source_ = Source::Portal;
  else readGSettings();
  if (dark != prefersDark_ || animations != animationsEnabled_) emit changed();
}

bool DesktopSettings::readPortal() {
  // A connection of our own, so a session bus that appears later is found
  // by the next refresh.
  // The address is read here each time (the D-Bus library reads it only once
  // per process).
  const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  QDBusConnection bus = address.isEmpty()
                            ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName)
                            : QDBusConnection::connectToBus(address, kConnectionName);
  if (!bus.isConnected()) {
    QDBusConnection::disconnectFromBus(kConnectionName);
    subscribed_ = false;
    return false;
  }
  auto read = [&](const QString& ns, const QString& key) -> std::optional<QVariant> {
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalSettings, "Read");
    call << ns << key;
    QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    return unwrap(reply.arguments().first());
  };
  const auto scheme = read("org.freedesktop.appearance", "color-scheme");
  if (!scheme) return false;
  prefersDark_ = darkFromColorScheme(*scheme);
  if (const auto anim = read("org.gnome.desktop.interface", "enable-animations"); anim && anim->canConvert<bool>())
    animationsEnabled_ = anim->toBool();
  if (!subscribed_)
    subscribed_ = bus.connect(kPortalService, kPortalPath, kPortalSettings, "SettingChanged", this,
                              SLOT(onPortalSettingChanged(QString, QString, QDBusVariant)));
  return true;
}

void DesktopSettings::readGSettings() {
  const QString tool = QStandardPaths::findExecutable("gsettings");
  if (tool.isEmpty()) return;
  auto get = [&](const QString& key) -> QString {
    QProcess p;
    p.start(tool, {"get", "org.gnome.desktop.interface", key});
    if (!p.waitForFinished(1000)) {
      p.kill();
      p.waitForFinished(200);
      return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  };
  const QString scheme = get("color-scheme");
  if (scheme.isEmpty()) return;
  source_ = Source::GSettings;
  if (scheme == "'prefer-dark'") prefersDark_ = true;
  else if (scheme == "'prefer-light'") prefersDark_ = false;
  const QString anim = get("enable-animations");
  if (anim == "true") animationsEnabled_ = true;
  else if (anim == "false") animationsEnabled_ = false;
}

void DesktopSettings::onPortalSettingChanged(const QString& ns, const QString& key, const QDBusVariant& value) {
  const QVariant v = unwrap(value.variant());
  if (ns == "org.freedesktop.appearance" && key == "color-scheme") {
    prefersDark_ = darkFromColorScheme(v);
    emit changed();
  } else if (ns == "org.gnome.desktop.interface" && key == "enable-animations" && v.canConvert<bool>()) {
    animationsEnabled_ = v.toBool();
    emit changed();
  }
}

} // namespace bx
