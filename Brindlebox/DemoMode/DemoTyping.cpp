#include "DemoMode/DemoTyping.h"

#include "Reader/ReaderPieces.h"

#include <QtGlobal>

namespace bx {

DemoTyping& DemoTyping::shared() {
  static DemoTyping* typing = new DemoTyping;
  return *typing;
}

void demoShowLinks() { DemoShowLinks::shared().post(); }

} // namespace bx
