#pragma once

#include <QDBusVariant>
#include <QObject>
#include <optional>

namespace bx {

// What the desktop says about dark appearance and animations. Read from the
// XDG desktop portal (org.freedesktop.appearance color-scheme and GNOME's
// org.gnome.desktop.interface enable-animations, with live change signals)
// or, when no portal answers, once from `gsettings`. Either value is empty
// when nothing could be learnt. Created on first use; GUI thread only.
class DesktopSettings : public QObject {
  Q_OBJECT
public:
  static DesktopSettings& shared();

  std::optional<bool> prefersDark() const { return prefersDark_; }
  std::optional<bool> animationsEnabled() const { return animationsEnabled_; }

  // Where the values came from.
  enum class Source { None, Portal, GSettings };
  Source source() const { return source_; }

  // Reads the settings again (the portal reports its changes by itself;
  // `gsettings` is only read when asked) and signals when anything changed.
  void refresh();

signals:
  void changed();

private slots:
  void onPortalSettingChanged(const QString& ns, const QString& key, const QDBusVariant& value);

private:
  DesktopSettings();
  bool readPortal();
  void readGSettings();

  std::optional<bool> prefersDark_;
  std::optional<bool> animationsEnabled_;
  Source source_ = Source::None;
  bool subscribed_ = false;
};

} // namespace bx
