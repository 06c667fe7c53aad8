#include <gtest/gtest.h>

#include <unordered_set>

#include "Util/Json.h"
#include "Vault/MailAccount.h"

using bx::MailAccount;

namespace {

MailAccount sample() {
    return MailAccount(*bx::UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "Fake Server", "me@example.com",
                       bx::IMAPServer("imap.example.com", 993, false), "custom", {"INBOX", "Sent"},
                       {bx::IMAPMailbox("INBOX", "INBOX", "/", {"\\HasNoChildren"}), bx::IMAPMailbox("Sent", "Sent")},
                       *bx::parseISO8601("2024-05-01T12:00:00Z"));
}

}  // namespace

TEST(MailAccount, JSONRoundTripAndKeys) {
    const auto a = sample();
    const auto j = bx::encodeJSON(a);
    EXPECT_EQ(j["id"], "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(j["lastBackup"], "2024-05-01T12:00:00Z");
    EXPECT_EQ(j["server"]["port"], 993);
    EXPECT_FALSE(j["knownFolders"][1].contains("delimiter"));
    EXPECT_EQ(bx::decodeJSON<MailAccount>(j), a);

    auto noDate = a;
    noDate.lastBackup.reset();
    const auto j2 = bx::encodeJSON(noDate);
    EXPECT_FALSE(j2.contains("lastBackup"));
    EXPECT_EQ(bx::decodeJSON<MailAccount>(j2), noDate);

    auto extra = j;
    extra["future"] = 1;
    EXPECT_EQ(bx::decodeJSON<MailAccount>(extra), a);
}

TEST(MailAccount, EveryKeyButLastBackupIsRequired) {
    const auto j = bx::encodeJSON(sample());
    for (const char* key : {"id", "label", "username", "server", "provider", "folders", "knownFolders"}) {
        auto broken = j;
        broken.erase(key);
        EXPECT_THROW(bx::decodeJSON<MailAccount>(broken), bx::JSONDecodeError) << key;
    }
    auto badPort = j;
    badPort["server"]["port"] = 70000;
    EXPECT_THROW(bx::decodeJSON<MailAccount>(badPort), bx::JSONDecodeError);
    auto badDate = j;
    badDate["lastBackup"] = "soon";
    EXPECT_THROW(bx::decodeJSON<MailAccount>(badDate), bx::JSONDecodeError);
}

TEST(MailAccount, EqualityAndHashCoverEveryField) {
    const auto a = sample();
    std::vector<MailAccount> variants(8, a);
    variants[0].id = bx::UUID::random();
    variants[1].label = "Other";
    variants[2].username = "you";
    variants[3].server.plaintextLocalDev = true;
    variants[4].provider = "gmail";
    variants[5].folders.pop_back();
    variants[6].knownFolders[0].attributes.clear();
    variants[7].lastBackup.reset();
    std::unordered_set<MailAccount> set{a};
    for (const auto& v : variants) {
        EXPECT_NE(v, a);
        set.insert(v);
    }
    EXPECT_EQ(set.size(), 9u);  // a collision here would be a weak hash, not a bug, but none is expected
    EXPECT_EQ(std::hash<MailAccount>{}(a), std::hash<MailAccount>{}(sample()));
}

TEST(MailAccount, DirectoryName) {
    auto a = sample();
    const struct {
        const char* label;
        const char* dir;
    } cases[] = {
        {"Fake Server", "Fake Server"},
        {"Work: Mail/2024", "Work Mail 2024"},
        // Never the vault root, and never inside the importer's branch.
        {"", "Account"},
        {"///", "Account"},
        {"...", "Account"},
        {". ..", "Account"},
        {". .", "Account"},
        {"Imported", "Imported (account)"},
        {"imported", "imported (account)"},
        {"Imported mail", "Imported mail"},
    };
    for (const auto& c : cases) {
        a.label = c.label;
        EXPECT_EQ(a.directoryName(), c.dir) << c.label;
    }
    a.label = std::string(70, 'x');
    EXPECT_EQ(a.directoryName(), std::string(60, 'x'));
}
