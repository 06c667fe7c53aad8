// The free-up sheet driven by a scripted host: stages, the typed
// confirmation, key routing, the pinned account and closing during a release.
#include "AppTestSupport.h"
#include "SheetDriver.h"
#include "FakeHosts.h"
#include "PlanFixtures.h"

#include "Sheets/FreeUpSheetParts.h"
#include "Sheets/SheetHeader.h"
#include "Sheets/FreeUpSpaceSheet.h"
#include "Sheets/FreeUpText.h"
#include "Sheets/VerifyLedger.h"
#include "Views/StepRail.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"

#include "Theme/Theme.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

namespace bx::test {
namespace {

class FreeUpSheetTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    host.accountList = {account("Work", "alice@example.org"), account("Home", "al@example.net")};
  }
  void TearDown() override {
    if (sheet) {
      host.current = {};  // nothing running: let it go
      delete sheet;
    }
    PinnedLook::TearDown();
  }
  FreeUpSpaceSheet* open() { return sheet = openSheet<FreeUpSpaceSheet>(host); }
  void key(int k, QWidget* to = nullptr) { pressKey(to ? to : static_cast<QWidget*>(sheet), k); }
  // Open at the verify stage, the survey still running.
  FreeUpState openVerifying() {
    open();
    FreeUpState s;
    s.stage = FreeUpStage::verify;
    s.busy = true;
    host.publish(s);
    return s;
  }
  FreeUpState releaseStage(std::size_t verified) {
    FreeUpState s;
    s.stage = FreeUpStage::release;
    s.plan = verifiedPlan(verified);
    s.checked = std::int64_t(verified);
    return s;
  }

  FakeFreeUpHost host;
  QPointer<FreeUpSpaceSheet> sheet;
};

TEST_F(FreeUpSheetTest, OpensAtChooseWithTheFirstAccountAndItsFirstFolder) {
  host.accountList[0].folders = {"Archive/2019", "INBOX"};
  open();
  EXPECT_EQ(sheet->accountID(), std::optional<UUID>(host.accountList[0].id));
  EXPECT_EQ(sheet->mailbox(), "Archive/2019");
  EXPECT_EQ(sheet->header()->title(), "Choose what to release");
  EXPECT_EQ(sheet->stepRail()->index(), 0);
  EXPECT_EQ(sheet->leadingButton()->text(), "Cancel");
  EXPECT_EQ(sheet->trailingButton()->text(), "Verify Copies");
  EXPECT_EQ(sheet->preset(), 1);
}

TEST_F(FreeUpSheetTest, WithoutAccountsTheFolderIsInboxAndVerifyIsDisabled) {
  host.accountList.clear();
  open();
  EXPECT_FALSE(sheet->accountID());
  EXPECT_EQ(sheet->mailbox(), "INBOX");
  EXPECT_FALSE(sheet->trailingButton()->isEnabled());
  key(Qt::Key_Return);
  EXPECT_TRUE(host.calls.isEmpty());
}

TEST_F(FreeUpSheetTest, PresetsAndPickedDatesMoveTheCutOff) {
  open();
  const auto now = std::chrono::system_clock::now();
  QTest::mouseClick(sheet->presetButton(2), Qt::LeftButton);
  EXPECT_EQ(sheet->preset(), 2);
  EXPECT_EQ(sheet->presetButton(2)->buttonStyle().kind, VaultButtonStyle::Kind::Primary);
  EXPECT_EQ(sheet->presetButton(1)->buttonStyle().kind, VaultButtonStyle::Kind::Secondary);
  const QDateTime want = QDateTime::fromSecsSinceEpoch(secondsSince1970(now)).addYears(-2);
  EXPECT_NEAR(double(secondsSince1970(sheet->before())), double(want.toSecsSinceEpoch()), 5);

  sheet->datePicker()->setDate(sheet->datePicker()->date().addDays(-3));  // a day picked by hand
  EXPECT_EQ(sheet->preset(), 0);
  for (int y : {1, 2, 5}) EXPECT_EQ(sheet->presetButton(y)->buttonStyle().kind, VaultButtonStyle::Kind::Secondary);
}

