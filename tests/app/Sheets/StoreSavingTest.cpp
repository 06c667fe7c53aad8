#include "Sheets/AddAccountSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Store/StoreFixture.h"
#include "Views/VaultButton.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace bx;
using namespace bx::test;

namespace {

class StoreSavingTest : public StoreTest {
protected:
  void TearDown() override {
    AddAccountSheet::snapshotStartStep.reset();
    AddAccountSheet::snapshotPreset.reset();
    AddAccountSheet::snapshotMailboxes.reset();
    StoreTest::TearDown();
  }

  // The wizard on its folder step as a sign-in test leaves it.
  AddAccountSheet* folderStep(AppStore& s, QWidget* parent) {
    AddAccountSheet::snapshotPreset = ProviderPreset::named("custom");
    AddAccountSheet::snapshotStartStep = AddAccountSheet::Step::Folders;
    AddAccountSheet::snapshotMailboxes =
        std::vector<IMAPMailbox>{IMAPMailbox("INBOX", "INBOX"), IMAPMailbox("Sent", "Sent", "/", {"\\Sent"}),
                                 IMAPMailbox("Old", "Old")};
    auto* sheet = new AddAccountSheet(AppSheetStore::of(s), parent);
    sheet->show();
    return sheet;
  }

  QJsonArray accountsFile() {
    QFile f(QString::fromStdString((vault / ".brindlebox" / "accounts.json").string()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).array();
  }
  // An account whose server accepts the connection and then says nothing:
  // its backup runs until it is stopped.
  static MailAccount hangingAccount(const QTcpServer& server) {
    return MailAccount(UUID::random(), "Elsewhere", "someone", IMAPServer("127.0.0.1", server.serverPort(), true),
                       "custom", {"INBOX"}, {});
  }
  QJsonObject passwordsFile() {
    QFile f(QString::fromStdString((dir / "passwords.json").string()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
  }
};

} // namespace

TEST_F(StoreSavingTest, SavesAccountPasswordAndStartsItsBackup) {
  AppStore& s = makeStore();
  QWidget main;
  main.show();
  // A backup is running, on a server that never says hello: the new
  // account's starts when it ends.
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
  const MailAccount other = hangingAccount(silent);
  s.addAccount(other, "pw");
  s.backUpNow(other);
  ASSERT_TRUE(s.backup().running);

  QPointer<AddAccountSheet> sheet = folderStep(s, &main);
  ASSERT_EQ(sheet->chosen(), (std::set<std::string>{"INBOX", "Sent"}));
  QTest::keyClick(sheet, Qt::Key_Return);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(sheet.isNull());

  const QJsonArray file = accountsFile();
  ASSERT_EQ(file.size(), 2);
  const QJsonObject a = file[1].toObject();
  EXPECT_EQ(a["label"].toString(), "you@example.com");
  EXPECT_EQ(a["provider"].toString(), "custom");
  EXPECT_EQ(a["folders"].toArray(), (QJsonArray{"INBOX", "Sent"}));
  EXPECT_EQ(a["knownFolders"].toArray().size(), 3);
  EXPECT_FALSE(passwordsFile().isEmpty()) << "the password is stored";
  EXPECT_TRUE(s.showBackupActivity()) << "the running backup is shown";
  const MailAccount added = s.accounts().back();
  EXPECT_EQ(s.queuedBackups(), 1u) << "the new account's first backup waits";
  EXPECT_TRUE(s.accountBusy(added.id)) << "and holds the account meanwhile";

  s.stopBackup();
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.queuedBackups() == 0 && !s.backup().running; }, 20000));
  // It ran once the other one ended (and, with no server to reach, failed).
  EXPECT_TRUE(s.backupProblem(added)) << "the new account's backup never ran";
  EXPECT_FALSE(s.accountBusy(added.id));
}

TEST_F(StoreSavingTest, ARemovedAccountsWaitingBackupIsDropped) {
  AppStore& s = makeStore();
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
  const MailAccount other = hangingAccount(silent);
  MailAccount later = hangingAccount(silent);
  later.username = "later";
  s.addAccount(other, "pw");
  s.addAccount(later, "pw");
  s.backUpNow(other);
  AppSheetStore::of(s)->backUpNow(later);
  ASSERT_EQ(s.queuedBackups(), 1u);
  ASSERT_TRUE(s.accountBusy(later.id));

  s.removeAccount(later);
  EXPECT_EQ(s.queuedBackups(), 0u);
  QSignalSpy runs(&s, &AppStore::backupChanged);
  s.stopBackup();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.backup().running; }, 20000));
  QTest::qWait(100);
  EXPECT_FALSE(s.backup().running) << "a run of the removed account started";
  EXPECT_EQ(s.backup().lastMessage, QStringLiteral("Stopped"));
  EXPECT_FALSE(s.backupProblem(later));
}

TEST_F(StoreSavingTest, AccountsFileThatCannotBeWrittenLeavesNothingBehind) {
  // The vault's state folder is a file: accounts.json cannot be written (as
  // root, permissions would not stop it).
  dir.write(vault / ".brindlebox", "not a folder");
  AppStore& s = makeStore();
  QWidget main;
  main.show();
  QPointer<AddAccountSheet> sheet = folderStep(s, &main);
  QTest::keyClick(sheet, Qt::Key_Return);
  ASSERT_FALSE(sheet.isNull()) << "the sheet stays open";
  EXPECT_EQ(sheet->step(), AddAccountSheet::Step::Credentials);
  ASSERT_TRUE(sheet->error().has_value());
  EXPECT_EQ(sheet->error()->title, "Couldn’t save the account");
  EXPECT_FALSE(sheet->error()->advice.empty());
  EXPECT_TRUE(s.accounts().empty());
  EXPECT_TRUE(passwordsFile().isEmpty()) << "the password went with the account";
  EXPECT_FALSE(s.backup().running);
  sheet->close();
}

TEST_F(StoreSavingTest, ALoginAnAccountAlreadyHasIsRefused) {
  AppStore& s = makeStore();
  QWidget main;
  main.show();
  QPointer<AddAccountSheet> sheet = folderStep(s, &main);
  // Another account already signs in as this user on this server.
  const MailAccount existing(UUID::random(), "Work", "you@example.com", sheet->server(), "custom", {"INBOX"}, {});
  s.addAccount(existing, "pw");

  QTest::keyClick(sheet, Qt::Key_Return);
  ASSERT_FALSE(sheet.isNull()) << "the sheet stays open";
  EXPECT_EQ(sheet->step(), AddAccountSheet::Step::Credentials);
  ASSERT_TRUE(sheet->error());
  EXPECT_EQ(sheet->error()->title, "This account is already in Brindlebox");
  EXPECT_NE(sheet->error()->advice.find("\u201CWork\u201D already backs up you@example.com"), std::string::npos)
      << sheet->error()->advice;
  EXPECT_EQ(s.accounts().size(), 1u);
  EXPECT_FALSE(s.backup().running);
  sheet->close();
}
