#pragma once

#include <QWidget>

namespace bx {

class ShellStore;

// The Settings window (File › Settings…, Ctrl+,): one at a time, raised when
// asked again. Its content comes from Seams::settings() (a placeholder until
// the settings subsystem sets it).
class SettingsWindow : public QWidget {
  Q_OBJECT
public:
  static SettingsWindow* open(ShellStore& store);
  static SettingsWindow* current();

private:
  explicit SettingsWindow(ShellStore& store);
};

} // namespace bx
