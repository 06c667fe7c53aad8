// GoogleTest entry for the Qt-side tests: one QApplication per process,
// offscreen unless the environment says otherwise.

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Keep the desktop's settings out of the tests: they pin what they need.
  qunsetenv("BRINDLEBOX_APPEARANCE");
  qunsetenv("BRINDLEBOX_REDUCE_MOTION");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
