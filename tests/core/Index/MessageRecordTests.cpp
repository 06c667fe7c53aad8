#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Index/MessageRecord.h"
#include "Util/Json.h"

using bx::MessageRecord;
using bx::SenderTrust;
using nlohmann::json;

namespace {

MessageRecord sample() {
    MessageRecord r;
    r.id = 4;
    r.path = "work/INBOX/2024/05 Invoice.eml";
    r.account = "work";
    r.folder = "INBOX";
    r.subject = "Invoice";
    r.fromName = "Ann";
    r.fromEmail = "ann@example.com";
    r.to = "Bob <bob@example.com>";
    r.date = *bx::parseISO8601("2024-03-05T14:07:09Z");
    r.size = 1234;
    r.snippet = "Hello";
    r.attachments = 1;
    r.trackers = 2;
    r.remoteImages = 3;
    r.trust = SenderTrust::partial;
    r.replyToMismatch = false;
    r.linkWarnings = 0;
    r.mtime = 1709647629.5;
    return r;
}

}  // namespace

TEST(MessageRecord, FromDisplay) {
    MessageRecord r;
    EXPECT_EQ(r.fromDisplay(), "(unknown sender)");
    r.fromEmail = "a@b.example";
    EXPECT_EQ(r.fromDisplay(), "a@b.example");
    r.fromName = " ";
    EXPECT_EQ(r.fromDisplay(), " ");
}

TEST(MessageRecord, IsSuspicious) {
    MessageRecord r = sample();
    r.trackers = 5;
    EXPECT_FALSE(r.isSuspicious());
    for (auto t : {SenderTrust::unknown, SenderTrust::verified}) {
        r.trust = t;
        EXPECT_FALSE(r.isSuspicious());
    }
    auto with = [&](auto change) {
        MessageRecord x = sample();
        change(x);
        return x.isSuspicious();
    };
    EXPECT_TRUE(with([](MessageRecord& x) { x.senderFlag = ""; }));
    EXPECT_TRUE(with([](MessageRecord& x) { x.trust = SenderTrust::failed; }));
    EXPECT_TRUE(with([](MessageRecord& x) { x.replyToMismatch = true; }));
    EXPECT_TRUE(with([](MessageRecord& x) { x.linkWarnings = 1; }));
}

TEST(MessageRecord, EqualityCoversEveryField) {
    const MessageRecord a = sample();
    EXPECT_EQ(a, sample());
    std::vector<std::function<void(MessageRecord&)>> changes = {
        [](MessageRecord& x) { x.id = 5; },
        [](MessageRecord& x) { x.mtime += 1; },
        [](MessageRecord& x) { x.date += std::chrono::seconds(1); },
        [](MessageRecord& x) { x.senderFlag = ""; },
        [](MessageRecord& x) { x.trust = SenderTrust::verified; },
        [](MessageRecord& x) { x.snippet += " "; },
        [](MessageRecord& x) { x.folder = ""; },
    };
    for (auto& change : changes) {
        MessageRecord b = sample();
        change(b);
        EXPECT_NE(a, b);
    }
    EXPECT_EQ(std::hash<MessageRecord>{}(a), std::hash<MessageRecord>{}(sample()));
}

TEST(MessageRecord, JSONRoundTrip) {
    const MessageRecord a = sample();
    json j = a.toJSON();
    EXPECT_EQ(j.size(), 18u);
    EXPECT_FALSE(j.contains("senderFlag"));
    EXPECT_EQ(j["date"], "2024-03-05T14:07:09Z");
    EXPECT_EQ(j["trust"], "partial");
    EXPECT_EQ(MessageRecord::fromJSON(j), a);

    MessageRecord b = a;
    b.senderFlag = "Name shows paypal.com";
    json k = b.toJSON();
    EXPECT_EQ(k.size(), 19u);
    EXPECT_EQ(MessageRecord::fromJSON(k), b);

    // A fraction of a second is dropped when written.
    MessageRecord c = a;
    c.date += std::chrono::milliseconds(700);
    EXPECT_EQ(c.toJSON()["date"], "2024-03-05T14:07:09Z");

    // A file at the vault root keeps its empty account.
    MessageRecord loose = a;
    loose.path = "05 Invoice.eml";
    loose.account.clear();
    loose.folder.clear();
    EXPECT_TRUE(loose.isAtVaultRoot());
    EXPECT_FALSE(a.isAtVaultRoot());
    EXPECT_EQ(loose.toJSON()["account"], "");
    EXPECT_EQ(MessageRecord::fromJSON(loose.toJSON()), loose);
}

TEST(MessageRecord, DecodingIsStrict) {
    const json good = sample().toJSON();
    auto fails = [&](auto change) {
        json j = good;
        change(j);
        try {
            (void)MessageRecord::fromJSON(j);
            return false;
        } catch (const bx::JSONDecodeError&) {
            return true;
        }
    };
    EXPECT_TRUE(fails([](json& j) { j.erase("snippet"); }));
    EXPECT_TRUE(fails([](json& j) { j["trust"] = "Verified"; }));
    EXPECT_TRUE(fails([](json& j) { j["size"] = 12.5; }));
    EXPECT_TRUE(fails([](json& j) { j["size"] = "12"; }));
    EXPECT_TRUE(fails([](json& j) { j["subject"] = nullptr; }));
    EXPECT_TRUE(fails([](json& j) { j["replyToMismatch"] = 0; }));
    EXPECT_TRUE(fails([](json& j) { j["date"] = "2024-03-05T14:07:09.250Z"; }));
    EXPECT_TRUE(fails([](json& j) { j["date"] = "2024-03-05 14:07:09"; }));
    EXPECT_TRUE(fails([](json& j) { j["mtime"] = "now"; }));
    EXPECT_TRUE(fails([](json& j) { j["senderFlag"] = 3; }));
    EXPECT_FALSE(fails([](json& j) { j["senderFlag"] = nullptr; }));
    EXPECT_FALSE(fails([](json& j) { j["extra"] = {1, 2}; }));
    EXPECT_FALSE(fails([](json& j) { j["mtime"] = 17; }));

    json offset = good;
    offset["date"] = "2024-03-05T15:07:09+01:00";
    EXPECT_EQ(MessageRecord::fromJSON(offset), sample());
}
