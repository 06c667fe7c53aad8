#pragma once
#include <cstdint>

namespace bx::test {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0 and
// released). Another process may take it before you bind it: retry on
// EADDRINUSE. Also good as "a port where nothing listens" for refusal tests.
uint16_t freeLoopbackPort();

// A listening socket on 127.0.0.1 at a port the kernel picks; its port goes
// to `port`. Throws std::runtime_error naming `who`.
int listenOnLoopback(uint16_t& port, int backlog, const char* who);

// A port on 127.0.0.1 that takes connections (the kernel completes them) and
// never says a word: for time limits and cancellation of waits.
class SilentPort {
public:
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace bx::test
