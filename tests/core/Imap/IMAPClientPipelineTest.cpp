// A command split in two (begin/finish): the line goes out at once, the reply
// is read later, while the caller works; the ways out with a command still
// unanswered.
#include "Imap/IMAPClient.h"

#include "support/DovecotFixture.h"
#include "support/FakeIMAPServer.h"
#include "support/TestCerts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace bx {
namespace {

using namespace std::chrono_literals;
using test::FakeIMAPServer;

IMAPServer local(const FakeIMAPServer& fake) {
    return IMAPServer("127.0.0.1", fake.port(), true);
}

const std::string bodyItems = " (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])";

std::string bodyReply(int seq, std::uint32_t uid, const std::string& body) {
    return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " BODY[] {" +
           std::to_string(body.size()) + "}\r\n" + body + ")\r\n";
}

struct Collected {
    std::vector<std::uint32_t> uids;
    std::vector<std::string> bodies;
    std::function<void(IMAPFetchItem&&)> handler() {
        return [this](IMAPFetchItem&& item) {
            uids.push_back(*item.uid);
            bodies.emplace_back(item.body->begin(), item.body->end());
        };
    }
};

// The server has the second command, and has answered it in full, before
// the client has looked at the first batch: begin() returns as soon as the
// line is written. finish() then delivers each reply to its own command.
TEST(IMAPClientPipeline, NextCommandGoesOutBeforeTheBatchIsConsumed) {
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
        .expectExact("B0001 UID FETCH 1:2" + bodyItems)
        .send(bodyReply(1, 1, "ab") + "* 2 FETCH (UID 2 FLAGS ())\r\n" + bodyReply(2, 2, "cd") + "B0001 OK one\r\n")
        .expectExact("B0002 UID FETCH 3" + bodyItems)
        .send("* 3 EXISTS\r\n" + bodyReply(3, 3, "ef") + "B0002 OK two\r\n")
        .expectExact("B0003 NOOP")
        .send("B0003 OK\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();

    // An empty list writes nothing and finishes at once.
    auto none = client.beginFetchBodies({});
    EXPECT_TRUE(none.empty());
    client.finishFetchBodies(none, [](IMAPFetchItem&&) { FAIL(); });

    auto first = client.beginFetchBodies({1, 2});
    EXPECT_EQ(first.tag(), "B0001");
    // A second command while a reply is owed is refused before anything is
    // written: its responses could not be told from the first's.
    EXPECT_THROW(client.beginFetchBodies({3}), std::logic_error);
    EXPECT_THROW(client.run("NOOP"), std::logic_error);
    EXPECT_THROW(client.fetchBodies({3}, [](IMAPFetchItem&&) {}), std::logic_error);

    Collected one;
    client.finishFetchBodies(first, one.handler());
    EXPECT_TRUE(first.empty());
    auto second = client.beginFetchBodies({3});
    // The server reads the command and answers it while the caller is busy.
    for (int i = 0; i < 500 && fake.received().find("B0002 UID FETCH") == std::string::npos; ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_NE(fake.received().find("B0002 UID FETCH 3" + bodyItems), std::string::npos);
    EXPECT_EQ(one.uids, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(one.bodies, (std::vector<std::string>{"ab", "cd"}));

    Collected two;
    client.finishFetchBodies(second, two.handler());
    EXPECT_EQ(two.uids, std::vector<std::uint32_t>{3});
    EXPECT_EQ(two.bodies, std::vector<std::string>{"ef"});
    EXPECT_TRUE(second.empty());  // over: finishing it again reads nothing

    client.run("NOOP");  // nothing owed any more
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure() << "\n" << fake.received();
}

// begin/finish of any command behaves as run(): the completion's code and
// text, untagged responses to the handler, a refusal thrown by finish(),
// which leaves the client free for the next command.
TEST(IMAPClientPipeline, FinishReturnsAndThrowsWhatRunDoes) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n")
        .expectExact("B0001 UID FETCH 1" + bodyItems)
        .send("B0001 NO [SERVERBUG] cannot\r\n")
        .expectExact("B0002 NOOP")
        .send("* 1 EXISTS\r\nB0002 OK [X-DONE 1] fine\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    auto fetch = client.beginFetchBodies({1});
    try {
        client.finishFetchBodies(fetch, [](IMAPFetchItem&&) { FAIL(); });
        FAIL() << "expected the refusal";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e, IMAPError::commandFailed("UID FETCH", IMAPStatus::no, "cannot"));
    }
    auto noop = client.begin("NOOP");
    int untagged = 0;
    const auto done = client.finish(noop, [&](IMAPResponse&) { ++untagged; });
    EXPECT_EQ(done.code, "X-DONE 1");
    EXPECT_EQ(done.text, "fine");
    EXPECT_EQ(untagged, 1);
}

// The two ways out with a FETCH written and not answered: a stop ends its
// finish() with CancellationError and the connection is simply closed (no
// LOGOUT); logout() reads past the owed reply and signs off.
TEST(IMAPClientPipeline, WaysOutWithACommandInFlight) {
    {
        SCOPED_TRACE("stop, then close");
        FakeIMAPServer fake;
        fake.send("* OK ready\r\n")
            .expectExact("B0001 UID FETCH 1" + bodyItems)
            .send(bodyReply(1, 1, "ab") + "B0001 OK\r\n")
            .expectExact("B0002 UID FETCH 2" + bodyItems)
            .stall(300ms)
            .send(bodyReply(2, 2, "cd") + "B0002 OK\r\n")
            .expectClose();
        fake.start();
        std::stop_source stop;
        IMAPClient client(local(fake), 5, stop.get_token());
        client.connect();
        auto first = client.beginFetchBodies({1});
        Collected one;
        client.finishFetchBodies(first, one.handler());
        auto second = client.beginFetchBodies({2});
        stop.request_stop();
        int delivered = 0;
        EXPECT_THROW(client.finishFetchBodies(second, [&](IMAPFetchItem&&) { ++delivered; }), CancellationError);
        EXPECT_EQ(delivered, 0);
        client.disconnect();
        EXPECT_THROW(client.run("NOOP"), IMAPError);  // closed, and nothing owed
        EXPECT_TRUE(fake.waitDone());
        EXPECT_TRUE(fake.completed()) << fake.failure();
        EXPECT_EQ(fake.received().find("LOGOUT"), std::string::npos);
    }
    {
        SCOPED_TRACE("logout");
        FakeIMAPServer fake;
        fake.send("* OK ready\r\n")
            .expectExact("B0001 UID FETCH 7" + bodyItems)
            .expectExact("B0002 LOGOUT")
            .send(bodyReply(1, 7, "xy") + "B0001 OK\r\n* BYE bye\r\nB0002 OK\r\n")
            .expectClose();
        fake.start();
        IMAPClient client(local(fake), 5);
        client.connect();
        auto owed = client.beginFetchBodies({7});
        client.logout();
        EXPECT_FALSE(client.isConnected());
        EXPECT_TRUE(fake.waitDone());
        EXPECT_TRUE(fake.completed()) << fake.failure();
    }
}

// Against a real server over TLS: a batch begun and left alone while the
// server sends it (more than a socket buffer's worth) arrives whole, byte for
// byte, message by message, when it is finished.
TEST(IMAPClientPipeline, DovecotBatchBegunThenFinishedArrivesWhole) {
    test::trustTestCA();
    test::DovecotFixture dovecot;
    std::vector<test::SeedMessage> seed;
    for (int i = 0; i < 24; ++i)
        seed.push_back({test::makeMessage("Message " + std::to_string(i),
                                          std::string(static_cast<std::size_t>(1000 + i * 20000), 'a' + i % 26) +
                                              "\r\n"),
                        {}, {}});
    const auto uids = dovecot.append(test::users::alice, "INBOX", seed);
    ASSERT_EQ(uids.size(), 24u);

    IMAPClient client(IMAPServer("localhost", dovecot.imapsPort(), false), 10);
    client.connect();
    client.login(test::users::alice.name, test::users::alice.password);
    client.select("INBOX", true);
    const std::vector<std::vector<std::uint32_t>> batches = {
        {uids.begin(), uids.begin() + 10}, {uids.begin() + 10, uids.begin() + 11}, {uids.begin() + 11, uids.end()}};
    for (std::size_t b = 0; b < batches.size(); ++b) {
        SCOPED_TRACE(b);
        auto owed = client.beginFetchBodies(batches[b]);
        std::this_thread::sleep_for(50ms);  // the caller's own work
        Collected got;
        client.finishFetchBodies(owed, got.handler());
        EXPECT_EQ(got.uids, batches[b]);
        for (std::size_t i = 0; i < got.uids.size(); ++i)
            EXPECT_EQ(got.bodies[i], dovecot.fetchRaw(test::users::alice, "INBOX", got.uids[i]));
    }
    client.logout();
}

}  // namespace
}  // namespace bx
