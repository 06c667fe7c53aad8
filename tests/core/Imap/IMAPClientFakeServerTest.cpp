// IMAPClient against a scripted server, for what a real server cannot be made
// to do: odd greetings, refusals at odd moments, drops and stalls inside a
// literal, replies cut into single bytes, and exact wire checks.
#include "Imap/IMAPClient.h"
#include "Imap/IMAPParseError.h"

#include "support/FakeIMAPServer.h"
#include "support/TestCerts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bx {
namespace {

using namespace std::chrono_literals;
using test::FakeIMAPServer;

IMAPServer local(const FakeIMAPServer& fake) {
    return IMAPServer("127.0.0.1", fake.port(), true);
}

template <typename F>
IMAPError imapErrorOf(F&& f) {
    try {
        f();
    } catch (const IMAPError& e) {
        return e;
    }
    ADD_FAILURE() << "no IMAPError";
    return IMAPError::closed();
}

TEST(IMAPClientFake, Greetings) {
    struct Case {
        const char* greeting;
        std::optional<IMAPError> error;          // absent: connects
        std::set<std::string> capabilities;
    };
    const Case cases[] = {
        {"* PREAUTH [CAPABILITY IMAP4rev1 uidplus] welcome\r\n", std::nullopt, {"IMAP4REV1", "UIDPLUS"}},
        {"* OK ready\r\n", std::nullopt, {}},
        {"* OK [ALERT] ready\r\n", std::nullopt, {}},
        {"* BYE\r\n", IMAPError::connectionFailed(""), {}},
        {"* BYE too busy\r\n", IMAPError::connectionFailed("too busy"), {}},
        {"* NO go away\r\n", IMAPError::protocolError("no greeting"), {}},
        {"* BAD what\r\n", IMAPError::protocolError("no greeting"), {}},
        {"A1 OK hello\r\n", IMAPError::protocolError("no greeting"), {}},
        {"+ hello\r\n", IMAPError::protocolError("no greeting"), {}},
        {"* 1 EXISTS\r\n", IMAPError::protocolError("no greeting"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.greeting);
        FakeIMAPServer fake;
        fake.send(c.greeting);
        fake.start();
        IMAPClient client(local(fake), 5);
        if (c.error) {
            EXPECT_EQ(imapErrorOf([&] { client.connect(); }), *c.error);
        } else {
            ASSERT_NO_THROW(client.connect());
            EXPECT_EQ(client.capabilities(), c.capabilities);
        }
    }
}

// Tags, quoting and the follow-up CAPABILITY of a sign-in.
TEST(IMAPClientFake, LoginOnTheWire) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n")
        .expectExact(R"(B0001 LOGIN "alice" "a \"q\" and \\ and ")")
        .send("B0001 OK done\r\n")
        .expectExact("B0002 CAPABILITY")
        .send("* CAPABILITY imap4rev1 UidPlus\r\nB0002 OK\r\n")
        .expectExact(R"(B0003 LOGIN "" "")")
        .send("B0003 OK [CAPABILITY IMAP4rev1] done\r\n")
        .expectExact("B0004 NOOP")
        .send("B0004 OK\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    client.login("alice", R"(a "q" and \ and )");
    EXPECT_EQ(client.capabilities(), (std::set<std::string>{"IMAP4REV1", "UIDPLUS"}));
    client.login("", "");  // IMAP4rev1 came with the completion: no CAPABILITY
    client.run("NOOP");
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
}

TEST(IMAPClientFake, LoginSucceedsWhenTheCapabilityFollowUpIsRefused) {
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY AUTH=PLAIN] ready\r\n")
        .expect("B0001 LOGIN *")
        .send("B0001 OK done\r\n")
        .expectExact("B0002 CAPABILITY")
        .send("B0002 BAD not now\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    EXPECT_NO_THROW(client.login("u", "p"));
    EXPECT_EQ(client.capabilities(), std::set<std::string>{"AUTH=PLAIN"});
}

// A non-ASCII password goes as a literal: the bytes follow only after the
// server's go-ahead, and the rest of the line is a write of its own.
TEST(IMAPClientFake, LiteralWaitsForTheContinuation) {
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
        .expectExact(R"(B0001 LOGIN "dana" {7})")
        .stall(100ms)
        .send("* OK still thinking\r\n+ go ahead\r\n")
        .expectBytes("Grüße")
        .expectExact("")
        .send("B0001 OK welcome\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    client.login("dana", "Grüße");
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
    auto reads = fake.reads();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[0], "B0001 LOGIN \"dana\" {7}\r\n");
    EXPECT_EQ(reads[1].substr(0, 7), "Grüße");
}

TEST(IMAPClientFake, TaggedRefusalInsteadOfContinuation) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n").expect("B0001 LOGIN * {7}").send("B0001 NO [ALERT] literals not welcome\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    IMAPError e = imapErrorOf([&] { client.login("dana", "Grüße"); });
    EXPECT_EQ(e, IMAPError::commandFailed("literal", IMAPStatus::no, "literals not welcome"));
}

TEST(IMAPClientFake, UntaggedByeDuringSelectAndDuringLogout) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n")
        .expectExact(R"(B0001 SELECT "INBOX")")
        .send("* 3 EXISTS\r\n* BYE\r\n")
        .expectExact("B0002 LOGOUT")
        .send("* BYE see you\r\nB0002 OK done\r\n")
        .expectClose();
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    EXPECT_EQ(imapErrorOf([&] { client.select("INBOX", false); }), IMAPError::connectionFailed("server said goodbye"));
    client.logout();
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
}

