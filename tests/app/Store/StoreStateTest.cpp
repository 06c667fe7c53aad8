// Start-up, accounts, saved searches, toasts and the vault root.

#include "StoreFixture.h"

#include "Shell/AppStoreShell.h"
#include "Theme/Theme.h"
#include "Util/AtomicFile.h"

#include <QSignalSpy>

namespace bx::test {
namespace {

TEST_F(StoreTest, VaultRootPrecedence) {
  const auto stored = dir.mkdir("stored");
  const auto fromEnv = dir.mkdir("env");
  struct Case {
    bool demo, env, setting;
    std::filesystem::path expected;
  };
  AppStore::demoArchivePreparer() = [&] { return dir / "demo"; };
  const std::vector<Case> cases{
      {true, true, true, dir / "demo"},
      {false, true, true, fromEnv},
      {false, false, true, stored},
      {false, false, false, ArchiveLayout::defaultRoot()},
  };
  for (const Case& c : cases) {
    qunsetenv("BRINDLEBOX_DEMO_DIR");
    qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
    QSettings().remove(QStringLiteral("archiveRoot"));
    if (c.demo) qputenv("BRINDLEBOX_DEMO_DIR", "");  // presence alone counts
    if (c.env) qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(fromEnv.string()));
    if (c.setting) QSettings().setValue(QStringLiteral("archiveRoot"), QString::fromStdString(stored.string()));
    AppStore s;
    EXPECT_EQ(s.layout().root, c.expected) << c.demo << c.env << c.setting;
  }
  qunsetenv("BRINDLEBOX_DEMO_DIR");
  AppStore::demoArchivePreparer() = nullptr;
}

TEST_F(StoreTest, NoAccountsFileMeansNoAccountsAndNoFileUntilSaved) {
  AppStore& s = makeStore();
  EXPECT_TRUE(s.accounts().empty());
  EXPECT_TRUE(s.expandedAccounts().isEmpty());
  EXPECT_FALSE(std::filesystem::exists(s.layout().accountsURL()));
}

TEST_F(StoreTest, AccountsRoundTripAndStartExpanded) {
  MailAccount work = account("Work");
  work.lastBackup = dateFromSeconds(1709632800);
  {
    AppStore& s = makeStore();
    s.addAccount(work, QStringLiteral("secret"));
    s.addAccount(account("Home", "bob@example.com"), QStringLiteral("pw2"));
  }
  const std::string text = dir.read(vault / ".brindlebox/accounts.json");
  EXPECT_NE(text.find(work.id.string()), std::string::npos) << text;  // upper-case UUID
  EXPECT_NE(text.find("\"2024-03-05T10:00:00Z\""), std::string::npos) << text;
  AppStore& again = makeStore();
  ASSERT_EQ(again.accounts().size(), 2u);
  EXPECT_EQ(again.accounts()[0], work);
  EXPECT_TRUE(again.expandedAccounts().contains(QStringLiteral("Work")));
  EXPECT_TRUE(again.expandedAccounts().contains(QStringLiteral("Home")));
}

TEST_F(StoreTest, AddUpdateRemoveAccounts) {
  AppStore& s = makeStore();
  MailAccount a = account("Work"), b = account("Work", "other@example.com");
  s.addAccount(a, QStringLiteral("one"));
  s.addAccount(b, QStringLiteral("two"));  // same label, another id: both stay
  ASSERT_EQ(s.accounts().size(), 2u);
  s.addAccount(a, QStringLiteral("one"));  // again: moves to the end
  EXPECT_EQ(s.accounts().back().id, a.id);
  EXPECT_EQ(s.accounts().size(), 2u);

  // An unknown id changes and writes nothing.
  std::filesystem::remove(s.layout().accountsURL());
  s.updateAccount(account("Stranger"));
  EXPECT_FALSE(std::filesystem::exists(s.layout().accountsURL()));
  MailAccount renamed = a;
  renamed.folders = {"INBOX", "Sent"};
  s.updateAccount(renamed);
  EXPECT_EQ(s.accounts().back().folders.size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(s.layout().accountsURL()));

  put("Work/INBOX/1.eml", eml("kept"));
  s.removeAccount(a);
  ASSERT_EQ(s.accounts().size(), 1u);
  EXPECT_EQ(s.accounts()[0].id, b.id);
  ASSERT_TRUE(s.toast());
  EXPECT_EQ(s.toast()->text, QStringLiteral("Removed “Work” — its messages stay in the vault"));
  EXPECT_EQ(s.toast()->symbol, QStringLiteral("person.crop.circle.badge.minus"));
  EXPECT_EQ(s.toast()->tint, Theme::ink2);
  EXPECT_TRUE(std::filesystem::exists(vault / "Work/INBOX/1.eml"));
  EXPECT_FALSE(Credentials::password(a));
}

TEST_F(StoreTest, RemovingOneOfTwoAccountsWithTheSameLoginKeepsTheSharedPassword) {
  AppStore& s = makeStore();
  MailAccount a = account("Work"), b = account("Work copy");  // same user, host and port
  s.addAccount(a, QStringLiteral("shared"));
  s.addAccount(b, QStringLiteral("shared"));
  s.removeAccount(a);
  EXPECT_EQ(Credentials::password(b), QStringLiteral("shared"));
  s.removeAccount(b);
  EXPECT_FALSE(Credentials::password(b));
}

TEST_F(StoreTest, AddAccountFailsWithoutAddingWhenThePasswordCannotBeStored) {
  dir.write("passwords.json", "{not json");
  AppStore& s = makeStore();
  EXPECT_THROW(s.addAccount(account("Work"), QStringLiteral("pw")), CredentialError);
  EXPECT_TRUE(s.accounts().empty());
  EXPECT_EQ(dir.read("passwords.json"), "{not json");
}

TEST_F(StoreTest, AddAccountReportsAnAccountsFileItCannotWriteAndLeavesNothingBehind) {
  AppStore& s = makeStore();
  MailAccount first = account("Work");
  s.addAccount(first, QStringLiteral("shared"));
  // The state folder's place taken by a plain file: every write there fails
  // (also as root, who ignores permissions).
  std::filesystem::remove_all(vault / ".brindlebox");
  dir.write(vault / ".brindlebox", "not a folder");

  // What was stored for the login before is what stays: nothing for a new
  // one, the old password (not the new one) for a login in use.
  struct Case {
    const char* what;
    MailAccount account;
    std::optional<QString> passwordAfter;
  };
  const std::vector<Case> cases{
      {"a new login", account("Home", "bob@example.com"), std::nullopt},
      {"the login another account uses", account("Work copy"), QStringLiteral("shared")},
  };
  for (const Case& c : cases) {
    QSignalSpy changed(&s, &AppStore::accountsChanged);
    EXPECT_ANY_THROW(s.addAccount(c.account, QStringLiteral("new"))) << c.what;
    ASSERT_EQ(s.accounts().size(), 1u) << c.what;
    EXPECT_EQ(s.accounts()[0].id, first.id) << c.what;
    EXPECT_EQ(changed.count(), 0) << c.what;
    EXPECT_FALSE(s.expandedAccounts().contains(QString::fromStdString(c.account.label))) << c.what;
    EXPECT_EQ(Credentials::password(c.account), c.passwordAfter) << c.what;
  }
  EXPECT_EQ(Credentials::password(first), QStringLiteral("shared"));
}

TEST_F(StoreTest, SavedSearchesAtStart) {
  // A valid file is read and written back with the plain encoder; extra keys go.
  const std::string valid =
      R"([{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","name":"Invoices","query":"invoice","x":1}])";
  put(".brindlebox/filters.json", valid);
  {
    AppStore& s = makeStore();
    ASSERT_EQ(s.savedSearches().size(), 1);
    EXPECT_EQ(s.savedSearches()[0].name, QStringLiteral("Invoices"));
  }
  EXPECT_EQ(dir.read(vault / ".brindlebox/filters.json"),
            R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"Invoices","query":"invoice"}])");

  // An invalid one (a missing name) is left untouched and nothing is shown.
  const std::string invalid = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","query":"invoice"}])";
  put(".brindlebox/filters.json", invalid);
  AppStore& s = makeStore();
  EXPECT_TRUE(s.savedSearches().isEmpty());
  EXPECT_EQ(dir.read(vault / ".brindlebox/filters.json"), invalid);
}

