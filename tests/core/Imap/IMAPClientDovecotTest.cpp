// IMAPClient against a real Dovecot, over TLS and over plain TCP.
#include "Imap/IMAPClient.h"

#include "support/DovecotFixture.h"
#include "support/Ports.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace bx {
namespace {

using namespace std::chrono_literals;
using test::DovecotFixture;
using test::DovecotOptions;
using test::SeedMessage;
namespace users = test::users;

std::chrono::system_clock::time_point utc(int y, int mo, int d, int h, int mi, int s) {
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s};
}

std::string bytesToString(const std::vector<std::uint8_t>& b) {
    return std::string(b.begin(), b.end());
}

enum class Transport { tls, plain };

IMAPServer serverFor(const DovecotFixture& dovecot, Transport t) {
    if (t == Transport::tls) return IMAPServer("localhost", dovecot.imapsPort(), false);
    return IMAPServer("127.0.0.1", dovecot.imapPort(), true);
}

class ClientOverTransport : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override { test::trustTestCA(); }
    IMAPServer server(const DovecotFixture& d) const { return serverFor(d, GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Both, ClientOverTransport, ::testing::Values(Transport::tls, Transport::plain),
                         [](const auto& info) { return info.param == Transport::tls ? "TLS" : "Plain"; });

// The whole read path of a backup: greeting, sign-in, folder list, EXAMINE,
// UID search, metadata and bodies that are byte for byte the server's.
TEST_P(ClientOverTransport, ReadsAMailboxExactly) {
    DovecotFixture dovecot;
    std::string big = test::makeMessage("Big", std::string(300000, 'x') + "\r\n");
    std::vector<SeedMessage> seed = {
        {test::makeMessage("First"), utc(2021, 3, 7, 8, 15, 2), {"\\Seen"}},
        {test::makeMessage("Second", "Zweite Nachricht: Grüße\r\n"), utc(2023, 12, 31, 23, 59, 59), {}},
        {big, utc(2024, 1, 1, 0, 0, 0), {"\\Flagged", "$Forwarded"}},
    };
    auto uids = dovecot.append(users::alice, "INBOX", seed);
    ASSERT_EQ(uids.size(), 3u);

    IMAPClient client(server(dovecot), 10);
    client.connect();
    EXPECT_TRUE(client.capabilities().count("IMAP4REV1"));  // from the greeting's code
    EXPECT_GT(client.bytesRead(), 0);
    client.login(users::alice.name, users::alice.password);

    SelectInfo info = client.select("INBOX", true);
    EXPECT_TRUE(info.readOnly);
    EXPECT_EQ(info.exists, 3);
    EXPECT_EQ(info.uidValidity, dovecot.uidValidity(users::alice, "INBOX"));
    ASSERT_TRUE(info.uidNext.has_value());
    EXPECT_EQ(*info.uidNext, uids.back() + 1);

    EXPECT_EQ(client.uidSearch("ALL"), uids);
    EXPECT_EQ(client.uidSearch("UID " + std::to_string(uids[1]) + ":*"),
              std::vector<std::uint32_t>(uids.begin() + 1, uids.end()));
    // n:* above the highest UID still names the last message (RFC 3501).
    EXPECT_EQ(client.uidSearch("UID " + std::to_string(uids.back() + 100) + ":*"),
              std::vector<std::uint32_t>{uids.back()});

    auto meta = client.fetchMeta(uids);
    ASSERT_EQ(meta.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(meta[i].uid, uids[i]);
        EXPECT_EQ(meta[i].size, static_cast<std::int64_t>(seed[i].bytes.size()));
        EXPECT_EQ(meta[i].internalDate, seed[i].internalDate);
        EXPECT_FALSE(meta[i].body.has_value());
    }
    auto has = [](const std::vector<std::string>& flags, const char* flag) {
        return std::find(flags.begin(), flags.end(), flag) != flags.end();
    };
    EXPECT_TRUE(has(meta[0].flags, "\\Seen"));
    EXPECT_FALSE(has(meta[1].flags, "\\Seen"));
    EXPECT_TRUE(has(meta[2].flags, "$Forwarded"));

    // Header sections end at the blank line; an empty request asks nothing.
    const std::map<std::uint32_t, std::string> headers = client.fetchHeaders({uids[0], uids[2]});
    ASSERT_EQ(headers.size(), 2u);
    for (std::size_t i : {0u, 2u}) {
        const std::string& raw = seed[i].bytes;
        EXPECT_EQ(headers.at(uids[i]), raw.substr(0, raw.find("\r\n\r\n") + 4)) << i;
    }
    const std::int64_t before = client.bytesRead();
    EXPECT_TRUE(client.fetchHeaders({}).empty());
    EXPECT_EQ(client.bytesRead(), before);

    std::vector<std::uint32_t> delivered;
    client.fetchBodies(uids, [&](IMAPFetchItem&& item) {
        ASSERT_TRUE(item.uid && item.body);
        delivered.push_back(*item.uid);
        EXPECT_EQ(bytesToString(*item.body), dovecot.fetchRaw(users::alice, "INBOX", *item.uid));
    });
    EXPECT_EQ(delivered, uids);
    // BODY.PEEK leaves \Seen alone.
    auto flags = dovecot.session().flags("INBOX", uids[1]);
    EXPECT_EQ(std::count(flags.begin(), flags.end(), "\\Seen"), 0);

    client.logout();
    EXPECT_FALSE(client.isConnected());
    EXPECT_THROW(client.capability(), IMAPError);  // no connection any more
}

TEST_P(ClientOverTransport, SignsInWithAwkwardPasswords) {
    DovecotFixture dovecot;
    for (const auto& user : {users::bob, users::carol, users::dana}) {
        SCOPED_TRACE(user.name);
        IMAPClient client(server(dovecot), 10);
        client.connect();
        EXPECT_NO_THROW(client.login(user.name, user.password));
        EXPECT_TRUE(client.capabilities().count("IMAP4REV1"));
        client.logout();
    }
}

TEST_P(ClientOverTransport, WrongPasswordIsARefusedSignIn) {
    DovecotFixture dovecot;
    IMAPClient client(server(dovecot), 10);
    client.connect();
    try {
        client.login(users::alice.name, "not-the-password");
        FAIL() << "login succeeded";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::commandFailed);
        EXPECT_EQ(e.command(), "LOGIN");
        EXPECT_EQ(e.status(), IMAPStatus::no);
        EXPECT_EQ(e.description().rfind("Sign-in was refused (NO): ", 0), 0u) << e.description();
    }
    client.logout();
}