TEST_F(FreeUpSheetTest, TwoAccountsWithOneLabelAreToldApartAndPickingResetsTheFolder) {
  host.accountList = {account("Work", "alice", "custom", {"INBOX", "Sent"}),
                      account("Work", "bob", "gmail", {"[Gmail]/All Mail"})};
  open();
  ASSERT_EQ(sheet->accountPicker()->count(), 2);
  EXPECT_NE(sheet->accountPicker()->itemText(0), sheet->accountPicker()->itemText(1));
  EXPECT_TRUE(sheet->accountPicker()->itemText(1).contains("bob"));
  EXPECT_FALSE(sheet->gmailNote()->isVisibleTo(sheet));

  sheet->accountPicker()->setCurrentIndex(1);
  emit sheet->accountPicker()->activated(1);
  EXPECT_EQ(sheet->mailbox(), "[Gmail]/All Mail");
  EXPECT_TRUE(sheet->gmailNote()->isVisibleTo(sheet));

  key(Qt::Key_Return);
  ASSERT_EQ(host.calls, QStringList{"check"});
  EXPECT_EQ(host.lastAccount->username, "bob");
  EXPECT_EQ(host.lastMailbox, "[Gmail]/All Mail");
}

TEST_F(FreeUpSheetTest, ErrorsShowWithTheirAdviceAndNothingWasDeleted) {
  open();
  FreeUpState s;
  s.error = FriendlyError::Message{"No saved password for Work", "Remove the account and add it again."};
  host.publish(s);
  ASSERT_TRUE(sheet->chooseErrorNote()->isVisibleTo(sheet));
  EXPECT_EQ(sheet->chooseErrorNote()->text(), "Remove the account and add it again. Nothing was deleted.");

  s.stage = FreeUpStage::verify;
  host.publish(s);
  EXPECT_TRUE(sheet->verifyErrorNote()->isVisibleTo(sheet));
  EXPECT_FALSE(sheet->waitingLine()->isVisibleTo(sheet));
  EXPECT_EQ(sheet->leadingButton()->text(), "Back");
}

TEST_F(FreeUpSheetTest, VerifyStageTalliesAndGatesContinue) {
  FreeUpState s = openVerifying();
  EXPECT_TRUE(sheet->waitingLine()->isVisibleTo(sheet));
  EXPECT_TRUE(sheet->waitingText().startsWith("Asking imap.example.org which messages are older than "));
  EXPECT_EQ(sheet->leadingButton()->text(), "Stop");

  // 1,234 items, one kept; continue only once all are checked.
  s.plan = makePlan(1234, [](std::size_t i) {
    return i == 7 ? CleanupItem::Status::notBackedUp() : CleanupItem::Status::verified();
  });
  s.checked = 1000;
  host.publish(s);
  EXPECT_EQ(sheet->tallyText(), QString::fromUtf8("1,000 of 1,234 checked \u00B7 1,233 verified \u00B7 1 kept"));
  EXPECT_FALSE(sheet->trailingButton()->isEnabled());
  s.checked = 1234;
  s.busy = false;
  host.publish(s);
  EXPECT_TRUE(sheet->trailingButton()->isEnabled());
  EXPECT_EQ(sheet->leadingButton()->text(), "Back");

  // A folder that cannot be released safely stops here.
  s.plan->serverSupportsUIDPlus = false;
  s.plan->otherDeletedOnServer = 1234;
  host.publish(s);
  EXPECT_FALSE(sheet->trailingButton()->isEnabled());
  ASSERT_TRUE(sheet->unsafeNote()->isVisibleTo(sheet));
  EXPECT_TRUE(sheet->unsafeNote()->text().contains("lacks UIDPLUS and 1234 other message(s)"));
}

