#include "Browser/BrowserWiring.h"

#include "Browser/MessageListView.h"
#include "Browser/SidebarView.h"
#include "Browser/SpineBinding.h"
#include "Browser/TimelineSpine.h"
#include "Shell/Seams.h"

namespace bx {

void installBrowserColumns() {
  Seams::sidebar() = [](AppStore& store, QWidget* parent) -> QWidget* { return new SidebarView(store, parent); };
  Seams::timelineSpine() = [](AppStore& store, QWidget* parent) -> QWidget* {
    auto* spine = new TimelineSpine(parent);
    bindSpine(*spine, store);
    return spine;
  };
  Seams::messageList() = [](AppStore& store, QWidget* parent) -> QWidget* {
    return new MessageListView(store, parent);
  };
}

} // namespace bx