TEST_F(StoreTest, ToastsReplaceEachOtherAndClearAfterTheirTime) {
  AppStore& s = makeStore();
  s.showToast(QStringLiteral("one"), QStringLiteral("a"), Theme::seal);
  const QUuid first = s.toast()->id;
  QTest::qWait(1000);
  s.showToast(QStringLiteral("one"), QStringLiteral("a"), Theme::seal);
  EXPECT_NE(s.toast()->id, first);  // same words, another toast
  QTest::qWait(2000);                // 3 s after the first: the second is still up
  EXPECT_TRUE(s.toast());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !s.toast(); }, 1500));
}

TEST_F(StoreTest, SwitchingVaultsReadsTheNewOneAndForgetsPerMessageState) {
  put(".brindlebox/filters.json", R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"A","query":"a"}])");
  put("Work/INBOX/1.eml", eml("first"));
  AppStore& s = makeStore();
  s.addAccount(account("Work"), QStringLiteral("pw"));
  scan(s);
  s.setSelectedPath(QStringLiteral("Work/INBOX/1.eml"));
  s.allowImages(QStringLiteral("Work/INBOX/1.eml"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.openMessage() != nullptr; }, 5000));

  // Refused while long work runs.
  BackupStatus running;
  running.running = true;
  s.setBackup(running);
  const auto other = dir.mkdir("other");
  EXPECT_FALSE(s.changeArchiveRoot(other));
  EXPECT_EQ(s.layout().root, vault);
  s.setBackup(BackupStatus{});

  ScanLog log(s);
  ASSERT_TRUE(s.changeArchiveRoot(other));
  EXPECT_EQ(QSettings().value(QStringLiteral("archiveRoot")).toString().toStdString(), other.string());
  EXPECT_TRUE(s.accounts().empty());
  EXPECT_EQ(s.savedSearches().size(), 1);  // no filters.json there: kept
  EXPECT_FALSE(s.selectedPath());
  EXPECT_FALSE(s.openMessage());
  EXPECT_TRUE(s.allowImagesFor().isEmpty());
  EXPECT_TRUE(s.records().empty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return log.finished(); }, 5000));
  // The next change writes them into the new vault.
  s.setSavedSearches({});
  EXPECT_EQ(dir.read(other / ".brindlebox/filters.json"), "[]");
}

