#pragma once
// A man in the middle on 127.0.0.1 between the code under test and a real
// server (Dovecot, plain IMAP port), for faults the server will not produce
// on its own: a refused STORE, a connection that drops right after EXPUNGE,
// an answer with a code the server never sends. Everything else passes
// through, so the server's state afterwards is still the real thing.
//
//   bx::test::FaultProxy proxy(dovecot.imapPort(), [](const std::string& command) {
//       if (command.rfind("UID STORE", 0) == 0) return FaultProxy::Decision{FaultProxy::Action::answerNo, "nope"};
//       return FaultProxy::Decision{};
//   });
//   IMAPServer server("127.0.0.1", proxy.port(), true);
//
// Works a command line at a time: the rule sees each line the client sends
// (without its tag and CRLF) and decides what becomes of it. A literal the
// client sends is not understood: its bytes reach the rule as part of the
// next "line". Server responses (lines with their literals) go through the
// optional reply filter, which may rewrite them, before reaching the client.
// Every accepted connection is served by two threads of its own; the
// destructor closes all of them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bx::test {

class FaultProxy {
public:
    enum class Action {
        forward,
        answerNo,          // not forwarded; the client gets "<tag> NO <text>"
        forwardThenDrop,   // forwarded; once the server has answered, both sides are closed
                           // and the answer never reaches the client
        dropBeforeForward  // both sides closed, the line never reaches the server
    };
    struct Decision {
        Action action = Action::forward;
        std::string text;
    };
    using Rule = std::function<Decision(const std::string& line)>;
    using ReplyFilter = std::function<void(std::string& response)>;

    // Listens on a free loopback port and forwards to 127.0.0.1:upstream. A
    // null rule forwards everything.
    FaultProxy(std::uint16_t upstream, Rule rule, ReplyFilter filter = nullptr);
    ~FaultProxy();
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    std::uint16_t port() const { return port_; }

    // Every command line the client sent, without its tag, over all connections.
    std::vector<std::string> commands() const;
    int connections() const;
    // From now on connections are refused.
    void refuseNewConnections();

private:
    struct Session;

    void acceptLoop();
    void pumpLoop(Session& s);
    void readLoop(Session& s);

    std::uint16_t upstream_;
    Rule rule_;
    ReplyFilter filter_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false}, refuse_{false}, listenerClosed_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Session>> sessions_;
    std::vector<std::string> commands_;
};

}  // namespace bx::test
