// The free-up sheet end to end: a real Dovecot, a vault filled by the real
// backup engine, the real release engine, and the sheet driven by keys and
// clicks. An independent IMAP session checks the server afterwards.
#include "Store/ByteCountText.h"
#include "AppTestSupport.h"
#include "SheetDriver.h"
#include "EngineHost.h"

#include "Engines/BackupRunner.h"
#include "Sheets/FreeUpSheetParts.h"
#include "Sheets/SheetHeader.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Sheets/FreeUpText.h"
#include "Views/VaultButton.h"
#include "support/DovecotFixture.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>

namespace bx::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qSleep(5);
  }
  return true;
}

Date daysAgo(int days) {
  return Clock::time_point(std::chrono::floor<std::chrono::seconds>(Clock::now() - std::chrono::hours(24) * days));
}

// Ten messages aged 5 days to about 6 years; six are older than two years.
const std::vector<int> kAges = {5, 100, 300, 600, 800, 1000, 1200, 1500, 1800, 2100};

class FreeUpEndToEnd : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    FreeUpSpaceSheet::initialYears = 1;
    alice = makeAccount("Work", users::alice);
    std::vector<SeedMessage> seeds;
    for (std::size_t i = 0; i < kAges.size(); ++i)
      seeds.push_back({makeMessage("Note " + std::to_string(i), std::string(200 + 37 * i, 'x') + "\r\n"),
                       daysAgo(kAges[i]), {"\\Seen"}});
    uids = dovecot.append(users::alice, "INBOX", seeds);
    for (auto uid : uids) original[uid] = dovecot.fetchRaw(users::alice, "INBOX", uid);
    BackupRunner(layout, alice, users::alice.password).run();
    const auto sync = layout.loadSync(alice);
    for (const auto& [uid, path] : sync.folders.at("INBOX").files) files[std::uint32_t(std::stoul(uid))] = path;
    ASSERT_EQ(files.size(), uids.size());

    host.accountList = {alice};
    host.passwords[alice.id] = users::alice.password;
  }
  void TearDown() override {
    if (sheet) {
      host.beforeRelease = nullptr;
      waitFor([&] { return !host.releaseRunning(); });
      sheet->close();
      delete sheet;
    }
    PinnedLook::TearDown();
  }

  MailAccount makeAccount(const std::string& label, const TestUser& user) {
    MailAccount a;
    a.id = UUID::random();
    a.label = label;
    a.username = user.name;
    a.server = IMAPServer("127.0.0.1", dovecot.imapPort(), true);
    a.provider = "custom";
    a.folders = {"INBOX"};
    a.knownFolders = {IMAPMailbox("INBOX", "Inbox", std::string("/"))};
    return a;
  }

  fs::path file(std::uint32_t uid) const { return vault.path() / files.at(uid); }
  void shorten(std::uint32_t uid) {
    const auto size = fs::file_size(file(uid));
    fs::resize_file(file(uid), size - 1);
  }

  FreeUpSpaceSheet* open() { return sheet = openSheet<FreeUpSpaceSheet>(host); }
  void key(int k, QWidget* to = nullptr) { pressKey(to ? to : static_cast<QWidget*>(sheet), k); }

  // The six old messages' release, held before the engine starts until
  // `held` turns false.
  void startHeldRelease(std::atomic<bool>& held) {
    host.beforeRelease = [&held] {
      while (held) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    open();
    verifyAndConfirm(6);
    QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  }

  // Choose "2 years", verify, continue, type the phrase: the sheet is then
  // at the release stage with the button enabled.
  void verifyAndConfirm(std::int64_t expectVerified) {
    QTest::mouseClick(sheet->presetButton(2), Qt::LeftButton);
    key(Qt::Key_Return);  // Verify Copies
    ASSERT_EQ(host.cleanupState().stage, FreeUpStage::verify);
    ASSERT_TRUE(waitFor([&] { return sheet->trailingButton()->isEnabled(); }));
    ASSERT_EQ(std::int64_t(host.cleanupState().plan->verified().size()), expectVerified);
    key(Qt::Key_Return);  // Continue to Release
    ASSERT_EQ(host.cleanupState().stage, FreeUpStage::release);
    QLineEdit* field = sheet->confirmationField();
    field->setFocus();
    QTest::keyClicks(field, "release " + QString::number(expectVerified));
    key(Qt::Key_Return, field);  // the release has no key
    ASSERT_FALSE(host.cleanupState().released);
    ASSERT_TRUE(sheet->trailingButton()->isEnabled());
  }

  std::set<std::uint32_t> oldUIDs() const {
    std::set<std::uint32_t> out;
    for (std::size_t i = 0; i < kAges.size(); ++i)
      if (kAges[i] > 730) out.insert(uids[i]);
    return out;
  }
  // Every message not in `gone` is still there with its exact bytes.
  void expectServerKeeps(const std::set<std::uint32_t>& gone) {
    std::set<std::uint32_t> want;
    for (auto uid : uids)
      if (!gone.count(uid)) want.insert(uid);
    const auto now = dovecot.uids(users::alice, "INBOX");
    EXPECT_EQ(std::set<std::uint32_t>(now.begin(), now.end()), want);
    for (auto uid : want) EXPECT_EQ(dovecot.fetchRaw(users::alice, "INBOX", uid), original.at(uid)) << uid;
  }

  DovecotFixture dovecot;
  TempDir vault;
  ArchiveLayout layout{vault.path()};
  EngineFreeUpHost host{layout};
  MailAccount alice;
  std::vector<std::uint32_t> uids;
  std::map<std::uint32_t, std::string> original;
  std::map<std::uint32_t, std::string> files;
  QPointer<FreeUpSpaceSheet> sheet;
};