class ClientListing : public ::testing::TestWithParam<char> {};

INSTANTIATE_TEST_SUITE_P(Delimiters, ClientListing, ::testing::Values('/', '.'),
                         [](const auto& info) { return info.param == '/' ? "Slash" : "Dot"; });

TEST_P(ClientListing, ListsNamesAsSentAndDecoded) {
    test::trustTestCA();
    DovecotOptions options;
    options.delimiter = GetParam();
    DovecotFixture dovecot(options);
    dovecot.createMailbox(users::alice, "Entwürfe");
    dovecot.createMailbox(users::alice, dovecot.path({"Archive", "2024"}));

    IMAPClient client(serverFor(dovecot, Transport::tls), 10);
    client.connect();
    client.login(users::alice.name, users::alice.password);
    auto boxes = client.list();
    client.logout();

    const std::string delim(1, GetParam());
    auto find = [&](const std::string& name) -> const IMAPMailbox* {
        for (const auto& b : boxes)
            if (b.name == name) return &b;
        return nullptr;
    };
    const IMAPMailbox* drafts = find("Entw&APw-rfe");
    ASSERT_NE(drafts, nullptr);
    EXPECT_EQ(drafts->displayName, "Entwürfe");
    EXPECT_EQ(drafts->delimiter, delim);
    const IMAPMailbox* year = find("Archive" + delim + "2024");
    ASSERT_NE(year, nullptr);
    EXPECT_TRUE(year->isSelectable());
    ASSERT_NE(find("INBOX"), nullptr);
    EXPECT_EQ(find("INBOX")->role(), "inbox");

    // The raw name works unchanged in later commands.
    IMAPClient again(serverFor(dovecot, Transport::plain), 10);
    again.connect();
    again.login(users::alice.name, users::alice.password);
    EXPECT_EQ(again.select(drafts->name, true).exists, 0);
    again.logout();
}