TEST_F(StoreTest, AnAccountListThatCannotBeReadIsSaidAndNeverWrittenOver) {
  const std::string listed = R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","label":"Work"}])";
  const std::vector<std::pair<const char*, std::string>> cases{
      {"empty", ""}, {"not JSON", "[{\"id\":"}, {"an element short of keys", listed}};
  for (const auto& [what, text] : cases) {
    dir.write(vault / ".brindlebox/accounts.json", text);
    AppStore& s = makeStore();
    EXPECT_TRUE(s.accounts().empty()) << what;
    ASSERT_TRUE(s.accountsProblem()) << what;
    EXPECT_EQ(s.accountsProblem()->title, "The account list can\u2019t be read") << what;
    // Where it is and what to do.
    EXPECT_NE(s.accountsProblem()->advice.find(s.layout().accountsURL().string()), std::string::npos) << what;
    EXPECT_NE(s.accountsProblem()->advice.find("repair it, or move it aside"), std::string::npos) << what;

    // Adding an account is refused rather than writing over the user's file.
    EXPECT_ANY_THROW(s.addAccount(account("Home"), QStringLiteral("pw"))) << what;
    s.saveAccounts();
    EXPECT_TRUE(s.accounts().empty()) << what;
    EXPECT_EQ(dir.read(vault / ".brindlebox/accounts.json"), text) << what;
    EXPECT_FALSE(Credentials::password(account("Home"))) << what;
  }

  // Mended, it is read as any list; a missing one is no problem at all.
  dir.write(vault / ".brindlebox/accounts.json", "[]");
  EXPECT_FALSE(makeStore().accountsProblem());
  std::filesystem::remove(vault / ".brindlebox/accounts.json");
  EXPECT_FALSE(makeStore().accountsProblem());
}

TEST_F(StoreTest, AVaultFolderThatCannotBeReadIsSaidNotShownAsEmpty) {
  std::filesystem::remove_all(vault);
  dir.write(vault, "a file where the vault belongs");
  AppStore& s = makeStore();
  AppStoreShell shell(s);
  ASSERT_TRUE(s.vaultProblem());
  EXPECT_EQ(s.vaultProblem()->title, "The vault folder can\u2019t be read");
  EXPECT_NE(s.vaultProblem()->advice.find(vault.string() + " could not be opened (it is not a folder)"),
            std::string::npos)
      << s.vaultProblem()->advice;
  EXPECT_EQ(s.storageProblem(), s.vaultProblem());
  EXPECT_FALSE(shell.isEmptyVault()) << "the welcome page would invite adding the accounts again";

  // Put right, the next reload finds it; a vault not made yet is none of this.
  std::filesystem::remove(vault);
  QSignalSpy changed(&s, &AppStore::storageProblemChanged);
  scan(s);
  EXPECT_FALSE(s.storageProblem());
  EXPECT_EQ(changed.count(), 1);
  EXPECT_TRUE(shell.isEmptyVault());
}

TEST_F(StoreTest, VaultSummaryAndArchiveAccounts) {
  put("Imported/Loose Messages/1.eml", eml("one"));
  AppStore& s = makeStore();
  s.addAccount(account("Work"), QStringLiteral("pw"));
  scan(s);
  const QString summary = s.vaultSummary();
  EXPECT_TRUE(summary.startsWith(QStringLiteral("1 message · "))) << summary.toStdString();
  EXPECT_EQ(summary.count(QStringLiteral(" · ")), 1) << summary.toStdString();
  EXPECT_EQ(s.archiveAccounts(), (QStringList{QStringLiteral("Work"), QStringLiteral("Imported")}));

  MailAccount a = s.accounts()[0];
  a.lastBackup = std::chrono::system_clock::now() - std::chrono::minutes(5);
  s.updateAccount(a);
  EXPECT_TRUE(s.vaultSummary().endsWith(QStringLiteral(" · last checked 5 min ago"))) << s.vaultSummary().toStdString();
}

}  // namespace
}  // namespace bx::test
