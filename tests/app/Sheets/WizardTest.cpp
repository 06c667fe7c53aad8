#include "Sheets/ProviderCard.h"
#include "Sheets/SheetHeader.h"
#include "Sheets/SheetTransitions.h"
#include "Views/StepRail.h"
#include "WizardSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>

#include <algorithm>

using namespace bx;
using namespace bx::test;
using Step = AddAccountSheet::Step;

namespace {

class AddAccountWizard : public WizardTest {
protected:
  // Puts the sheet on the folder step with `list` as if a test had listed it.
  void stageFolders(std::vector<IMAPMailbox> list, const QString& preset = "custom") {
    sheet->close();
    AddAccountSheet::snapshotPreset = WizardTest::preset(preset);
    AddAccountSheet::snapshotStartStep = Step::Folders;
    AddAccountSheet::snapshotMailboxes = std::move(list);
    sheet = new AddAccountSheet(&store, mainWindow());
    sheet->show();
  }
};

IMAPMailbox box(const std::string& name, std::vector<std::string> attributes = {}) {
  return IMAPMailbox(name, name, "/", std::move(attributes));
}

} // namespace

TEST_F(AddAccountWizard, KeysAndFooterThroughTheSteps) {
  EXPECT_EQ(sheet->size(), QSize(720, 560));
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->step(), Step::Provider);
  EXPECT_EQ(sheet->preset(), ProviderPreset::all().front());
  sheet->choose(preset("gmail"));
  sheet->backButton()->click();
  EXPECT_FALSE(sheet->backButton()->isVisible());
  EXPECT_EQ(sheet->forwardButton()->text(), "Continue");
  EXPECT_EQ(sheet->header()->subtitle(), AddAccountSheet::stepSubtitle(Step::Provider));

  key(Qt::Key_Return);  // Continue with the current preset
  EXPECT_EQ(sheet->step(), Step::Credentials);
  EXPECT_TRUE(sheet->forward());
  EXPECT_EQ(sheet->stepRail()->index(), 1);
  EXPECT_TRUE(sheet->backButton()->isVisible());
  EXPECT_EQ(sheet->forwardButton()->text(), "Connect");
  EXPECT_EQ(sheet->host(), "imap.gmail.test");
  EXPECT_EQ(sheet->passwordField()->placeholderText(), "xxxx xxxx xxxx xxxx");
  EXPECT_EQ(sheet->passwordField()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(sheet->hostField(), nullptr) << "a preset's server is not editable";

  // Connect needs a user name and a password; spaces count as filled.
  EXPECT_FALSE(sheet->forwardButton()->isEnabled());
  key(Qt::Key_Return);
  EXPECT_FALSE(sheet->busy()) << "Return does nothing while Connect is disabled";
  type(sheet->usernameField(), "   ");
  type(sheet->passwordField(), "p");
  EXPECT_TRUE(sheet->forwardButton()->isEnabled());

  // Back keeps what was typed; another provider refills only the server.
  sheet->backButton()->click();
  EXPECT_EQ(sheet->step(), Step::Provider);
  EXPECT_FALSE(sheet->forward());
  sheet->choose(ProviderPreset::named("custom"));
  EXPECT_EQ(sheet->username(), "   ");
  EXPECT_EQ(sheet->password(), "p");
  EXPECT_EQ(sheet->host(), "");
  EXPECT_EQ(sheet->passwordField()->placeholderText(), "App-specific password");
  EXPECT_FALSE(sheet->forwardButton()->isEnabled()) << "custom needs a server";
  type(sheet->hostField(), "127.0.0.1");
  EXPECT_TRUE(sheet->plaintextToggle()->isVisible());
  type(sheet->hostField(), " 127.0.0.1");
  EXPECT_FALSE(sheet->plaintextToggle()->isVisible());
  EXPECT_TRUE(sheet->forwardButton()->isEnabled());

  // go() to the step on screen only turns the direction back.
  sheet->go(Step::Credentials);
  EXPECT_FALSE(sheet->forward());

  QPointer<AddAccountSheet> watched = sheet;
  key(Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull()) << "Escape cancels and the sheet is deleted";
  EXPECT_TRUE(store.list.empty());
}

