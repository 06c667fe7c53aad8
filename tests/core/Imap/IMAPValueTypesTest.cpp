#include "Imap/IMAPError.h"
#include "Imap/IMAPFetchItem.h"
#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPResponseParser.h"
#include "Imap/IMAPServer.h"
#include "Imap/SelectInfo.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace bx;

namespace {

std::vector<IMAPValue> valuesOf(const std::string& raw) {
    IMAPResponse r = IMAPResponseParser::parse(raw);
    EXPECT_TRUE(r.isUntagged()) << raw;
    return r.values;
}

std::chrono::system_clock::time_point utc(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
    using namespace std::chrono;
    return sys_days(year(y) / month(m) / day(d)) + hours(hh) + minutes(mm) + seconds(ss);
}

}  // namespace

// ---------------------------------------------------------------------------
// IMAPError

TEST(IMAPError, Descriptions) {
    const std::pair<IMAPError, std::string> cases[] = {
        {IMAPError::connectionFailed("no route"), "Couldn\u2019t connect: no route"},
        {IMAPError::commandFailed("SELECT", IMAPStatus::no, "Mailbox does not exist"),
         "SELECT failed (NO): Mailbox does not exist"},
        {IMAPError::commandFailed("LOGIN", IMAPStatus::no, "Invalid credentials"),
         "Sign-in was refused (NO): Invalid credentials"},
        {IMAPError::commandFailed("LOGIN", IMAPStatus::bad, "Syntax"), "Sign-in was refused (BAD): Syntax"},
        {IMAPError::commandFailed("UID STORE", IMAPStatus::bad, "Syntax"), "UID STORE failed (BAD): Syntax"},
        {IMAPError::commandFailed("login", IMAPStatus::bye, ""), "login failed (BYE): "},
        {IMAPError::commandFailed("X", IMAPStatus::preauth, "t"), "X failed (PREAUTH): t"},
        {IMAPError::protocolError("short literal"), "Unexpected server reply: short literal"},
        {IMAPError::timeout(), "The server stopped responding."},
        {IMAPError::closed(), "The server closed the connection."},
        {IMAPError::insecureNotAllowed(), "Unencrypted connections are only allowed to 127.0.0.1 in developer mode."},
    };
    for (const auto& [error, text] : cases) {
        EXPECT_EQ(error.errorDescription(), text);
        EXPECT_EQ(std::string(error.what()), text);
    }
    try {
        throw IMAPError::commandFailed("SELECT", IMAPStatus::no, "gone");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "SELECT failed (NO): gone");
    }
    const IMAPError e = IMAPError::commandFailed("UID FETCH", IMAPStatus::bad, "x");
    EXPECT_EQ(e.kind(), IMAPError::Kind::commandFailed);
    EXPECT_EQ(e.command(), "UID FETCH");
    EXPECT_EQ(e.status(), IMAPStatus::bad);
    EXPECT_EQ(e.text(), "x");
}

// ---------------------------------------------------------------------------
// IMAPServer

TEST(IMAPServer, EqualityHashAndJSON) {
    const IMAPServer a("imap.example.com", 993, false);
    EXPECT_EQ(a, IMAPServer("imap.example.com", 993, false));
    EXPECT_NE(a, IMAPServer("imap.example.com", 993, true));
    EXPECT_NE(a, IMAPServer("imap.example.com", 143, false));
    EXPECT_NE(a, IMAPServer("IMAP.example.com", 993, false));
    std::unordered_set<IMAPServer> set{a, IMAPServer("imap.example.com", 993, false), IMAPServer("127.0.0.1", 1143, true)};
    EXPECT_EQ(set.size(), 2u);

    const json j = encodeJSON(IMAPServer("127.0.0.1", 65535, true));
    EXPECT_EQ(j, json::parse(R"({"host":"127.0.0.1","port":65535,"plaintextLocalDev":true})"));
    EXPECT_EQ(decodeJSON<IMAPServer>(j), IMAPServer("127.0.0.1", 65535, true));
    EXPECT_EQ(json(a).get<IMAPServer>(), a);  // the nlohmann pair agrees
}