TEST_F(FreeUpEndToEnd, ReleasesExactlyTheVerifiedOldMessages) {
  const auto old = oldUIDs();
  ASSERT_EQ(old.size(), 6u);
  auto it = old.begin();
  const std::uint32_t shortened = *it++;
  const std::uint32_t deleted = *it++;
  shorten(shortened);
  fs::remove(file(deleted));

  open();
  verifyAndConfirm(4);
  EXPECT_EQ(sheet->tallyText(), QString::fromUtf8("6 of 6 checked \u00B7 4 verified \u00B7 2 kept"));
  QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return host.cleanupState().stage == FreeUpStage::done; }));

  std::set<std::uint32_t> gone = old;
  gone.erase(shortened);
  gone.erase(deleted);
  expectServerKeeps(gone);
  EXPECT_TRUE(sheet->doneText().startsWith(QString::fromUtf8("4 messages \u00B7 ")));
  EXPECT_TRUE(sheet->doneText().endsWith(
      QString::fromUtf8(" released from Work \u203A Inbox. Your verified copies stay in the vault.")));
  EXPECT_EQ(sheet->doneKeptText(),
            QString::fromUtf8("2 messages were kept on the server because their copies couldn\u2019t be verified."));
  EXPECT_EQ(host.toasts, QStringList{QString::fromUtf8("Released 4 from the server \u00B7 copies safe in the vault")});
  key(Qt::Key_Return);  // Done
  EXPECT_FALSE(sheet);
}

TEST_F(FreeUpEndToEnd, ACopyThatChangedBeforeTheReleaseStaysAndIsCountedKept) {
  const auto old = oldUIDs();
  const std::uint32_t spoiled = *old.rbegin();
  open();
  verifyAndConfirm(6);
  host.beforeRelease = [&] { fs::remove(file(spoiled)); };
  QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return host.cleanupState().stage == FreeUpStage::done; }));

  std::set<std::uint32_t> gone = old;
  gone.erase(spoiled);
  expectServerKeeps(gone);
  std::int64_t bytes = 0;
  for (auto uid : gone) bytes += std::int64_t(original.at(uid).size());
  EXPECT_TRUE(sheet->doneText().startsWith("5 messages \u00B7 " + ByteCountText::file(bytes) + " released"))
      << sheet->doneText().toStdString();
  EXPECT_EQ(sheet->doneKeptText(),
            QString::fromUtf8("1 message was kept on the server because its copy couldn\u2019t be verified."));
}

TEST_F(FreeUpEndToEnd, TheReleaseNeverReachesAnotherAccount) {
  // bob's INBOX holds the same messages under the same UIDVALIDITY.
  MailAccount bob = makeAccount("Home", users::bob);
  std::vector<SeedMessage> seeds;
  for (std::size_t i = 0; i < uids.size(); ++i) seeds.push_back({original.at(uids[i]), daysAgo(kAges[i]), {}});
  const auto bobUIDs = dovecot.append(users::bob, "INBOX", seeds);
  ASSERT_EQ(bobUIDs, uids);
  dovecot.setUidValidity(users::bob, "INBOX", dovecot.uidValidity(users::alice, "INBOX"));
  host.accountList.push_back(bob);
  host.passwords[bob.id] = users::bob.password;

  open();
  verifyAndConfirm(6);
  host.removeAccount(alice.id);  // in the settings window
  EXPECT_EQ(sheet->account()->label, "Home");
  EXPECT_TRUE(sheet->accountGoneNote()->isVisibleTo(sheet));
  QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  QTest::qWait(200);
  EXPECT_FALSE(host.cleanupState().released);
  EXPECT_EQ(dovecot.uids(users::bob, "INBOX"), bobUIDs);
  expectServerKeeps({});
}

TEST_F(FreeUpEndToEnd, ClosingDuringAReleaseWaitsForItsOutcome) {
  std::atomic<bool> held{true};
  startHeldRelease(held);
  ASSERT_TRUE(host.releaseRunning());

  sheet->close();  // the window's close button
  sheet->reject();
  QCoreApplication::processEvents();
  ASSERT_TRUE(sheet);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->releaseProgressText(), QString::fromUtf8("Releasing\u2026 0 / 6"));

  held = false;
  ASSERT_TRUE(waitFor([&] { return !host.releaseRunning(); }));
  EXPECT_EQ(host.cleanupState().stage, FreeUpStage::done);
  expectServerKeeps(oldUIDs());
  sheet->close();
  QCoreApplication::processEvents();
  EXPECT_FALSE(sheet);

  open();
  EXPECT_EQ(host.cleanupState().stage, FreeUpStage::choose);
  EXPECT_FALSE(sheet->chooseErrorNote()->isVisibleTo(sheet));
  EXPECT_EQ(sheet->header()->title(), "Choose what to release");
}

TEST_F(FreeUpEndToEnd, StoppingAHeldReleaseLeavesTheServerAsItWas) {
  std::atomic<bool> held{true};
  startHeldRelease(held);
  key(Qt::Key_Escape);  // Stop
  EXPECT_TRUE(sheet->isVisible());
  held = false;
  ASSERT_TRUE(waitFor([&] { return !host.releaseRunning(); }));
  EXPECT_EQ(host.cleanupState().stage, FreeUpStage::release);
  EXPECT_EQ(sheet->releaseProgressText(), "Released 0 / 6");
  EXPECT_TRUE(sheet->releaseErrorNote()->isVisibleTo(sheet));
  expectServerKeeps({});
}

}  // namespace
}  // namespace bx::test