// Every provider tile can be reached with Tab and chosen with Space or
// Return, not only the first one through "Continue".
TEST_F(AddAccountWizard, ProviderTilesAreChosenFromTheKeyboard) {
  const auto presets = ProviderPreset::all();
  for (int target : {2, 4}) {
    SCOPED_TRACE(target);
    for (Qt::Key press : {Qt::Key_Space, Qt::Key_Return}) {
      sheet->go(Step::Provider);
      QCoreApplication::processEvents();
      QList<ProviderCard*> tiles = sheet->findChildren<ProviderCard*>();
      tiles.erase(std::remove_if(tiles.begin(), tiles.end(), [](ProviderCard* c) { return !c->isVisible(); }),
                  tiles.end());
      ASSERT_EQ(tiles.size(), qsizetype(presets.size()));
      sheet->activateWindow();
      tiles[0]->setFocus(Qt::TabFocusReason);
      for (int i = 0; i < target; ++i) key(Qt::Key_Tab);
      ASSERT_TRUE(sheet->focusWidget() && qobject_cast<ProviderCard*>(sheet->focusWidget()));
      const ProviderPreset chosen = qobject_cast<ProviderCard*>(sheet->focusWidget())->preset();
      EXPECT_EQ(chosen, presets[size_t(target)]);
      EXPECT_TRUE(qobject_cast<ProviderCard*>(sheet->focusWidget())->isHovered()) << "focus shows";
      key(press);
      EXPECT_EQ(sheet->step(), Step::Credentials);
      EXPECT_EQ(sheet->preset(), chosen);
    }
  }
}

TEST_F(AddAccountWizard, FolderStepShowsNamesLiterallyAndCounts) {
  stageFolders({box("INBOX", {"\\HasNoChildren"}), box("R&D <b>x</b>"), box("Sent", {"\\Sent"}),
                box("Parent", {"\\Noselect"})});
  ASSERT_EQ(sheet->step(), Step::Folders);
  const auto toggles = sheet->folderToggles();
  ASSERT_EQ(toggles.size(), 3) << "only selectable folders get a row";
  EXPECT_EQ(toggles[1]->text(), "R&&D <b>x</b>");
  EXPECT_TRUE(toggles[1]->shortcut().isEmpty()) << "no mnemonic from a server's folder name";
  EXPECT_EQ(sheet->chosen(), (std::set<std::string>{"INBOX", "R&D <b>x</b>"}));
  EXPECT_EQ(sheet->folderCountLine()->text(), "2 of 3 folders");

  // Alt+D must not toggle the folder.
  QTest::keyClick(sheet, Qt::Key_D, Qt::AltModifier);
  EXPECT_TRUE(toggles[1]->isChecked());

  for (auto* t : toggles) t->setChecked(false);
  EXPECT_EQ(sheet->folderCountLine()->text(), "0 of 3 folders");
  EXPECT_FALSE(sheet->forwardButton()->isEnabled());
  key(Qt::Key_Return);
  EXPECT_TRUE(store.list.empty());
  toggles[2]->setChecked(true);
  toggles[0]->setChecked(true);
  EXPECT_TRUE(sheet->forwardButton()->isEnabled());

  key(Qt::Key_Return);
  ASSERT_EQ(store.list.size(), 1u);
  const MailAccount& saved = store.list[0];
  EXPECT_EQ(saved.folders, (std::vector<std::string>{"INBOX", "Sent"})) << "list order, not ticking order";
  EXPECT_EQ(saved.knownFolders.size(), 4u) << "every listed folder is remembered";
  EXPECT_EQ(saved.label, "you@example.com") << "a blank name falls back to the address";
  EXPECT_EQ(saved.provider, "custom");
  ASSERT_EQ(store.backups.size(), 1u);
}

