#include "DemoMode/DemoTyping.h"

#include "Reader/ReaderPieces.h"

#include <QtGlobal>

namespace bx {

DemoTyping& DemoTyping::shared() {
  static DemoTyping* typing = new DemoTyping;
  return *typing;
}

bool DemoTyping::followedByViews() {
  return qEnvironmentVariableIsSet("BRINDLEBOX_DEMO_DIR") || qEnvironmentVariableIsSet("BRINDLEBOX_SNAPSHOT_DIR");
}

void demoShowLinks() { DemoShowLinks::shared().post(); }

} // namespace bx