TEST(IMAPClientFake, LogoutOnAConnectionTheServerClosed) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n").drop();
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    ASSERT_TRUE(fake.waitDone());
    client.logout();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(imapErrorOf([&] { client.capability(); }), IMAPError::closed());
}

// Writing to a connection the peer has closed must fail as an error, never
// as SIGPIPE; over TLS the writes go through OpenSSL.
TEST(IMAPClientFake, WritesAfterThePeerLeftFailQuietly) {
    test::trustTestCA();
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        FakeIMAPServer::Options options;
        options.tls = tls;
        FakeIMAPServer fake(options);
        // The pause lets the client finish connecting first: a reset that
        // overtakes it turns into a failed connect.
        fake.send("* OK ready\r\n").stall(200ms).reset();
        fake.start();
        IMAPClient client(IMAPServer("127.0.0.1", fake.port(), !tls), 5);
        client.connect();
        ASSERT_TRUE(fake.waitDone());
        for (int i = 0; i < 3; ++i) EXPECT_THROW(client.run("NOOP"), IMAPError);
        client.logout();
        EXPECT_FALSE(client.isConnected());
    }
}

TEST(IMAPClientFake, DropInsideALiteralIsClosed) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n")
        .expectExact("B0001 UID FETCH 7 (UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])")
        .send("* 1 FETCH (UID 7 BODY[] {100}\r\nabc")
        .drop();
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    int delivered = 0;
    EXPECT_EQ(imapErrorOf([&] { client.fetchBodies({7}, [&](IMAPFetchItem&&) { ++delivered; }); }),
              IMAPError::closed());
    EXPECT_EQ(delivered, 0);
}

TEST(IMAPClientFake, StallInsideALiteralTimesOut) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n")
        .expect("B0001 UID FETCH 7 *")
        .send("* 1 FETCH (UID 7 BODY[] {100}\r\nabc")
        .stall(3s);
    fake.start();
    IMAPClient client(local(fake), 0.3);
    client.connect();
    EXPECT_EQ(imapErrorOf([&] { client.fetchBodies({7}, [](IMAPFetchItem&&) {}); }), IMAPError::timeout());
    // The connection was given up: the next command fails in the transport.
    EXPECT_EQ(imapErrorOf([&] { client.capability(); }).kind(), IMAPError::Kind::connectionFailed);
    client.logout();
}

