#pragma once
#include <cstdint>

namespace bx::test {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0 and
// released). Another process may take it before you bind it: retry on
// EADDRINUSE. Also good as "a port where nothing listens" for refusal tests.
uint16_t freeLoopbackPort();

}  // namespace bx::test
