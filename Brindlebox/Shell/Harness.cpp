#include "Shell/Harness.h"

#include "UITest/UITest.h"

namespace bx {

HarnessHooks& HarnessHooks::shared() {
  static HarnessHooks hooks;
  return hooks;
}

namespace Launch {

std::optional<quint16> uiTestPort(const QProcessEnvironment& env) { return UITest::parsePort(env); }

LaunchPath choosePath(const QProcessEnvironment& env) {
  if (env.contains(QStringLiteral("BRINDLEBOX_DEMO_DIR"))) return LaunchPath::Demo;
  if (uiTestPort(env) || env.contains(QStringLiteral("BRINDLEBOX_UITEST_NETWORK")) ||
      env.contains(QStringLiteral("BRINDLEBOX_UITEST_SCRUB")))
    return LaunchPath::UITest;
  return LaunchPath::Normal;
}

orrery::Task<LaunchPath> run(Targets targets, HarnessHooks& hooks, QProcessEnvironment env) {
  if (hooks.warmUpReader) hooks.warmUpReader();
  if (targets.reloadArchive) targets.reloadArchive();
  const LaunchPath path = choosePath(env);
  switch (path) {
  case LaunchPath::Demo:
    if (hooks.demoRun) {
      auto demo = hooks.demoRun();
      co_await demo;
    }
    break;
  case LaunchPath::UITest: {
    co_await orrery::pause(1500, targets.context);
    if (hooks.uiTestRun) {
      auto test = hooks.uiTestRun();
      co_await test;
    }
    break;
  }
  case LaunchPath::Normal:
    if (env.contains(QStringLiteral("BRINDLEBOX_SNAPSHOT_DIR")) && hooks.snapshotRun) {
      // The script stages a running backup in the store's status, the only
      // guard of the scheduler's own runs: nothing is scheduled until it
      // ends, and never over the made-up vault, whose accounts name real
      // providers' hosts.
      auto shots = hooks.snapshotRun();
      co_await shots;
      if (targets.startScheduler && !env.contains(QStringLiteral("BRINDLEBOX_SNAPSHOT_DEMO"))) targets.startScheduler();
    } else if (targets.startScheduler) {
      targets.startScheduler();
    }
    break;
  }
  co_return path;
}

} // namespace Launch
} // namespace bx
