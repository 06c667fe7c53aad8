#pragma once

#include "Shell/Harness.h"

#include <memory>

namespace bx {

class AppStore;
class AppStoreShell;
class MainWindow;

// One run of the application on an existing QApplication: the store, the
// shell over it and the main window, then the kit and the launch sequence.
// The entry point and the start-up benchmark both use it. Destroying it
// stops the store's work while window and store still exist, then lets the
// window go before the store.
class AppSession {
public:
  AppSession();
  ~AppSession();

  // Shows the main window, starts the kit and, once the window has drawn
  // its first frame, runs the launch sequence.
  void start();
  bool launched() const { return launched_; }

  AppStore& store() { return *store_; }
  MainWindow& window() { return *window_; }

  // Sets up the application object: names, desktop entry, icon, palette;
  // and bounds the allocator's per-thread arenas.
  static void configureApplication();
  // The application's own data, cache and settings folders, made (or made
  // again) owner-only: what lands there is nobody else's to read.
  static void makeOwnFoldersPrivate();

private:
  void launch();

  std::unique_ptr<AppStore> store_;
  std::unique_ptr<AppStoreShell> shell_;
  std::unique_ptr<MainWindow> window_;
  orrery::Task<LaunchPath> launch_;
  bool launched_ = false;
};

} // namespace bx