TEST_F(FreeUpSheetTest, ConfirmationMatchesOnlyThePlainPhrase) {
  open();
  host.publish(releaseStage(1234));
  QLineEdit* field = sheet->confirmationField();
  ASSERT_TRUE(field->isVisibleTo(sheet));
  EXPECT_EQ(field->placeholderText(), "RELEASE 1234");
  EXPECT_EQ(sheet->trailingButton()->text(), "Release 1,234 from Server");

  const struct {
    QString typed;
    bool match;
  } cases[] = {
      {" release 1234 ", true},
      {"\tRelease 1234\t", true},
      {"RELEASE 1234", true},
      {QString::fromUtf8("\u00A0RELEASE 1234\u3000"), true},  // other space separators trim too
      {"RELEASE 1,234", false},
      {"RELEASE 1233", false},
      {"RELEASE 01234", false},
      {"RELEASE  1234", false},
      {"RELEASE1234", false},
      {QString::fromUtf8("RELEASE \uFF11\uFF12\uFF13\uFF14"), false},  // full-width digits
      {"RELEASE 1234.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    field->clear();
    field->setFocus();
    // Tabs (they move the focus) and what the test keyboard lacks: pasted.
    const bool paste = std::any_of(c.typed.begin(), c.typed.end(), [](QChar ch) { return ch == u'\t' || ch.unicode() > 126; });
    if (paste)
      field->insert(c.typed);
    else
      QTest::keyClicks(field, c.typed);
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet->confirmation(), c.typed);
    EXPECT_EQ(sheet->matches(), c.match);
    EXPECT_EQ(sheet->checkMark() != nullptr, c.match);
    EXPECT_EQ(sheet->trailingButton()->isEnabled(), c.match);
    // Neither key starts a release, from the field or from the button.
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
    sheet->trailingButton()->setFocus();
    QTest::keyClick(sheet->trailingButton(), Qt::Key_Return);
    QTest::keyClick(sheet->trailingButton(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(host.calls.contains("run"));
  }
  QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  EXPECT_FALSE(host.calls.contains("run"));  // the last text does not match

  field->clear();
  QTest::keyClicks(field, "release 1234");
  QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  EXPECT_EQ(host.calls.count("run"), 1);
}

TEST_F(FreeUpSheetTest, ReleaseSummaryAndProgress) {
  open();
  FreeUpState s = releaseStage(3);
  s.plan->items[2].status = CleanupItem::Status::sizeMismatch(900, 1000);
  host.publish(s);
  EXPECT_EQ(sheet->summaryRow(0)->value(), "2");
  EXPECT_EQ(sheet->summaryRow(1)->value(), "2 KB");
  EXPECT_EQ(sheet->summaryRow(2)->value(), QString::fromUtf8("Work \u203A INBOX"));
  EXPECT_EQ(sheet->summaryRow(4)->value(), "1");
  EXPECT_EQ(sheet->summaryRow(4)->valueColor(), Theme::caution);
  EXPECT_EQ(sheet->summaryRow(5)->value(), "all 2 stay");

  s.busy = true;
  s.released = std::pair<std::int64_t, std::int64_t>(1, 2);
  host.publish(s);
  EXPECT_FALSE(sheet->confirmBox()->isVisibleTo(sheet));
  EXPECT_EQ(sheet->releaseProgressText(), QString::fromUtf8("Releasing\u2026 1 / 2"));
  EXPECT_EQ(sheet->trailingButton(), nullptr);  // hidden while a run without error has progress
  EXPECT_EQ(sheet->leadingButton()->text(), "Stop");

  s.busy = false;
  s.error = FriendlyError::Message{"Stopped", "1 of 2 messages were released."};
  host.publish(s);
  EXPECT_EQ(sheet->releaseProgressText(), "Released 1 / 2");
  ASSERT_NE(sheet->trailingButton(), nullptr);
  EXPECT_FALSE(sheet->trailingButton()->isEnabled());
  EXPECT_EQ(sheet->leadingButton()->text(), "Back");
  EXPECT_TRUE(sheet->leadingButton()->toolTip().isEmpty());
  EXPECT_TRUE(sheet->releaseErrorNote()->isVisibleTo(sheet));
}

TEST_F(FreeUpSheetTest, EscapePressesTheLeadingButtonOfEachStage) {
  FreeUpState s = openVerifying();
  key(Qt::Key_Escape);
  EXPECT_EQ(host.calls, QStringList{"cancel"});
  EXPECT_TRUE(sheet->isVisible());

  s.busy = false;
  host.publish(s);
  host.calls.clear();
  key(Qt::Key_Escape);
  EXPECT_EQ(host.calls, QStringList{"reset"});

  s = releaseStage(2);
  host.publish(s);
  host.calls.clear();
  key(Qt::Key_Escape);
  EXPECT_EQ(host.calls, QStringList{"stage 1"});  // Back to verify
  EXPECT_EQ(sheet->header()->title(), "Verifying every copy");

  key(Qt::Key_Return);  // Continue to Release
  EXPECT_EQ(host.calls.last(), "stage 2");

  s = releaseStage(2);
  s.stage = FreeUpStage::done;
  s.result = "2 messages";
  host.publish(s);
  EXPECT_EQ(sheet->stepRail()->index(), 3);
  EXPECT_EQ(sheet->leadingButton(), nullptr);
  host.calls.clear();
  key(Qt::Key_Escape);
  EXPECT_FALSE(sheet);  // closed (and deleted)
  EXPECT_EQ(host.calls, QStringList{"reset"});
}

TEST_F(FreeUpSheetTest, CancelAndReturnAtChoose) {
  open();
  key(Qt::Key_Return);
  EXPECT_EQ(host.calls, QStringList{"check"});
  EXPECT_EQ(host.lastAccount->label, "Work");
  host.calls.clear();
  key(Qt::Key_Escape);
  EXPECT_FALSE(sheet);
  EXPECT_EQ(host.calls, QStringList{"reset"});
}

TEST_F(FreeUpSheetTest, TheSheetStaysWhileAReleaseRunsAndEscapeStopsIt) {
  open();
  FreeUpState s = releaseStage(5);
  s.busy = true;
  s.released = std::pair<std::int64_t, std::int64_t>(0, 5);
  host.publish(s);
  host.calls.clear();

  sheet->close();
  QCoreApplication::processEvents();
  ASSERT_TRUE(sheet);
  EXPECT_TRUE(sheet->isVisible());
  sheet->reject();
  EXPECT_TRUE(sheet->isVisible());
  key(Qt::Key_Escape);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(host.calls, QStringList{"cancel"});  // never "reset" while it runs

  // The run ends: its outcome shows, then the sheet may close.
  s.busy = false;
  s.released = std::pair<std::int64_t, std::int64_t>(2, 5);
  s.error = FriendlyError::Message{"Stopped", "2 of 5 released."};
  host.publish(s);
  EXPECT_EQ(sheet->releaseProgressText(), "Released 2 / 5");
  sheet->close();
  QCoreApplication::processEvents();
  EXPECT_FALSE(sheet);
  EXPECT_EQ(host.calls.last(), "reset");
}

TEST_F(FreeUpSheetTest, TheReleaseGoesToThePlansAccountOrNowhere) {
  open();
  const MailAccount work = host.accountList[0];
  key(Qt::Key_Return);  // Verify Copies for Work
  ASSERT_EQ(sheet->planAccountID(), std::optional<UUID>(work.id));
  host.publish(releaseStage(3));

  // Work is removed in another window; the sheet's account falls back.
  host.setAccounts({host.accountList[1]});
  EXPECT_EQ(sheet->account()->label, "Home");
  EXPECT_EQ(sheet->summaryRow(2)->value(), QString::fromUtf8(" \u203A INBOX"));
  ASSERT_TRUE(sheet->accountGoneNote()->isVisibleTo(sheet));
  sheet->setConfirmation("RELEASE 3");
  EXPECT_FALSE(sheet->trailingButton()->isEnabled());
  QTest::mouseClick(sheet->trailingButton(), Qt::LeftButton);
  EXPECT_FALSE(host.calls.contains("run"));
}

TEST_F(FreeUpSheetTest, DoneCountsWhatStayedOnTheServer) {
  open();
  FreeUpState s = releaseStage(4);
  s.stage = FreeUpStage::done;
  s.result = "3 messages · 3 KB released from Work › INBOX. Your verified copies stay in the vault.";
  host.publish(s);
  EXPECT_EQ(sheet->header()->subtitle(), QString::fromStdString(*s.result));
  EXPECT_EQ(sheet->doneText(), QString::fromStdString(*s.result));
  EXPECT_TRUE(sheet->doneKeptText().isEmpty());

  // One verified copy changed before the release and stayed.
  s.releasedUIDs = std::vector<std::uint32_t>{101, 102, 104};
  host.publish(s);
  EXPECT_EQ(sheet->doneKeptText(),
            QString::fromUtf8("1 message was kept on the server because its copy couldn\u2019t be verified."));
  s.releasedUIDs = std::vector<std::uint32_t>{101};
  host.publish(s);
  EXPECT_EQ(sheet->doneKeptText(),
            QString::fromUtf8("3 messages were kept on the server because their copies couldn\u2019t be verified."));

  s.result.reset();
  host.publish(s);
  EXPECT_EQ(sheet->doneText(), "Done");
  EXPECT_EQ(sheet->header()->subtitle(), QString(""));
}

TEST_F(FreeUpSheetTest, DoneTellsOfDeletionMarksAnInterruptedReleaseLeft) {
  open();
  FreeUpState s = releaseStage(4);
  s.stage = FreeUpStage::done;
  s.result = "4 messages · 4 KB released from Work › INBOX. Your verified copies stay in the vault.";
  host.publish(s);
  EXPECT_TRUE(sheet->doneLeftoversText().isEmpty());

  s.leftoversUnflagged = 1;
  host.publish(s);
  EXPECT_EQ(sheet->doneLeftoversText(),
            "Cleared the deletion mark an interrupted release left on 1 message; it stays on the server.");
  s.leftoversUnflagged = 1234;
  host.publish(s);
  EXPECT_EQ(sheet->doneLeftoversText(),
            "Cleared the deletion marks an interrupted release left on 1,234 messages; they stay on the server.");
  EXPECT_EQ(sheet->doneText(), QString::fromStdString(*s.result));

  s.leftoversUnflagged = 0;
  host.publish(s);
  EXPECT_TRUE(sheet->doneLeftoversText().isEmpty());
}

TEST(FreeUpTextTest, TildePathReplacesOnlyALeadingHome) {
  const struct {
    const char* path;
    const char* home;
    const char* shown;
  } cases[] = {
      {"/u/alice/Vault", "/u/al", "/u/alice/Vault"},
      {"/u/al/Vault", "/u/al", "~/Vault"},
      {"/u/al", "/u/al/", "~"},
      {"/srv/u/al/Vault", "/u/al", "/srv/u/al/Vault"},
      {"/u/al/x/u/al/y", "/u/al", "~/x/u/al/y"},
      {"/Vault", "/", "/Vault"},
  };
  for (const auto& c : cases) EXPECT_EQ(FreeUpText::tildePath(c.path, c.home), c.shown) << c.path;
}

TEST(FreeUpTextTest, CountsAndSizes) {
  EXPECT_EQ(FreeUpText::grouped(1234), "1,234");
  EXPECT_EQ(FreeUpText::phrase(1234), "RELEASE 1234");
  EXPECT_FALSE(FreeUpText::matches("RELEASE 12\n", "RELEASE 12"));  // line breaks are not trimmed
}

}  // namespace
}  // namespace bx::test
