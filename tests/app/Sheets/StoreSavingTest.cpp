#include "Sheets/AddAccountSheet.h"
#include "Sheets/AppSheetStore.h"
#include "Store/StoreFixture.h"
#include "Views/VaultButton.h"

#include <QFile>
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
  // A backup is running: the new account's starts when it ends.
  BackupStatus running;
  running.running = true;
  s.setBackup(running);

  QPointer<AddAccountSheet> sheet = folderStep(s, &main);
  ASSERT_EQ(sheet->chosen(), (std::set<std::string>{"INBOX", "Sent"}));
  QTest::keyClick(sheet, Qt::Key_Return);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(sheet.isNull());

  const QJsonArray file = accountsFile();
  ASSERT_EQ(file.size(), 1);
  const QJsonObject a = file[0].toObject();
  EXPECT_EQ(a["label"].toString(), "you@example.com");
  EXPECT_EQ(a["provider"].toString(), "custom");
  EXPECT_EQ(a["folders"].toArray(), (QJsonArray{"INBOX", "Sent"}));
  EXPECT_EQ(a["knownFolders"].toArray().size(), 3);
  EXPECT_FALSE(passwordsFile().isEmpty()) << "the password is stored";
  EXPECT_TRUE(s.showBackupActivity()) << "the running backup is shown";
  EXPECT_EQ(AppSheetStore::of(s)->queuedBackups(), 1u) << "the new account's first backup waits";
  BackupStatus ended;
  s.setBackup(ended);
  EXPECT_EQ(AppSheetStore::of(s)->queuedBackups(), 0u) << "and starts once the running one ends";
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
