#include "AppTestSupport.h"
#include "Platform/Appearance.h"
#include "Browser/VaultStatus.h"
#include "Sheets/SettingsView.h"
#include "Shell/AppPalette.h"
#include "TestSheetStore.h"
#include "Views/TextBlock.h"

#include <QCheckBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace bx;
using namespace bx::test;

namespace {

class SettingsTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config_.path());
    QSettings().clear();
    main_ = std::make_unique<QWidget>();
    main_->setObjectName("main");
    main_->setWindowTitle("Brindlebox");
    main_->show();
  }
  void TearDown() override {
    view_.reset();
    window_.reset();
    main_.reset();
    PinnedLook::TearDown();
  }

  SettingsView& open() {
    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle("Settings");
    auto* l = new QVBoxLayout(window_.get());
    l->setContentsMargins(0, 0, 0, 0);
    auto* v = new SettingsView(&store, window_.get());
    l->addWidget(v);
    window_->show();
    return *v;
  }

  MailAccount account(const std::string& label, std::vector<IMAPMailbox> known, std::vector<std::string> folders) {
    MailAccount a(UUID::random(), label, label + "@example.com", IMAPServer("imap.example.com", 993, false), "custom",
                  std::move(folders), std::move(known));
    store.list.push_back(a);
    store.passwords[a.id.string()] = "pw";
    return a;
  }

  static QList<QCheckBox*> folderToggles(SettingsView& v) {
    QList<QCheckBox*> out;
    for (auto* w : v.accountsPage()->findChildren<QWidget*>("folderToggles"))
      if (w->isVisibleTo(v.accountsPage()) || true) out += w->findChildren<QCheckBox*>();
    return out;
  }

  QWidget* mainWindow() { return main_.get(); }

  TestSheetStore store;

private:
  QTemporaryDir config_;
  std::unique_ptr<QWidget> main_;
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<SettingsView> view_;
};

IMAPMailbox box(const std::string& name, std::vector<std::string> attributes = {}) {
  return IMAPMailbox(name, name, "/", std::move(attributes));
}

} // namespace

TEST_F(SettingsTest, TabsAndScheduleKeysWrittenOnlyByTheUser) {
  SettingsView& v = open();
  EXPECT_EQ(v.size(), QSize(580, 540));
  ASSERT_EQ(v.tabs()->count(), 4);
  EXPECT_EQ(v.tabs()->tabText(0), "General");
  EXPECT_EQ(v.tabs()->tabText(1), "Accounts");
  EXPECT_EQ(v.tabs()->tabText(2), "About");
  EXPECT_EQ(v.tabs()->tabText(3), "Updates");
  EXPECT_EQ(v.tabs()->currentIndex(), 0);
  EXPECT_TRUE(QSettings().allKeys().isEmpty()) << "opening writes nothing";

  EXPECT_FALSE(v.scheduleToggle()->isChecked());
  EXPECT_FALSE(v.hourStepper()->isVisible());
  QTest::mouseClick(v.scheduleToggle(), Qt::LeftButton);
  EXPECT_TRUE(v.hourStepper()->isVisible());
  EXPECT_EQ(v.hourStepper()->label()->text(), "Every 6 hours");
  EXPECT_EQ(QSettings().value("scheduleEnabled").toBool(), true);
  EXPECT_FALSE(QSettings().contains("scheduleHours")) << "the hours stay unwritten until changed";

  for (int i = 0; i < 10; ++i) QTest::mouseClick(v.hourStepper()->downButton(), Qt::LeftButton);
  EXPECT_EQ(v.hourStepper()->label()->text(), "Every 1 hour");
  EXPECT_EQ(QSettings().value("scheduleHours").toInt(), 1);
  EXPECT_FALSE(v.hourStepper()->downButton()->isEnabled());
  for (int i = 0; i < 60; ++i) QTest::mouseClick(v.hourStepper()->upButton(), Qt::LeftButton);
  EXPECT_EQ(v.hourStepper()->value(), 48);
  EXPECT_EQ(QSettings().value("scheduleHours").toInt(), 48);

  QTest::mouseClick(v.scheduleToggle(), Qt::LeftButton);
  EXPECT_FALSE(v.hourStepper()->isVisible());
  EXPECT_EQ(QSettings().value("scheduleHours").toInt(), 48) << "turning off keeps the hours";

  // A new window reads what was stored.
  SettingsView& again = open();
  EXPECT_FALSE(again.scheduleToggle()->isChecked());
  EXPECT_EQ(again.hourStepper()->value(), 48);
}