// Every byte of a reply in a write of its own, literals included.
TEST(IMAPClientFake, ReplySplitAtEveryByte) {
    FakeIMAPServer::Options options;
    options.pieceGap = 1ms;  // so that the client sees each byte on its own
    FakeIMAPServer fake(options);
    const std::string body = "Subject: x\r\n\r\n{5}\r\n) done\r\n";
    fake.sendBytewise("* OK [CAPABILITY IMAP4rev1] ready\r\n")
        .expect("B0001 EXAMINE *")
        .sendBytewise("* 2 EXISTS\r\n* OK [UIDVALIDITY 77] v\r\n* OK [UIDNEXT 9] n\r\nB0001 OK [READ-ONLY] done\r\n")
        .expect("B0002 UID FETCH 5:6 *")
        .sendBytewise("* 1 FETCH (UID 5 RFC822.SIZE " + std::to_string(body.size()) + " BODY[] {" +
                      std::to_string(body.size()) + "}\r\n" + body + " FLAGS (\\Seen))\r\n" +
                      "* 2 FETCH (UID 6 BODY[] \"quoted\")\r\nB0002 OK done\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    SelectInfo info = client.select("INBOX", true);
    EXPECT_EQ(info, (SelectInfo{77, 2, 9u, true}));
    std::vector<std::string> bodies;
    client.fetchBodies({6, 5}, [&](IMAPFetchItem&& item) {
        bodies.emplace_back(item.body->begin(), item.body->end());
        if (*item.uid == 5) {
            EXPECT_EQ(item.flags, std::vector<std::string>{"\\Seen"});
        }
    });
    EXPECT_EQ(bodies, (std::vector<std::string>{body, "quoted"}));
}

TEST(IMAPClientFake, TagsGrowPastFourDigits) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n");
    char tag[16];
    for (int i = 1; i <= 10000; ++i) {
        std::snprintf(tag, sizeof tag, "B%04d", i);
        fake.expectExact(std::string(tag) + " NOOP").send(std::string(tag) + " OK\r\n");
    }
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    for (int i = 1; i <= 10000; ++i) client.run("NOOP");
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
}

