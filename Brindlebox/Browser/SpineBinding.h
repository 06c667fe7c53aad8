#pragma once

namespace bx {

class AppStore;
class TimelineSpine;

// Feeds the spine from the store (month groups, the timeline's current
// month and probe) and turns its scrub requests into `AppStore::scrub`.
void bindSpine(TimelineSpine& spine, AppStore& store);

} // namespace bx
