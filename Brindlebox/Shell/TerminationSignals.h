#pragma once

#include <functional>

namespace bx {

// SIGTERM and SIGHUP (logout, shutdown, `kill`) end the application the way
// the Quit command does, so what runs on an orderly quit runs then too (a
// staged update installs). The signal handler only writes to a pipe; `quit`
// runs on the GUI thread. A second signal of the same kind ends the process
// at once, as if no handler were set.
namespace TerminationSignals {
void install(std::function<void()> quit);
} // namespace TerminationSignals

} // namespace bx
