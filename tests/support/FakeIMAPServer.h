#pragma once
// A scripted IMAP server on 127.0.0.1 for fault injection: the things a real
// server cannot be made to do (replies cut at chosen bytes, stalls, a drop in
// the middle of a literal, malformed replies). Use Dovecot for everything
// else.
//
//   bx::test::FakeIMAPServer fake;                 // listening on fake.port()
//   fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
//       .expect("{tag} LOGIN alice *")             // captures the client's tag
//       .send("{tag} OK done\r\n")                 // ... and uses it
//       .expect("{tag} UID FETCH 1:* (*)")
//       .send("* 1 FETCH (UID 1 BODY[] {100}\r\nabc")   // 3 of 100 bytes ...
//       .drop();                                   // ... and gone
//   fake.start();
//   ... run the client against 127.0.0.1:fake.port() in plaintext mode ...
//   EXPECT_TRUE(fake.waitDone()) ;
//   EXPECT_TRUE(fake.completed()) << fake.failure();
//   EXPECT_EQ(fake.received(), "B0001 LOGIN alice secret\r\nB0002 ...");
//
// The server accepts one connection (more with acceptNext()) and plays the
// script on a thread of its own; a second thread reads the client's bytes as soon as they arrive and
// records them. Steps run in order:
//   send(bytes)               one write
//   sendSplit(bytes, cuts)    one write per piece, cut before each offset in
//                             `cuts` (ascending), with pieceGap between writes
//   sendBytewise(bytes)       one write per byte, pieceGap between them
//   expect(pattern)           the client's next line (CRLF stripped) must match:
//                             "*" matches any run of bytes, "{tag}" a run of
//                             non-space bytes which is captured; everything
//                             else matches itself
//   expectExact(line)         the next line must equal `line` (no wildcards)
//   expectBytes(bytes)        the next bytes must equal `bytes` (a literal's
//                             content, which has no line end of its own)
//   expectClose()             the client closes the connection
//   stall(duration)           sleep (the reader keeps recording)
//   drop()                    close the connection (FIN); `reset()` does it
//                             with an RST instead
//   acceptNext()              close the connection if still open and wait for
//                             the client's next connection (acceptTimeout);
//                             the script goes on with it. Recording goes on
//                             too: received() holds the bytes of every
//                             connection in order
// In send texts "{tag}" is replaced by the last captured tag. An expect
// waits up to expectTimeout; a mismatch or timeout ends the script, closes
// the connection (so the client fails fast) and is described by failure().
// When the script has run to its end without a drop, the connection stays
// open until the object dies.
//
// Recorded write boundaries: reads() holds the bytes of each receive. The
// reader thread receives as soon as data arrives and both sides set
// TCP_NODELAY, so on loopback separate client writes normally arrive as
// separate reads; writes issued back to back faster than the reader wakes up
// may arrive merged, never the other way round (a single write of up to
// 64 KiB is never split on loopback in practice). Compare boundaries where
// the client has to wait for the server between writes (a literal after "+").
//
// TLS: with Options::tls the connection is TLS with a certificate from
// TestCerts (Options::cert); the script and the recording see the plaintext.

#include "TestCerts.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bx::test {

class FakeIMAPServer {
public:
    struct Options {
        bool tls = false;
        CertKind cert = CertKind::Localhost;
        std::chrono::milliseconds expectTimeout{5000};  // per expect / expectClose
        std::chrono::milliseconds acceptTimeout{10000};
        std::chrono::milliseconds pieceGap{3};           // between the writes of a split send
    };

    FakeIMAPServer();
    explicit FakeIMAPServer(Options options);
    ~FakeIMAPServer();  // closes the connection and joins the threads
    FakeIMAPServer(const FakeIMAPServer&) = delete;
    FakeIMAPServer& operator=(const FakeIMAPServer&) = delete;

    uint16_t port() const;

    // Script steps; add them before start().
    FakeIMAPServer& send(std::string bytes);
    FakeIMAPServer& sendSplit(std::string bytes, std::vector<std::size_t> cuts);
    FakeIMAPServer& sendBytewise(std::string bytes);
    FakeIMAPServer& expect(std::string pattern);
    FakeIMAPServer& expectExact(std::string line);
    FakeIMAPServer& expectBytes(std::string bytes);
    FakeIMAPServer& expectClose();
    FakeIMAPServer& stall(std::chrono::milliseconds duration);
    FakeIMAPServer& drop();
    FakeIMAPServer& reset();
    FakeIMAPServer& acceptNext();

    // Starts accepting and playing the script.
    void start();
    // Waits until the script has ended (run through, failed or timed out
    // waiting for a connection); false if still running after `timeout`.
    bool waitDone(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // True when every step ran and every expectation matched.
    bool completed() const;
    // Why the script stopped early ("" when it did not).
    std::string failure() const;
    // Was a client accepted?
    bool connected() const;
    // How many connections were accepted.
    int connections() const;
    // Has the client closed its side (of the current connection)?
    bool clientClosed() const;
    // Everything the client sent so far, and the same split by receive.
    std::string received() const;
    std::vector<std::string> reads() const;
    // The last tag captured by "{tag}".
    std::string tag() const;

    // Matching rule of expect(), exposed for tests of the fixture itself.
    static bool matches(const std::string& pattern, const std::string& line, std::string* tag);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace bx::test
