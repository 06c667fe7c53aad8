#pragma once

#include <functional>

namespace bx {

// Set once the application has begun to quit (Quit, or the main window
// closing): windows closed on the way out do not count as the user closing
// them. GUI thread only.
namespace Quitting {
bool isOn();
// Marks the start of quitting and, after the current event, ends the event
// loop (or runs the handler set for tests).
void begin();
void reset();  // tests
// Replaces what ends the event loop (tests); empty restores the default.
void setHandler(std::function<void()> handler);
} // namespace Quitting

} // namespace bx