// The backup strip re-reads the schedule only when told; what it reads at that
// moment must already be the new value.
// An unchecked box must stand out from its own fill in the dark as in the
// light ("Back up automatically" all but vanished).
TEST_F(SettingsTest, UncheckedBoxEdgeStandsOutInBothAppearances) {
  auto luminance = [](QColor c) {
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
  };
  const QPalette palette = QApplication::palette();
  for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    SCOPED_TRACE(scheme == ColorScheme::Dark ? "dark" : "light");
    Appearance::shared().setOverride(scheme);
    AppPalette::install();
    SettingsView& v = open();
    QCheckBox* box = v.scheduleToggle();
    ASSERT_FALSE(box->isChecked());
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    const QImage shot = box->grab().toImage();
    const QColor edge = shot.pixelColor(indicator.left(), indicator.center().y());
    const QColor fill = shot.pixelColor(indicator.center());
    const double a = luminance(edge), b = luminance(fill);
    EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 3.0) << edge.name().toStdString() << " on "
                                                                        << fill.name().toStdString();
  }
  QApplication::setPalette(palette);
}

TEST_F(SettingsTest, ScheduleWritesAnnounceThemselvesAfterWriting) {
  SettingsView& v = open();
  std::vector<std::pair<bool, std::optional<int>>> seen;
  const auto c = QObject::connect(&ScheduleSettings::shared(), &ScheduleSettings::changed, [&] {
    seen.emplace_back(ScheduleSettings::enabled(), ScheduleSettings::hours());
  });
  QTest::mouseClick(v.scheduleToggle(), Qt::LeftButton);
  QTest::mouseClick(v.hourStepper()->upButton(), Qt::LeftButton);
  QTest::mouseClick(v.scheduleToggle(), Qt::LeftButton);
  QObject::disconnect(c);
  const std::vector<std::pair<bool, std::optional<int>>> expected{
      {true, std::nullopt}, {true, v.hourStepper()->value()}, {false, v.hourStepper()->value()}};
  EXPECT_EQ(seen, expected);
}