// Flagging, unflagging and expunging, with and without UIDPLUS: only UID
// EXPUNGE keeps a message that someone else flagged.
TEST(IMAPClientDovecot, FlagsAndExpunges) {
    test::trustTestCA();
    for (bool uidplus : {true, false}) {
        SCOPED_TRACE(uidplus ? "UIDPLUS" : "no UIDPLUS");
        DovecotOptions options;
        options.uidplus = uidplus;
        DovecotFixture dovecot(options);
        std::vector<SeedMessage> seed;
        for (int i = 0; i < 4; ++i) seed.push_back({test::makeMessage("m" + std::to_string(i)), {}, {}});
        auto uids = dovecot.append(users::alice, "INBOX", seed);
        // A message someone else flagged.
        auto other = dovecot.session();
        other.check("SELECT INBOX");
        other.check("UID STORE " + std::to_string(uids[3]) + " +FLAGS.SILENT (\\Deleted)");

        IMAPClient client(serverFor(dovecot, Transport::tls), 10);
        client.connect();
        client.login(users::alice.name, users::alice.password);
        EXPECT_EQ(client.capabilities().count("UIDPLUS"), uidplus ? 1u : 0u);
        SelectInfo info = client.select("INBOX", false);
        EXPECT_FALSE(info.readOnly);

        auto hasDeleted = [&](std::uint32_t uid) {
            auto f = dovecot.session().flags("INBOX", uid);
            return std::find(f.begin(), f.end(), "\\Deleted") != f.end();
        };
        client.markDeleted({uids[0], uids[1]});
        EXPECT_TRUE(hasDeleted(uids[0]));
        EXPECT_TRUE(hasDeleted(uids[1]));
        client.unmarkDeleted({uids[1]});
        EXPECT_FALSE(hasDeleted(uids[1]));
        EXPECT_EQ(client.uidSearch("DELETED"), (std::vector<std::uint32_t>{uids[0], uids[3]}));

        EXPECT_EQ(client.expunge({uids[0]}), uidplus);
        auto left = dovecot.uids(users::alice, "INBOX");
        if (uidplus)
            EXPECT_EQ(left, (std::vector<std::uint32_t>{uids[1], uids[2], uids[3]}));
        else
            EXPECT_EQ(left, (std::vector<std::uint32_t>{uids[1], uids[2]}));
        client.logout();
    }
}

TEST(IMAPClientDovecot, RefusesCertificatesThatDoNotFit) {
    test::trustTestCA();
    struct Case {
        const char* name;
        test::CertKind cert;
        const char* host;
        const char* expect;  // in the error text
    };
    const Case cases[] = {
        {"other host", test::CertKind::OtherHost, "localhost", "hostname mismatch"},
        {"other host by address", test::CertKind::OtherHost, "127.0.0.1", "mismatch"},
        {"untrusted CA", test::CertKind::Untrusted, "localhost", "certificate"},
        {"expired", test::CertKind::Expired, "localhost", "expired"},
        // the name only in the subject's common name: no fallback to it
        {"no subjectAltName", test::CertKind::NoSubjectAltName, "localhost", "hostname mismatch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DovecotOptions options;
        options.cert = c.cert;
        DovecotFixture dovecot(options);
        IMAPClient client(IMAPServer(c.host, dovecot.imapsPort(), false), 10);
        try {
            client.connect();
            FAIL() << "connected";
        } catch (const IMAPError& e) {
            EXPECT_EQ(e.kind(), IMAPError::Kind::connectionFailed);
            EXPECT_NE(e.message().find(c.expect), std::string::npos) << e.message();
            EXPECT_NE(e.message().find("TLS"), std::string::npos) << e.message();
            EXPECT_EQ(e.cause(), TransportCause::tls);
        }
    }
}

TEST(IMAPClientDovecot, TLSByAddressAndTLSAgainstAPlainPort) {
    test::trustTestCA();
    DovecotFixture dovecot;
    IMAPClient byAddress(IMAPServer("127.0.0.1", dovecot.imapsPort(), false), 10);
    EXPECT_NO_THROW(byAddress.connect());
    byAddress.logout();

    // A plaintext server where TLS was expected fails the handshake at once.
    IMAPClient wrongPort(IMAPServer("localhost", dovecot.imapPort(), false), 10);
    auto started = std::chrono::steady_clock::now();
    try {
        wrongPort.connect();
        FAIL() << "connected";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::connectionFailed);
        EXPECT_NE(e.message().find("TLS"), std::string::npos) << e.message();
        EXPECT_EQ(e.cause(), TransportCause::tls);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(IMAPClientDovecot, ConnectFailuresBeforeAnyCommand) {
    // Plaintext to anything but the exact text "127.0.0.1" is refused before
    // touching the network (nothing listens on port 1).
    for (const char* host : {"localhost", "127.1", "127.0.0.1 ", "::1"}) {
        SCOPED_TRACE(host);
        IMAPClient client(IMAPServer(host, 1, true), 10);
        try {
            client.connect();
            FAIL();
        } catch (const IMAPError& e) {
            EXPECT_EQ(e.kind(), IMAPError::Kind::insecureNotAllowed);
        }
    }
    IMAPClient refused(IMAPServer("127.0.0.1", test::freeLoopbackPort(), true), 10);
    try {
        refused.connect();
        FAIL();
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::connectionFailed);
        EXPECT_NE(e.message().find("refused"), std::string::npos) << e.message();
        EXPECT_EQ(e.cause(), TransportCause::refused);
    }
    IMAPClient unknown(IMAPServer("no-such-host.invalid", 993, false), 10);
    try {
        unknown.connect();
        FAIL();
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::connectionFailed);
        EXPECT_EQ(e.message().rfind("DNS lookup failed: ", 0), 0u) << e.message();
        EXPECT_EQ(e.cause(), TransportCause::dnsFailure);
    }
    IMAPClient badPort(IMAPServer("127.0.0.1", 0, true), 10);
    try {
        badPort.connect();
        FAIL();
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::connectionFailed);
        EXPECT_EQ(e.message(), "bad port");
        EXPECT_EQ(e.cause(), TransportCause::unknown);
    }
}

