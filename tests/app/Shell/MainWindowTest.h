#pragma once

#include "FakeShellStore.h"
#include "ShellTestSupport.h"
#include "Shell/MainWindow.h"

#include <memory>

namespace bx::test {

// A main window over a fake store, opened on screen and active.
class MainWindowTest : public ShellTest {
protected:
  void open(bool guideSeen = true) {
    QSettings().setValue("bx.didShowWelcome", guideSeen);
    window = std::make_unique<MainWindow>(store);
    window->show();
    window->activateWindow();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    window.reset();
    ShellTest::TearDown();
  }

  FakeShellStore store;
  std::unique_ptr<MainWindow> window;
};

} // namespace bx::test
