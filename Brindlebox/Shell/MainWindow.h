#pragma once

#include "Shell/ShellStore.h"

#include <QMainWindow>

namespace bx {

class BrindleboxCommands;
class RootView;

// The one main window ("main", titled "Brindlebox", 1280 × 800, at least
// 1100 × 620) with the root view, the toolbar and the menu bar. Closing it
// quits the application: nothing here could open it again, so a Settings
// or update window left open would keep a process without a main window.
class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  explicit MainWindow(ShellStore& store, QWidget* parent = nullptr);

  RootView* root() const { return root_; }
  BrindleboxCommands* commands() const { return commands_; }

  static constexpr QSize kDefaultSize{1280, 800};
  static constexpr QSize kMinimumSize{1100, 620};

  // Begins quitting: windows closed from here on are not the user's doing.
  static void quit();

protected:
  void closeEvent(QCloseEvent*) override;

private:
  ShellStore& store_;
  RootView* root_ = nullptr;
  BrindleboxCommands* commands_ = nullptr;
};

} // namespace bx