TEST_F(SettingsTest, VaultLocationAndMove) {
  store.root = QDir::homePath() + "/Mail Vault";
  SettingsView& v = open();
  EXPECT_EQ(v.locationLine()->text(), "~/Mail Vault");
  EXPECT_EQ(v.contentsLine()->text(), "3 messages · 12 KB");
  EXPECT_EQ(v.showInFilesButton()->text(), "Show in Files");
  QTest::mouseClick(v.showInFilesButton(), Qt::LeftButton);
  EXPECT_EQ(store.openedInFiles, 1);

  // A long path stays on one line, elided in the middle.
  store.root = "/srv/" + QString(40, 'a') + "/" + QString(40, 'b') + "/" + QString(40, 'c') + "/end";
  emit store.vaultChanged();
  const QString shown = v.locationLine()->shownText();
  EXPECT_TRUE(shown.startsWith("/srv/")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("/end")) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026)));

  struct Case {
    std::optional<QString> refusal;
  };
  for (const Case c : {Case{std::nullopt}, Case{QString("A backup is still running.")}}) {
    store.refuseRoot = c.refusal;
    store.rootChanges.clear();
    QTest::mouseClick(v.moveVaultButton(), Qt::LeftButton);
    auto* chooser = v.window()->findChild<QFileDialog*>("moveVaultChooser");
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_EQ(chooser->labelText(QFileDialog::Accept), "Use Folder");
    EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
    emit chooser->fileSelected("/tmp/new vault");
    chooser->close();
    if (!c.refusal) {
      EXPECT_EQ(store.rootChanges, std::vector<QString>{"/tmp/new vault"});
      EXPECT_EQ(v.locationLine()->text(), "/tmp/new vault");
    } else {
      EXPECT_TRUE(store.rootChanges.empty());
      auto* box = v.window()->findChild<QMessageBox*>("moveVaultRefusal");
      ASSERT_NE(box, nullptr) << "the store's refusal is shown";
      EXPECT_EQ(box->informativeText().isEmpty() ? box->text() : box->informativeText(), *c.refusal);
      box->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(SettingsTest, FolderTogglesChangeOnlyFoldersOfTheCurrentAccount) {
  const MailAccount a = account("Work", {box("INBOX"), box("R&D <b>x</b>"), box("Parent", {"\\Noselect"})},
                                {"INBOX", "Gone"});
  SettingsView& v = open();
  v.tabs()->setCurrentIndex(1);
  auto* disclosure = v.accountsPage()->findChild<QToolButton*>("foldersDisclosure");
  ASSERT_NE(disclosure, nullptr);
  EXPECT_EQ(disclosure->text(), "Folders to back up (2)") << "a chosen folder no longer listed still counts";
  auto toggles = folderToggles(v);
  ASSERT_EQ(toggles.size(), 2) << "only selectable folders";
  EXPECT_FALSE(toggles[0]->isVisible()) << "closed at first";
  QTest::mouseClick(disclosure, Qt::LeftButton);
  EXPECT_TRUE(toggles[0]->isVisible());
  EXPECT_TRUE(toggles[0]->isChecked());
  EXPECT_EQ(toggles[1]->text(), "R&&D <b>x</b>");
  QTest::keyClick(v.window(), Qt::Key_D, Qt::AltModifier);
  EXPECT_FALSE(toggles[1]->isChecked()) << "no mnemonic from a folder name";
  EXPECT_EQ(store.updates, 0);

  // Written by a backup meanwhile, not yet redrawn here.
  store.list[0].lastBackup = dateFromSeconds(1'700'000'000);
  toggles[1]->setChecked(true);
  ASSERT_EQ(store.list.size(), 1u);
  EXPECT_EQ(store.list[0].folders, (std::vector<std::string>{"INBOX", "Gone", "R&D <b>x</b>"}));
  EXPECT_TRUE(store.list[0].lastBackup.has_value()) << "the toggle must not undo the backup's date";

  // Redrawn from the store, still open; turning one off removes every copy.
  toggles = folderToggles(v);
  ASSERT_EQ(toggles.size(), 2);
  EXPECT_TRUE(toggles[0]->isVisible()) << "the disclosure stays open across a redraw";
  toggles[0]->setChecked(false);
  EXPECT_EQ(store.list[0].folders, (std::vector<std::string>{"Gone", "R&D <b>x</b>"}));
  EXPECT_EQ(v.accountsPage()->findChild<QToolButton*>("foldersDisclosure")->text(), "Folders to back up (2)");
  (void)a;
}

TEST_F(SettingsTest, RemovingAnAccount) {
  const MailAccount a = account("Home", {box("INBOX")}, {"INBOX"});
  SettingsView& v = open();
  v.tabs()->setCurrentIndex(1);
  auto removeButton = [&] { return v.accountsPage()->findChild<QPushButton*>("removeAccount"); };

  // Cancel keeps account and password.
  QTest::mouseClick(removeButton(), Qt::LeftButton);
  ASSERT_NE(v.removalDialog(), nullptr);
  EXPECT_EQ(v.removalDialog()->text(), "Remove “Home” from Brindlebox?");
  EXPECT_EQ(v.removalDialog()->windowModality(), Qt::WindowModal);
  QTest::keyClick(v.removalDialog(), Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(store.list.size(), 1u);
  EXPECT_EQ(store.passwords.count(a.id.string()), 1u);

  // Work that starts while the dialog is open wins.
  QTest::mouseClick(removeButton(), Qt::LeftButton);
  ASSERT_NE(v.removalDialog(), nullptr);
  store.busy.insert(a.id);
  auto* confirm = v.removalDialog()->buttons().front();
  for (auto* b : v.removalDialog()->buttons())
    if (b->text() == "Remove Account") confirm = b;
  confirm->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(store.list.size(), 1u);

  // While it runs the button is off and says why.
  emit store.busyChanged();
  EXPECT_FALSE(removeButton()->isEnabled());
  EXPECT_FALSE(removeButton()->toolTip().isEmpty());

  store.busy.clear();
  emit store.busyChanged();
  ASSERT_TRUE(removeButton()->isEnabled());
  QTest::mouseClick(removeButton(), Qt::LeftButton);
  for (auto* b : v.removalDialog()->buttons())
    if (b->text() == "Remove Account") b->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(store.list.empty());
  EXPECT_TRUE(store.passwords.empty());
  EXPECT_EQ(v.accountsPage()->findChild<QPushButton*>("removeAccount"), nullptr);
  EXPECT_NE(v.accountsPage()->findChild<QPushButton*>("addAccount"), nullptr);
}

TEST_F(SettingsTest, ButtonsThatOpenSomethingInTheMainWindow) {
  SettingsView& v = open();
  struct Case {
    int tab;
    const char* button;
    int TestSheetStore::*flag;
  };
  for (const Case c : {Case{1, "addAccount", &TestSheetStore::showAddAccount},
                       Case{2, "showWelcome", &TestSheetStore::showWelcome}}) {
    SCOPED_TRACE(c.button);
    v.tabs()->setCurrentIndex(c.tab);
    v.window()->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), v.window());
    auto* button = v.findChild<QAbstractButton*>(c.button);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(store.*c.flag, 1);
    QTRY_COMPARE(QApplication::activeWindow(), mainWindow());
  }
}

TEST_F(SettingsTest, AboutVersion) {
  for (const QString version : {QString(), QString("2.3.1")}) {
    QCoreApplication::setApplicationVersion(version);
    SettingsView& v = open();
    auto* line = v.findChild<TextBlock*>("version");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), "Version " + (version.isEmpty() ? QString("1.0") : version));
  }
  QCoreApplication::setApplicationVersion(QString());
}