// A stop request makes the next wait fail; a shield holds it off, and logout
// still signs off cleanly, skipping the reply the cancelled command left.
TEST(IMAPClientDovecot, StopTokenAndShield) {
    test::trustTestCA();
    DovecotFixture dovecot;
    dovecot.append(users::alice, "INBOX", {{test::makeMessage("one"), {}, {}}});
    std::stop_source stop;
    IMAPClient client(serverFor(dovecot, Transport::tls), 10, stop.get_token());
    client.connect();
    client.login(users::alice.name, users::alice.password);
    stop.request_stop();
    {
        auto shield = client.shieldFromCancellation();
        EXPECT_EQ(client.select("INBOX", false).exists, 1);
        client.markDeleted({1});
        client.unmarkDeleted({1});
    }
    EXPECT_THROW(client.uidSearch("ALL"), CancellationError);
    auto started = std::chrono::steady_clock::now();
    client.logout();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(dovecot.uids(users::alice, "INBOX").size(), 1u);
}

}  // namespace
}  // namespace bx

namespace bx {
namespace {

// A mailbox the server can only open read-only answers SELECT with
// [READ-ONLY]; the result must say so, or a release would go on to STORE.
TEST(IMAPClientDovecot, SelectAnsweredReadOnlyIsReadOnly) {
    test::trustTestCA();
    DovecotFixture dovecot;
    dovecot.append(users::alice, "Locked", {{test::makeMessage("kept"), {}, {}}});
    auto folder = dovecot.maildir(users::alice) / "Locked";
    ASSERT_TRUE(std::filesystem::exists(folder / "cur")) << folder;
    std::filesystem::permissions(folder / "cur", std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);

    ASSERT_NE(dovecot.session().command("SELECT Locked").tagged.find("[READ-ONLY]"), std::string::npos);

    IMAPClient client(serverFor(dovecot, Transport::tls), 10);
    client.connect();
    client.login(users::alice.name, users::alice.password);
    SelectInfo info = client.select("Locked", false);
    EXPECT_TRUE(info.readOnly);
    EXPECT_EQ(info.exists, 1);
    EXPECT_FALSE(client.select("INBOX", false).readOnly);
    client.logout();
}

}  // namespace
}  // namespace bx

namespace bx {
namespace {

// The wire log sees the conversation byte for byte, except credentials: a
// quoted password, a password sent as a literal, and a SASL response.
TEST(IMAPClientDovecot, WireLogHidesCredentials) {
    test::trustTestCA();
    DovecotFixture dovecot;
    struct Case {
        const char* name;
        test::TestUser user;
        bool sasl;
        const char* expectedLine;  // in the sent log
    };
    const Case cases[] = {
        {"quoted password", users::alice, false, "B0001 LOGIN \"alice\" <redacted>\r\n"},
        {"literal password", users::dana, false, "B0001 LOGIN \"dana\" <redacted>\r\n"},
        {"AUTHENTICATE PLAIN", users::bob, true, "B0001 AUTHENTICATE PLAIN <redacted>\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string sent;
        std::string received;
        IMAPClient client(IMAPServer("localhost", dovecot.imapsPort(), false), 10);
        client.setWireLog([&](IMAPClient::WireDirection d, std::string_view bytes) {
            (d == IMAPClient::WireDirection::sent ? sent : received).append(bytes);
        });
        client.connect();
        std::string saslResponse;
        if (c.sasl) {
            const std::string plain = std::string(1, '\0') + c.user.name + '\0' + c.user.password;
            std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
            encoded.resize(static_cast<std::size_t>(
                EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()))));
            saslResponse = encoded;
            client.run("AUTHENTICATE", {IMAPClient::Arg::raw("PLAIN"), IMAPClient::Arg::raw(encoded)});
        } else {
            client.login(c.user.name, c.user.password);
        }
        client.select("INBOX", true);
        client.logout();

        EXPECT_NE(sent.find(c.expectedLine), std::string::npos) << sent;
        EXPECT_EQ(sent.find(c.user.password), std::string::npos) << sent;
        if (c.sasl) EXPECT_EQ(sent.find(saslResponse), std::string::npos) << sent;
        EXPECT_NE(sent.find(" EXAMINE \"INBOX\"\r\n"), std::string::npos) << sent;
        EXPECT_NE(sent.find(" LOGOUT\r\n"), std::string::npos) << sent;
        // Every byte that arrived was shown, greeting first.
        EXPECT_EQ(static_cast<std::int64_t>(received.size()), client.bytesRead());
        EXPECT_EQ(received.rfind("* OK", 0), 0u) << received;
    }
}

}  // namespace
}  // namespace bx
