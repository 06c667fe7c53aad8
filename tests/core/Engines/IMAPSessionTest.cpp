// The engines' shared start of a conversation: connect, sign in, select.
#include "Engines/IMAPSession.h"

#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "support/DovecotFixture.h"
#include "support/FakeIMAPServer.h"

#include <gtest/gtest.h>

#include <stop_token>

namespace bx {
namespace {

using test::DovecotFixture;
namespace users = test::users;

TEST(IMAPSession, SignsInAndSelectsOnARealServer) {
    test::trustTestCA();
    DovecotFixture dovecot;
    dovecot.append(users::alice, "INBOX", {{test::makeMessage("One"), {}, {}}, {test::makeMessage("Two"), {}, {}}});
    const IMAPServer server("localhost", dovecot.imapsPort(), false);

    IMAPSession session(server, users::alice.name, users::alice.password, 10);
    const SelectInfo info = session.open("INBOX", /*readOnly=*/true);
    EXPECT_EQ(info.exists, 2);
    EXPECT_TRUE(info.readOnly);
    // A second folder on the same session signs in only once.
    EXPECT_NO_THROW(session.open("INBOX", /*readOnly=*/false));

    IMAPSession refused(server, users::alice.name, "not-the-password", 10);
    try {
        refused.open("INBOX", true);
        FAIL() << "a wrong password signed in";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::commandFailed);
        EXPECT_EQ(e.command(), "LOGIN");
    }
}

// IMAPClient notices a stop only when it next waits for bytes, which for
// LOGIN is after the password went out. The session looks before sending it.
TEST(IMAPSession, StopAfterTheGreetingKeepsThePassword) {
    test::FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n").expectClose();
    fake.start();

    std::stop_source stop;
    {
        IMAPSession session(IMAPServer("127.0.0.1", fake.port(), true), "alice", "secret", 5, stop.get_token());
        session->connect();
        stop.request_stop();
        EXPECT_THROW(session.signIn(), CancellationError);
    }
    ASSERT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
    EXPECT_EQ(fake.received(), "");
}

}  // namespace
}  // namespace bx