// How the runner sorts the responses of one command.
TEST(IMAPClientFake, RunnerRoutesResponses) {
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
        .expectExact("B0001 NOOP")
        .send("* capability imap4rev1 idle\r\nB0000 OK stale\r\n* 4 EXISTS\r\n+ more\r\nB0001 OK [X-CODE 1] fine\r\n")
        .expectExact("B0002 NOOP")
        .send("B0002 NO [CAPABILITY IMAP4rev1 LITERAL+] nope\r\n")
        .expectExact("B0003 NOOP")
        .send("* CAPABILITY\r\nB0003 OK\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    std::vector<IMAPResponse::Kind> seen;
    auto done = client.run("NOOP", {}, [&](IMAPResponse& r) { seen.push_back(r.kind); });
    EXPECT_EQ(done.code, "X-CODE 1");
    EXPECT_EQ(done.text, "fine");
    EXPECT_EQ(seen, (std::vector<IMAPResponse::Kind>{IMAPResponse::Kind::untagged, IMAPResponse::Kind::tagged,
                                                     IMAPResponse::Kind::untagged,
                                                     IMAPResponse::Kind::continuation}));
    EXPECT_EQ(client.capabilities(), (std::set<std::string>{"IMAP4REV1", "IDLE"}));

    EXPECT_EQ(imapErrorOf([&] { client.run("NOOP"); }), IMAPError::commandFailed("NOOP", IMAPStatus::no, "nope"));
    EXPECT_EQ(client.capabilities(), (std::set<std::string>{"IMAP4REV1", "LITERAL+"}));
    client.run("NOOP");
    EXPECT_TRUE(client.capabilities().empty());
}

TEST(IMAPClientFake, SelectReadsCountsCodesAndAccess) {
    struct Case {
        const char* name;
        bool readOnly;  // asked
        std::string reply;
        SelectInfo expected;
    };
    const Case cases[] = {
        {"SELECT answered READ-WRITE", false, "* 5 EXISTS\r\n* OK [UIDVALIDITY 1234] v\r\n* OK [UIDNEXT 42] n\r\n"
                                              "B0001 OK [READ-WRITE] ok\r\n", {1234, 5, 42u, false}},
        {"SELECT answered READ-ONLY", false, "B0001 OK [READ-ONLY] ok\r\n", {0, 0, std::nullopt, true}},
        {"EXAMINE answered READ-WRITE", true, "B0001 OK [read-write] ok\r\n", {0, 0, std::nullopt, false}},
        {"EXAMINE without a code", true, "* +7 exists\r\nB0001 OK ok\r\n", {0, 7, std::nullopt, true}},
        {"SELECT without a code", false, "B0001 OK ok\r\n", {0, 0, std::nullopt, false}},
        {"numbers that do not parse", false,
         "* x EXISTS\r\n* OK [UIDVALIDITY -1] v\r\n* OK [UIDNEXT 4294967296] n\r\n* NO [UIDVALIDITY 9 extra] late\r\n"
         "B0001 OK ok\r\n", {9, 0, std::nullopt, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeIMAPServer fake;
        fake.send("* OK ready\r\n").expectExact(std::string("B0001 ") + (c.readOnly ? "EXAMINE" : "SELECT") +
                                                " \"Entw&APw-rfe\"")
            .send(c.reply);
        fake.start();
        IMAPClient client(local(fake), 5);
        client.connect();
        EXPECT_EQ(client.select("Entw&APw-rfe", c.readOnly), c.expected);
        EXPECT_TRUE(fake.completed() || fake.waitDone());
        EXPECT_TRUE(fake.completed()) << fake.failure();
    }
}

TEST(IMAPClientFake, UIDCommandsOnTheWire) {
    FakeIMAPServer fake;
    fake.send("* OK [CAPABILITY IMAP4rev1] ready\r\n")
        .expectExact("B0001 UID SEARCH UID 5:*")
        .send("* SEARCH 9 3\r\n* SEARCH 5 3 x\r\n* SEARCH\r\nB0001 OK\r\n")
        .expectExact("B0002 UID FETCH 3,5,9:10 (UID RFC822.SIZE INTERNALDATE FLAGS)")
        .send("* 1 FETCH (UID 9 RFC822.SIZE 10)\r\n* 2 FETCH (RFC822.SIZE 11)\r\n* 3 EXPUNGE\r\n"
              "* 3 FETCH (UID 3 RFC822.SIZE 12)\r\nB0002 OK\r\n")
        .expectExact("B0003 UID STORE 3:4 +FLAGS.SILENT (\\Deleted)")
        .send("* 1 FETCH (FLAGS (\\Deleted))\r\nB0003 OK\r\n")
        .expectExact("B0004 EXPUNGE")
        .send("* 1 EXPUNGE\r\nB0004 OK\r\n")
        .expectExact("B0005 UID STORE 4 -FLAGS.SILENT (\\Deleted)")
        .send("B0005 OK [CAPABILITY IMAP4rev1 UIDPLUS] ok\r\n")
        .expectExact("B0006 UID EXPUNGE 3:4")
        .send("B0006 OK\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    // Empty lists write nothing: the first command on the wire is B0001.
    EXPECT_TRUE(client.fetchMeta({}).empty());
    client.fetchBodies({}, [](IMAPFetchItem&&) { FAIL(); });
    client.markDeleted({});
    client.unmarkDeleted({});

    EXPECT_EQ(client.uidSearch("UID 5:*"), (std::vector<std::uint32_t>{3, 3, 5, 9}));
    auto meta = client.fetchMeta({10, 9, 5, 3});
    ASSERT_EQ(meta.size(), 2u);  // the one without a UID is left out; server order kept
    EXPECT_EQ(meta[0].uid, 9u);
    EXPECT_EQ(meta[1].uid, 3u);
    client.markDeleted({4, 3});
    EXPECT_FALSE(client.expunge({3, 4}));  // no UIDPLUS yet: plain EXPUNGE
    client.unmarkDeleted({4});
    EXPECT_TRUE(client.expunge({3, 4}));
    EXPECT_TRUE(fake.waitDone());
    EXPECT_TRUE(fake.completed()) << fake.failure();
}

TEST(IMAPClientFake, FetchBodiesDeliversAsItReadsAndStopsOnAHandlerError) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n")
        .expect("B0001 UID FETCH 1:3 *")
        .send("* 1 FETCH (UID 1 BODY[] {2}\r\nab)\r\n* 2 FETCH (UID 2 FLAGS ())\r\n")
        .stall(200ms)
        .send("* 3 FETCH (UID 3 BODY[] {2}\r\ncd)\r\n* 4 FETCH (UID 4 BODY[] {2}\r\nef)\r\nB0001 OK\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    std::vector<std::uint32_t> seen;
    struct Full {};
    EXPECT_THROW(client.fetchBodies({1, 2, 3},
                                    [&](IMAPFetchItem&& item) {
                                        seen.push_back(*item.uid);
                                        // The first message comes before the server has sent the rest.
                                        if (seen.size() == 1) {
                                            EXPECT_FALSE(fake.waitDone(0ms));
                                        }
                                        if (seen.size() == 2) throw Full{};
                                    }),
                 Full);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 3}));
}

TEST(IMAPClientFake, UnparsableReplyIsAParseError) {
    FakeIMAPServer fake;
    fake.send("* OK ready\r\n").expectExact("B0001 NOOP").send("* 1 FETCH (FLAGS (\\Seen)\r\nB0001 OK\r\n");
    fake.start();
    IMAPClient client(local(fake), 5);
    client.connect();
    try {
        client.run("NOOP");
        FAIL();
    } catch (const IMAPParseError& e) {
        EXPECT_EQ(e.description(), "unterminated list");
    }
}

}  // namespace
}  // namespace bx