TEST_F(AddAccountWizard, FailedSaveReturnsToCredentialsWithTheReason) {
  struct Case {
    AccountSaveError::Part part;
    const char* title;
  };
  for (const Case c : {Case{AccountSaveError::Part::Password, "Couldn’t save the password"},
                       Case{AccountSaveError::Part::Accounts, "Couldn’t save the account"}}) {
    SCOPED_TRACE(c.title);
    stageFolders({box("INBOX")});
    store.failAdd = AccountSaveError(c.part, "No space left on device");
    key(Qt::Key_Return);
    ASSERT_FALSE(sheet.isNull());
    EXPECT_EQ(sheet->step(), Step::Credentials);
    ASSERT_TRUE(sheet->error().has_value());
    EXPECT_EQ(sheet->error()->title, c.title);
    EXPECT_EQ(sheet->error()->advice, "No space left on device");
    ASSERT_NE(sheet->errorNote(), nullptr);
    EXPECT_TRUE(sheet->errorNote()->isVisible());
    EXPECT_TRUE(store.backups.empty());
    EXPECT_EQ(sheet->mailboxes().size(), 1u) << "the folder choice stays";
  }
}

TEST_F(AddAccountWizard, TheErrorNoteRisesAsItFadesInOrOnlyFadesUnderReduceMotion) {
  Motion::setInstant(false);
  for (const bool reduce : {false, true}) {
    SCOPED_TRACE(reduce);
    ReduceMotion::shared().setOverride(reduce);
    stageFolders({box("INBOX")});
    store.failAdd = AccountSaveError(AccountSaveError::Part::Accounts, "No space left on device");
    key(Qt::Key_Return);
    ASSERT_FALSE(sheet.isNull());
    ASSERT_NE(sheet->errorNote(), nullptr);
    auto* fx = qobject_cast<TransitionEffect*>(sheet->errorNote()->graphicsEffect());
    ASSERT_NE(fx, nullptr);
    EXPECT_EQ(fx->transition().dy, reduce ? 0 : 8);
    EXPECT_EQ(fx->transition().scale, 1);
    EXPECT_LT(fx->shown(), 0.5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet->errorNote()->graphicsEffect(); }, 3000));
    EXPECT_TRUE(sheet->errorNote()->isVisible());
  }
}

TEST_F(AddAccountWizard, StagingForScreenshots) {
  AddAccountSheet::snapshotPreset = preset("gmail");
  sheet->close();
  sheet = new AddAccountSheet(&store, mainWindow());
  sheet->show();
  EXPECT_EQ(sheet->step(), Step::Provider) << "without a start step nothing is staged";

  stageFolders({box("Only")});
  EXPECT_EQ(sheet->chosen(), std::set<std::string>{"Only"});
  stageFolders({});
  EXPECT_TRUE(sheet->chosen().empty());

  sheet->close();
  AddAccountSheet::snapshotStartStep = Step::Credentials;
  AddAccountSheet::snapshotMailboxes.reset();
  AddAccountSheet::snapshotError = "[AUTHENTICATIONFAILED] Invalid credentials";
  sheet = new AddAccountSheet(&store, mainWindow());
  sheet->show();
  EXPECT_EQ(sheet->step(), Step::Credentials);
  ASSERT_TRUE(sheet->error().has_value());
  EXPECT_EQ(sheet->error()->title, "The password wasn’t accepted");
  ASSERT_NE(sheet->errorNote(), nullptr);
}

// The first step is built before the sheet has laid itself out; it must still
// fill the area once shown, follow later resizes, and so must later steps.
TEST_F(AddAccountWizard, StepsFillTheAreaAndFollowItsSize) {
  auto fills = [&](const char* when) {
    QWidget* page = sheet->stepView();
    ASSERT_NE(page, nullptr) << when;
    QWidget* area = page->parentWidget();
    ASSERT_NE(area, nullptr) << when;
    EXPECT_GT(area->width(), 300) << when;
    EXPECT_GT(area->height(), 200) << when;
    EXPECT_EQ(page->geometry(), QRect(QPoint(0, 0), area->size())) << when;
  };
  fills("first shown");
  const auto tiles = sheet->stepView()->findChildren<QAbstractButton*>();
  ASSERT_FALSE(tiles.isEmpty());
  for (auto* tile : tiles) {
    if (!tile->isVisible()) continue;
    EXPECT_TRUE(sheet->stepView()->rect().contains(tile->geometry().topLeft())) << tile->text().toStdString();
  }

  QWidget* area = sheet->stepView()->parentWidget();
  area->resize(area->width() - 40, area->height() - 30);
  QApplication::processEvents();
  fills("after a resize");

  sheet->choose(preset("gmail"));
  QApplication::processEvents();
  fills("next step");
}
