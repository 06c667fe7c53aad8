#pragma once

namespace bx {

// Sets the shell's seams for the three browser columns: the sidebar, the
// timeline spine and the message list.
void installBrowserColumns();

} // namespace bx
