#pragma once

namespace bx::Wiring {

// Plugs the later subsystems into the shell's seams before the main window
// is built: the browser columns, the reader, the sheets and the settings
// content (Seams), and the launch's harness hooks (HarnessHooks: reader
// warm-up, demo, self-test, screenshots). Each subsystem adds its lines in
// Wiring.cpp; what is not plugged in shows a placeholder or is skipped.
void install();

} // namespace bx::Wiring
