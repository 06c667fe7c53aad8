#pragma once

#include <optional>
#include <string>

namespace bx {

// Before the toolkit starts: when the process has no display to open a
// window on, the one line that says so and how to run it anyway; none when
// a display (or a platform plugin that needs none) is there. Reads the
// environment and the command line's -platform argument.
std::optional<std::string> missingDisplayMessage(int argc, char** argv);

} // namespace bx