TEST(IMAPServer, StrictDecoding) {
    EXPECT_EQ(decodeJSON<IMAPServer>(json::parse(R"({"host":"h","port":0,"plaintextLocalDev":false,"extra":1})")),
              IMAPServer("h", 0, false));
    const char* bad[] = {
        R"({"port":993,"plaintextLocalDev":false})",
        R"({"host":"h","plaintextLocalDev":false})",
        R"({"host":"h","port":993})",
        R"({"host":null,"port":993,"plaintextLocalDev":false})",
        R"({"host":7,"port":993,"plaintextLocalDev":false})",
        R"({"host":"h","port":"993","plaintextLocalDev":false})",
        R"({"host":"h","port":65536,"plaintextLocalDev":false})",
        R"({"host":"h","port":-1,"plaintextLocalDev":false})",
        R"({"host":"h","port":993.5,"plaintextLocalDev":false})",
        R"({"host":"h","port":true,"plaintextLocalDev":false})",
        R"({"host":"h","port":993,"plaintextLocalDev":0})",
        R"({"host":"h","port":993,"plaintextLocalDev":"false"})",
        R"([])",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW(decodeJSON<IMAPServer>(json::parse(text)), JSONDecodeError);
    }
}

// ---------------------------------------------------------------------------
// SelectInfo

TEST(SelectInfo, Defaults) {
    const SelectInfo s;
    EXPECT_EQ(s.uidValidity, 0u);
    EXPECT_EQ(s.exists, 0);
    EXPECT_FALSE(s.uidNext);
    EXPECT_TRUE(s.readOnly);
}

// ---------------------------------------------------------------------------
// IMAPFetchItem

