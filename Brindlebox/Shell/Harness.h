#pragma once

#include "Async/Task.h"

#include <QProcessEnvironment>

#include <functional>
#include <optional>

namespace bx {

// The hooks through which the launch reaches subsystems that arrive later:
// the reader's rule lists, the demo recording, the UI self-test and the
// screenshot script. Each is empty until its subsystem sets it (at start-up,
// before the launch runs; tests put recorders here). An empty hook is
// skipped.
struct HarnessHooks {
  // Starts compiling the reader's remote-content rule lists; returns at once.
  std::function<void()> warmUpReader;
  std::function<orrery::Task<>()> demoRun;
  std::function<orrery::Task<>()> uiTestRun;
  std::function<orrery::Task<>()> snapshotRun;

  static HarnessHooks& shared();
};

// The three ways a launch can go, decided once from the environment.
enum class LaunchPath { Demo, UITest, Normal };

namespace Launch {

// BRINDLEBOX_UITEST_PORT read exactly as the self-test reads it, so the
// launch and the self-test never disagree on whether a port is set.
std::optional<quint16> uiTestPort(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Presence of a variable decides, its value is not read (an empty one counts),
// except for the self-test port, which must be a number.
LaunchPath choosePath(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// What the launch works on.
struct Targets {
  std::function<void()> reloadArchive;
  std::function<void()> startScheduler;
  // Deferred steps run only while this lives.
  QObject* context = nullptr;
};

// The launch sequence: warm up the reader, reload the vault (not waiting for
// the scan), then exactly one of: the demo recording; the UI self-test
// 1.5 s later; or the scheduler and, with BRINDLEBOX_SNAPSHOT_DIR, the
// screenshot script. Runs on the GUI thread; its pauses never block it.
orrery::Task<LaunchPath> run(Targets targets, HarnessHooks& hooks = HarnessHooks::shared(),
                             QProcessEnvironment env = QProcessEnvironment::systemEnvironment());

} // namespace Launch
} // namespace bx
