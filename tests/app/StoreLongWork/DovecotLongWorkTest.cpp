// Backup and free-up through the store's orchestration against a real
// Dovecot, with the real engines on worker threads.
#include "LongWorkSupport.h"

#include "Store/CleanupModel.h"
#include "support/DovecotFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace bx;
using namespace bx::test;
namespace fs = std::filesystem;

namespace {

std::chrono::system_clock::time_point oldDate(int i) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1577836800LL + i * 86400LL));  // 2020
}

std::vector<SeedMessage> seed(int count) {
    std::vector<SeedMessage> out;
    for (int i = 0; i < count; ++i)
        out.push_back({makeMessage("Old news " + std::to_string(i), "Body " + std::to_string(i) + ".\r\n"), oldDate(i), {}});
    return out;
}

struct LongWorkOnDovecot : ::testing::Test {
    DovecotFixture dovecot;
    TempDir dir;
    FakeBackupStore store;
    MailAccount account;

    void SetUp() override {
        trustTestCA();
        dovecot.createMailbox(users::alice, "Old");
        account = MailAccount(UUID::random(), "Work", users::alice.name,
                              IMAPServer("localhost", dovecot.imapsPort(), false), "custom", {"INBOX", "Old"}, {});
        store.accounts = {account};
        store.passwords["Work"] = users::alice.password;
        store.layout = ArchiveLayout(dir.path() / "vault");
    }

    void backUp(BackupOrchestrator& backups) {
        backups.backUpNow(std::nullopt);
        ASSERT_TRUE(spinUntil([&] { return !store.status.running; }, 60000));
    }
};

}  // namespace

TEST_F(LongWorkOnDovecot, BackupFillsTheVaultAndTheLedger) {
    dovecot.append(users::alice, "INBOX", seed(3));
    dovecot.append(users::alice, "Old", seed(2));
    BackupOrchestrator backups(store.host(BackupOrchestrator::realEngine()));
    backUp(backups);

    ASSERT_EQ(store.toasts.size(), 1u) << store.toasts[0].text.toStdString();
    EXPECT_EQ(store.toasts[0].text, QStringLiteral("5 new messages saved"));
    EXPECT_FALSE(store.status.lastError);
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(account, "INBOX")], (LedgerLine{false, 3, 3, true, 3}));
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(account, "Old")], (LedgerLine{false, 2, 2, true, 2}));
    EXPECT_EQ(store.accounts[0].lastBackup, store.now);
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(store.layout.root / account.directoryName()))
        files += e.is_regular_file() && e.path().extension() == ".eml";
    EXPECT_EQ(files, 5);

    // A second run finds nothing new.
    store.toasts.clear();
    backUp(backups);
    EXPECT_EQ(store.toasts.at(0).text, QStringLiteral("Everything was already in the vault"));

    // A wrong password is a problem of that account, in friendly words.
    store.passwords["Work"] = "wrong";
    store.toasts.clear();
    backUp(backups);
    EXPECT_EQ(store.toasts.at(0).text, QStringLiteral("Backup finished — 1 account needs attention"));
    ASSERT_EQ(store.problems.size(), 1);
    EXPECT_FALSE(store.problems.begin()->title.empty());
}

TEST_F(LongWorkOnDovecot, FreeUpRemovesExactlyTheVerifiedMessages) {
    const auto uids = dovecot.append(users::alice, "Old", seed(6));
    BackupOrchestrator backups(store.host(BackupOrchestrator::realEngine()));
    backUp(backups);
    ASSERT_EQ(store.toasts.at(0).text, QStringLiteral("6 new messages saved"));

    // Spoil one local copy: it no longer matches the server's size.
    const AccountSyncState sync = store.layout.loadSync(account);
    const std::string spoiled = sync.folders.at("Old").files.at(std::to_string(uids[2]));
    std::ofstream(store.layout.url(spoiled), std::ios::binary | std::ios::app) << "extra";

    std::vector<ToastRecord> toasts;
    CleanupModel::Services services;
    services.layout = [&] { return store.layout; };
    services.password = [&](const MailAccount&) { return std::optional<std::string>(users::alice.password); };
    services.toast = [&](const QString& t, const QString& s, const ThemeColor& c) { toasts.push_back({t, s, c}); };
    services.reduceMotion = [] { return false; };
    CleanupModel model(services);

    model.check(account, "Old", std::chrono::system_clock::now());
    EXPECT_EQ(model.stage(), CleanupStage::verify);
    ASSERT_TRUE(spinUntil([&] { return !model.busy(); }, 60000));
    ASSERT_TRUE(model.plan());
    ASSERT_EQ(model.plan()->items.size(), 6u);
    EXPECT_EQ(model.checked(), 6);
    EXPECT_EQ(model.plan()->verified().size(), 5u);
    EXPECT_TRUE(model.plan()->items[2].status.is(CleanupItem::Status::Kind::sizeMismatch));

    model.setStage(CleanupStage::release);
    model.run(account);
    ASSERT_TRUE(spinUntil([&] { return !model.busy(); }, 60000));
    EXPECT_FALSE(model.error()) << model.error()->text();
    EXPECT_EQ(model.stage(), CleanupStage::done);
    EXPECT_EQ(model.released(), (ReleaseProgress{5, 5}));
    EXPECT_EQ(dovecot.uids(users::alice, "Old"), std::vector<std::uint32_t>{uids[2]});
    ASSERT_EQ(toasts.size(), 1u);
    EXPECT_EQ(toasts[0].text, QStringLiteral("Released 5 from the server · copies safe in the vault"));
    EXPECT_TRUE(model.result()->endsWith(QStringLiteral(" released from Work › Old. Your verified copies stay in the vault.")));
    // Every local copy is still there.
    for (const auto& [uid, path] : sync.folders.at("Old").files) EXPECT_TRUE(fs::exists(store.layout.url(path))) << path;
}