TEST(IMAPFetchItem, FromFetchReply) {
    auto item = IMAPFetchItem::fromValues(valuesOf(
        R"(* 3 FETCH (UID 17 RFC822.SIZE 2048 FLAGS (\Seen $Forwarded) INTERNALDATE " 7-Mar-2024 09:15:02 +0100"))"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->sequence, 3);
    EXPECT_EQ(item->uid, 17u);
    EXPECT_EQ(item->size, 2048);
    EXPECT_EQ(item->flags, (std::vector<std::string>{"\\Seen", "$Forwarded"}));
    EXPECT_EQ(item->internalDate, utc(2024, 3, 7, 8, 15, 2));
    EXPECT_FALSE(item->body);
}

TEST(IMAPFetchItem, Fields) {
    struct Case {
        std::string raw;
        std::optional<std::uint32_t> uid;
        std::optional<std::int64_t> size;
        std::vector<std::string> flags;
        std::optional<std::string> body;
        std::int64_t sequence = 1;
    };
    const Case cases[] = {
        {"* 1 FETCH (uid 9)", 9u, {}, {}, {}},
        {"* 1 FETCH (Uid 9 rfc822.size 10)", 9u, 10, {}, {}},
        {"* 1 FETCH (UID NIL)", {}, {}, {}, {}},
        {"* 1 FETCH (UID 4294967295)", 4294967295u, {}, {}, {}},
        {"* 1 FETCH (UID 4294967296)", {}, {}, {}, {}},
        {"* 1 FETCH (UID -1)", {}, {}, {}, {}},
        {"* 1 FETCH (UID +5)", {}, {}, {}, {}},  // a UID never takes a sign
        {"* 1 FETCH (UID -0)", {}, {}, {}, {}},
        {"* 1 FETCH (RFC822.SIZE +10)", {}, 10, {}, {}},  // a size may
        {"* 1 FETCH (UID 1x)", {}, {}, {}, {}},
        {"* 1 FETCH (UID \"12\")", 12u, {}, {}, {}},
        {"* 1 FETCH (UID (1))", {}, {}, {}, {}},
        {"* 1 FETCH (UID 5 UID 6)", 6u, {}, {}, {}},
        {"* 1 FETCH (UID 5 UID NIL)", {}, {}, {}, {}},  // the later pair wins even when absent
        {"* 1 FETCH (RFC822.SIZE -5)", {}, -5, {}, {}},
        {"* 1 FETCH (RFC822.SIZE 9223372036854775808)", {}, {}, {}, {}},
        {"* 1 FETCH (FLAGS ())", {}, {}, {}, {}},
        {"* 1 FETCH (FLAGS \\Seen)", {}, {}, {}, {}},
        {"* 1 FETCH (FLAGS (\\Seen (x) NIL \"q\"))", {}, {}, {"\\Seen", "q"}, {}},
        {"* 1 FETCH (FLAGS (a) FLAGS (b))", {}, {}, {"b"}, {}},
        {"* 1 FETCH (BODY[] {5}\r\nab\r\nc)", {}, {}, {}, "ab\r\nc"},
        {"* 1 FETCH (BODY[HEADER] \"h\")", {}, {}, {}, "h"},
        {"* 1 FETCH (body[text]<0> atomic)", {}, {}, {}, "atomic"},
        {"* 1 FETCH (RFC822 {1}\r\nx)", {}, {}, {}, "x"},
        {"* 1 FETCH (RFC822.HEADER {1}\r\nx)", {}, {}, {}, {}},
        {"* 1 FETCH (BODY[] NIL)", {}, {}, {}, {}},
        {"* 1 FETCH (BODY[] \"a\" BODY[] NIL)", {}, {}, {}, {}},
        {"* 1 FETCH (BODYSTRUCTURE (\"text\" \"plain\"))", {}, {}, {}, {}},
        {"* 1 FETCH (MODSEQ (5) UID 3 ENVELOPE (NIL) X)", 3u, {}, {}, {}},  // trailing key without value ignored
        {"* 1 FETCH ((UID) 5 NIL 6 UID 7)", 7u, {}, {}, {}},
        {"* 1 FETCH () extra values", {}, {}, {}, {}},
        {"* +7 FETCH ()", {}, {}, {}, {}, 7},
        {"* -2 fetch ()", {}, {}, {}, {}, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        auto item = IMAPFetchItem::fromValues(valuesOf(c.raw));
        ASSERT_TRUE(item);
        EXPECT_EQ(item->sequence, c.sequence);
        EXPECT_EQ(item->uid, c.uid);
        EXPECT_EQ(item->size, c.size);
        EXPECT_EQ(item->flags, c.flags);
        if (c.body) {
            ASSERT_TRUE(item->body);
            EXPECT_EQ(std::string(item->body->begin(), item->body->end()), *c.body);
        } else {
            EXPECT_FALSE(item->body);
        }
    }
}

TEST(IMAPFetchItem, InternalDate) {
    const std::pair<std::string, std::optional<std::chrono::system_clock::time_point>> cases[] = {
        {R"(* 1 FETCH (INTERNALDATE "07-Mar-2024 09:15:02 +0100"))", utc(2024, 3, 7, 8, 15, 2)},
        {R"(* 1 FETCH (INTERNALDATE "31-Dec-1999 23:59:59 -0500"))", utc(2000, 1, 1, 4, 59, 59)},
        {R"(* 1 FETCH (INTERNALDATE "2024-03-07"))", std::nullopt},
        {R"(* 1 FETCH (INTERNALDATE NIL))", std::nullopt},
        {R"(* 1 FETCH (INTERNALDATE "07-Mar-2024 09:15:02 +0100" INTERNALDATE "bad"))", std::nullopt},
    };
    for (const auto& [raw, expected] : cases) {
        SCOPED_TRACE(raw);
        auto item = IMAPFetchItem::fromValues(valuesOf(raw));
        ASSERT_TRUE(item);
        EXPECT_EQ(item->internalDate, expected);
    }
}

TEST(IMAPFetchItem, NotAFetchReply) {
    const char* cases[] = {
        "* 3 FETCH", "* 3 EXPUNGE", "* SEARCH 1 2", "* abc FETCH ()", "* 3 FETCH UID", "* \"3\" FETCH ()",
        "* 3 STORE ()", "* (3) FETCH ()", "* 99999999999999999999 FETCH ()", "* 3x FETCH ()", "* + FETCH ()",
    };
    for (const char* raw : cases) {
        SCOPED_TRACE(raw);
        EXPECT_FALSE(IMAPFetchItem::fromValues(valuesOf(raw)));
    }
    EXPECT_FALSE(IMAPFetchItem::fromValues(std::vector<IMAPValue>{}));
}

TEST(IMAPFetchItem, MovingTakesTheBody) {
    auto values = valuesOf("* 1 FETCH (BODY[] {3}\r\nabc)");
    auto copied = IMAPFetchItem::fromValues(values);
    auto moved = IMAPFetchItem::fromValues(std::move(values));
    ASSERT_TRUE(copied && moved);
    EXPECT_EQ(copied->body, moved->body);
    EXPECT_EQ(moved->body, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

// ---------------------------------------------------------------------------
// IMAPMailbox

TEST(IMAPMailbox, FromListReply) {
    struct Case {
        std::string raw;
        std::string name;
        std::string displayName;
        std::optional<std::string> delimiter;
        std::vector<std::string> attributes;
        std::optional<std::string> role;
        bool selectable = true;
    };
    const Case cases[] = {
        {R"(* LIST (\HasNoChildren) "/" INBOX)", "INBOX", "INBOX", "/", {"\\HasNoChildren"}, "inbox"},
        {R"(* LIST (\HasNoChildren) NIL INBOX)", "INBOX", "INBOX", std::nullopt, {"\\HasNoChildren"}, "inbox"},
        {R"(* LIST () "/" inbox)", "inbox", "inbox", "/", {}, "inbox"},
        {R"(* list () "." "Sent Items")", "Sent Items", "Sent Items", ".", {}, std::nullopt},
        {R"(* LIST (\HasNoChildren \SENT) "." "Sent Items")", "Sent Items", "Sent Items", ".", {"\\HasNoChildren", "\\SENT"}, "sent"},
        {R"(* LIST (\Trash \Sent) "/" Mixed)", "Mixed", "Mixed", "/", {"\\Trash", "\\Sent"}, "sent"},
        {R"(* LIST (\Junk) "/" INBOX)", "INBOX", "INBOX", "/", {"\\Junk"}, "junk"},
        {R"(* LIST (\Flagged \All) "/" x)", "x", "x", "/", {"\\Flagged", "\\All"}, "all"},
        {R"(* LIST (\Archive \Drafts) "/" x)", "x", "x", "/", {"\\Archive", "\\Drafts"}, "drafts"},
        {R"(* LIST (\flagged) "/" x)", "x", "x", "/", {"\\flagged"}, "flagged"},
        {R"(* LIST (\Important) "/" x)", "x", "x", "/", {"\\Important"}, std::nullopt},
        {R"(* LIST (\NOSELECT) "/" "Archive")", "Archive", "Archive", "/", {"\\NOSELECT"}, std::nullopt, false},
        {R"(* LIST (\nonexistent) "/" a)", "a", "a", "/", {"\\nonexistent"}, std::nullopt, false},
        {R"(* LIST (\HasChildren (x) NIL "q") "/" a extra)", "a", "a", "/", {"\\HasChildren", "q"}, std::nullopt},
        {R"(* LIST \Sent "/" a)", "a", "a", "/", {}, std::nullopt},
        {R"(* LIST () ("/") a)", "a", "a", std::nullopt, {}, std::nullopt},
        {R"(* LIST () "/" Entw&APw-rfe)", "Entw&APw-rfe", "Entw\u00FCrfe", "/", {}, std::nullopt},
        {"* LIST () \"/\" {5}\r\nIN\"OX", "IN\"OX", "IN\"OX", "/", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        auto m = IMAPMailbox::fromListResponse(valuesOf(c.raw));
        ASSERT_TRUE(m);
        EXPECT_EQ(m->name, c.name);
        EXPECT_EQ(m->displayName, c.displayName);
        EXPECT_EQ(m->delimiter, c.delimiter);
        EXPECT_EQ(m->attributes, c.attributes);
        EXPECT_EQ(m->role(), c.role);
        EXPECT_EQ(m->isSelectable(), c.selectable);
    }
}

TEST(IMAPMailbox, NotAListReply) {
    const char* cases[] = {
        R"(* LIST () "/")", R"(* LSUB () "/" a)", R"(* LIST () "/" NIL)", R"(* LIST () "/" (a))", "* 3 EXISTS",
    };
    for (const char* raw : cases) {
        SCOPED_TRACE(raw);
        EXPECT_FALSE(IMAPMailbox::fromListResponse(valuesOf(raw)));
    }
}

TEST(IMAPMailbox, RoleAndSelectableWithoutAttributes) {
    EXPECT_TRUE(IMAPMailbox("a", "a").isSelectable());
    EXPECT_FALSE(IMAPMailbox("a", "a").role());
    EXPECT_EQ(IMAPMailbox("Inbox", "Inbox").role(), "inbox");
}

TEST(IMAPMailbox, JSON) {
    const IMAPMailbox withDelimiter("Entw&APw-rfe", "Entw\u00FCrfe", "/", {"\\HasNoChildren", "\\Drafts"});
    const json j = encodeJSON(withDelimiter);
    EXPECT_EQ(j, json::parse(R"({"name":"Entw&APw-rfe","displayName":"Entwürfe","delimiter":"/","attributes":["\\HasNoChildren","\\Drafts"]})"));
    EXPECT_EQ(decodeJSON<IMAPMailbox>(j), withDelimiter);

    const IMAPMailbox noDelimiter("a", "a");
    const json k = encodeJSON(noDelimiter);
    EXPECT_FALSE(k.contains("delimiter"));
    EXPECT_EQ(decodeJSON<IMAPMailbox>(k), noDelimiter);
    EXPECT_EQ(decodeJSON<IMAPMailbox>(json::parse(R"({"name":"a","displayName":"a","delimiter":null,"attributes":[]})")),
              noDelimiter);
    EXPECT_EQ(json(withDelimiter).get<IMAPMailbox>(), withDelimiter);

    const char* bad[] = {
        R"({"displayName":"a","attributes":[]})",
        R"({"name":"a","attributes":[]})",
        R"({"name":"a","displayName":"a"})",
        R"({"name":"a","displayName":"a","attributes":[1]})",
        R"({"name":"a","displayName":"a","attributes":"x"})",
        R"({"name":"a","displayName":"a","delimiter":5,"attributes":[]})",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW(decodeJSON<IMAPMailbox>(json::parse(text)), JSONDecodeError);
    }
}

TEST(IMAPMailbox, EqualityAndHash) {
    const IMAPMailbox a("a", "a", "/", {"\\X"});
    EXPECT_EQ(a, IMAPMailbox("a", "a", "/", {"\\X"}));
    EXPECT_NE(a, IMAPMailbox("a", "a", std::nullopt, {"\\X"}));
    EXPECT_NE(a, IMAPMailbox("a", "b", "/", {"\\X"}));
    EXPECT_NE(a, IMAPMailbox("a", "a", "/", {}));
    std::unordered_set<IMAPMailbox> set{a, IMAPMailbox("a", "a", "/", {"\\X"}), IMAPMailbox("a", "a")};
    EXPECT_EQ(set.size(), 2u);
}
