#include "DemoMode/Snapshotter.h"

#include "DemoMode/DemoMode.h"
#include "DemoMode/DemoTyping.h"
#include "Engines/Cleaner.h"
#include "Engines/FriendlyError.h"
#include "Imap/IMAPError.h"
#include "Platform/Appearance.h"
#include "Sheets/AddAccountSheet.h"
#include "Shell/Onboarding.h"
#include "Store/AppStore.h"
#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "Store/ProviderPreset.h"
#include "Theme/Theme.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <functional>
#include <memory>

namespace bx {

namespace {

const MessageRecord* firstVisible(AppStore& store, const std::function<bool(const MessageRecord&)>& ok) {
  for (const MessageRecord* r : store.visible())
    if (ok(*r)) return r;
  return nullptr;
}

const MessageRecord* firstVisible(AppStore& store) {
  return store.visible().empty() ? nullptr : store.visible().front();
}

void setContentSize(QWidget* w, QSize size, bool centre) {
  w->resize(size);
  if (centre && w->screen()) {
    const QRect avail = w->screen()->availableGeometry();
    w->move(avail.center() - QPoint(w->width() / 2, w->height() / 2));
  }
}

// The end of either run: quit unless BRINDLEBOX_SNAPSHOT_KEEP is present.
void endRun() {
  if (!qEnvironmentVariableIsSet("BRINDLEBOX_SNAPSHOT_KEEP")) QCoreApplication::quit();
}

orrery::Task<> shootMain(QString name) {
  if (QWidget* w = Snapshotter::mainWindow()) {
    auto t = Snapshotter::capture(w, name);
    co_await t;
  }
}

} // namespace

orrery::Task<> Snapshotter::run() {
  AppStore* storePtr = AppStore::shared();
  if (!storePtr) co_return;
  AppStore& store = *storePtr;
  // Sheets opened from here on show the scripted phrase; once the script
  // ends (BRINDLEBOX_SNAPSHOT_KEEP) the app is an ordinary one again.
  DemoTyping::setScriptRunning(true);
  struct ModeEnd {
    ~ModeEnd() { DemoTyping::setScriptRunning(false); }
  } modeEnd;

  auto select = [&store](const MessageRecord* r) -> orrery::Task<> {
    store.setSelectedPath(r ? std::optional<QString>(QString::fromStdString(r->path)) : std::nullopt);
    auto t = pause(2.2);
    co_await t;
    // A busy machine can take longer to open a message; a shot of the reader
    // before it shows the message would be of the wrong one.
    const std::string path = r ? r->path : std::string();
    for (int i = 0; r && i < 100 && !(store.openMessage() && store.openMessage()->record.path == path); ++i) {
      auto more = pause(0.1);
      co_await more;
    }
  };
  auto sleep = [](double s) { return pause(s); };

  std::error_code ec;
  std::filesystem::create_directories(dir(), ec);
  Appearance::shared().setOverride(dark() ? ColorScheme::Dark : ColorScheme::Light);
  if (QWidget* w = mainWindow()) setContentSize(w, QSize(1360, 840), true);

  for (int i = 0; i < 120; ++i) {
    auto t = sleep(0.5);
    co_await t;
    if (!store.indexing() && (!store.records().empty() || store.accounts().empty())) break;
  }
  { auto t = sleep(1.5); co_await t; }

  for (int page = 0; page < 4; ++page) {
    OnboardingView::snapshotPage = page;
    store.setShowWelcome(true);
    { auto t = sleep(1.4); co_await t; }
    { auto t = shotSheet(QStringLiteral("00-welcome-%1").arg(page + 1)); co_await t; }
    store.setShowWelcome(false);
    { auto t = sleep(0.8); co_await t; }
  }
  OnboardingView::snapshotPage = std::nullopt;

  if (store.records().empty()) {
    { auto t = shootMain(QStringLiteral("01-empty-vault")); co_await t; }
    store.showToast(QStringLiteral("Imported 12 messages"), QStringLiteral("tray.and.arrow.down.fill"), Theme::seal);
    { auto t = sleep(0.8); co_await t; }
    { auto t = shootMain(QStringLiteral("02-empty-vault-toast")); co_await t; }
    { auto t = settingsShots(store); co_await t; }
    endRun();
    co_return;
  }

  // ---- Main-window scenes of the demo vault.
  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  { auto t = select(nullptr); co_await t; }
  { auto t = shootMain(QStringLiteral("01-no-selection")); co_await t; }

  {
    const MessageRecord* r = firstVisible(store, [](const MessageRecord& m) { return m.trackers >= 1 && m.remoteImages >= 1; });
    if (!r) r = firstVisible(store, [](const MessageRecord& m) { return m.trackers >= 1; });
    auto t = select(r);
    co_await t;
    auto s = shootMain(QStringLiteral("1-reader-newsletter"));
    co_await s;
  }

  if (store.groups().size() >= 7) {
    const MonthKey target = store.groups()[store.groups().size() * 3 / 5].key;
    store.scrub(target);
    store.timeline().setProbe(target);
    { auto t = sleep(1.6); co_await t; }
    const MessageRecord* first = nullptr;
    for (const MonthGroup& g : store.groups())
      if (g.key == target) {
        if (!g.records.empty()) first = g.records.front();
        break;
      }
    { auto t = select(first); co_await t; }
    { auto t = shootMain(QStringLiteral("2-spine-scrub-hover")); co_await t; }
    store.timeline().setProbe(std::nullopt);
  }

  {
    store.setSidebar(SidebarItem::makeSmart(SmartFilter::suspicious));
    store.refreshVisible();
    const MessageRecord* r =
        firstVisible(store, [](const MessageRecord& m) { return QString::fromStdString(m.subject).startsWith(QLatin1String("Action required")); });
    if (!r) r = firstVisible(store);
    { auto t = select(r); co_await t; }
    demoShowLinks();
    { auto t = sleep(0.8); co_await t; }
    { auto t = shootMain(QStringLiteral("3-reader-suspicious")); co_await t; }
  }

  store.setSidebar(SidebarItem::makeSmart(SmartFilter::attachments));
  store.refreshVisible();
  { auto t = select(firstVisible(store)); co_await t; }
  { auto t = shootMain(QStringLiteral("4-shelf-attachments")); co_await t; }

  store.setSidebar(SidebarItem::makeSmart(SmartFilter::large));
  store.refreshVisible();
  { auto t = sleep(1.2); co_await t; }
  { auto t = shootMain(QStringLiteral("4b-shelf-empty")); co_await t; }

  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  store.setQuery(QStringLiteral("invoice"));
  store.refreshVisible();
  { auto t = select(firstVisible(store)); co_await t; }
  { auto t = shootMain(QStringLiteral("5-search")); co_await t; }

  store.setQuery(QStringLiteral("zzqqxx"));
  store.refreshVisible();
  { auto t = sleep(1.2); co_await t; }
  { auto t = shootMain(QStringLiteral("5b-search-empty")); co_await t; }

  store.setQuery(QString());
  store.refreshVisible();
  {
    const QStringList names = store.archiveAccounts();
    if (!names.isEmpty()) {
      const QString account = names.size() >= 2 ? names[1] : names[0];
      store.setSidebar(SidebarItem::makeFolder(account, QStringLiteral("INBOX")));
      store.refreshVisible();
      const MessageRecord* r = store.visible().size() >= 2 ? store.visible()[1] : nullptr;
      { auto t = select(r); co_await t; }
      { auto t = shootMain(QStringLiteral("6-folder")); co_await t; }
    }
  }

  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  {
    const MessageRecord* r = firstVisible(
        store, [](const MessageRecord& m) { return m.attachments == 0 && m.trackers == 0 && !m.isSuspicious(); });
    { auto t = select(r); co_await t; }
    store.showToast(QString::fromUtf8("Saved \u201CInvoice\u201D to the sidebar"), QStringLiteral("magnifyingglass.circle.fill"),
                    Theme::seal);
    { auto t = sleep(0.9); co_await t; }
    { auto t = shootMain(QStringLiteral("7-plain-toast")); co_await t; }
  }

  // ---- Backup, sheet, free-up and settings scenes.
  const auto& accounts = store.accounts();
  store.clearToast();
  {
    BackupStatus b;
    b.running = true;
    b.accountIndex = 0;
    b.accountCount = accounts.empty() ? 1 : int(accounts.size());
    b.progress.account = accounts.empty() ? std::string("Personal") : accounts.front().label;
    if (!accounts.empty()) b.accountID = accounts.front().id;
    b.progress.folder = "INBOX";
    b.progress.phase = "Downloading";
    b.progress.messagesDone = 1284;
    b.progress.messagesTotal = 3912;
    b.progress.bytesDone = 182000000;
    b.progress.bytesTotal = 611000000;
    b.progress.mailbox = "INBOX";
    store.setBackup(b);
    if (!accounts.empty()) {
      const MailAccount& a = accounts.front();
      QMap<QString, LedgerLine> ledger = store.ledger();
      for (size_t i = 1; i < a.folders.size(); ++i)
        ledger[BackupRules::ledgerKey(a, a.folders[i])] = LedgerLine{false, 0, 0, true, 3};
      ledger[BackupRules::ledgerKey(a, "INBOX")] = LedgerLine{true, 1284, 3912, false, 0};
      store.setLedger(ledger);
    }
  }
  { auto t = sleep(1.0); co_await t; }
  { auto t = shootMain(QStringLiteral("8-sidebar-progress")); co_await t; }

  store.setShowBackupActivity(true);
  { auto t = sleep(1.5); co_await t; }
  { auto t = shotSheet(QStringLiteral("9-ledger-running")); co_await t; }

  store.setShowBackupActivity(false);
  {
    BackupStatus b;
    b.lastMessage = QStringLiteral("38 new messages saved");
    b.lastFinished = std::chrono::system_clock::now() - std::chrono::seconds(90);
    store.setBackup(b);
    store.setLedger({});
    if (!store.accounts().empty()) {
      const auto message = FriendlyError::describe(
          IMAPError::commandFailed("LOGIN", IMAPStatus::no, "[AUTHENTICATIONFAILED] Invalid credentials"));
      QMap<QString, FriendlyError::Message> problems;
      problems.insert(BackupRules::problemKey(store.accounts().back()), message);
      store.setBackupProblems(problems);
    }
  }
  { auto t = sleep(1.0); co_await t; }
  { auto t = shootMain(QStringLiteral("9a-sidebar-problem")); co_await t; }

  store.setShowBackupActivity(true);
  { auto t = sleep(1.5); co_await t; }
  { auto t = shotSheet(QStringLiteral("9b-ledger-problem")); co_await t; }

  store.setShowBackupActivity(false);
  store.setBackupProblems({});
  { auto t = sleep(1.0); co_await t; }
  store.setShowAddAccount(true);
  { auto t = sleep(1.5); co_await t; }
  { auto t = shotSheet(QStringLiteral("10-add-account")); co_await t; }

  store.setShowAddAccount(false);
  { auto t = sleep(1.0); co_await t; }
  AddAccountSheet::snapshotStartStep = AddAccountSheet::Step::Credentials;
  AddAccountSheet::snapshotPreset = ProviderPreset::named(QStringLiteral("icloud"));
  AddAccountSheet::snapshotError = QStringLiteral("[AUTHENTICATIONFAILED] Invalid credentials");
  store.setShowAddAccount(true);
  { auto t = sleep(1.5); co_await t; }
  { auto t = shotSheet(QStringLiteral("11-add-account-icloud-error")); co_await t; }

  store.setShowAddAccount(false);
  AddAccountSheet::snapshotError = std::nullopt;
  { auto t = sleep(1.0); co_await t; }
  AddAccountSheet::snapshotStartStep = AddAccountSheet::Step::Folders;
  if (!store.accounts().empty())
    AddAccountSheet::snapshotMailboxes = store.accounts().front().knownFolders;
  else
    AddAccountSheet::snapshotMailboxes = std::nullopt;
  store.setShowAddAccount(true);
  { auto t = sleep(1.5); co_await t; }
  { auto t = shotSheet(QStringLiteral("11b-add-account-folders")); co_await t; }

  store.setShowAddAccount(false);
  AddAccountSheet::snapshotStartStep = std::nullopt;
  AddAccountSheet::snapshotMailboxes = std::nullopt;
  { auto t = sleep(1.0); co_await t; }
  store.setShowFreeUp(true);
  { auto t = sleep(1.5); co_await t; }
  { auto t = shotSheet(QStringLiteral("12a-free-up-choose")); co_await t; }

  const auto plan = DemoMode::demoPlan(store, 5);
  CleanupModel& cleanup = store.cleanup();
  if (!plan) {
    store.setShowFreeUp(false);
    { auto t = sleep(1.0); co_await t; }
  } else {
    CleanupPlan half = *plan;
    const int n = int(half.items.size());
    const int k = 2 * n / 5;
    if (n >= 3)
      for (int i = 0; i < k; ++i) half.items[size_t(i)].status = Cleaner::verify(half.items[size_t(i)], store.layout());
    cleanup.setStage(CleanupStage::verify);
    cleanup.setPlan(half);
    cleanup.setChecked(n >= 3 ? k : 0);
    cleanup.setBusy(true);
    { auto t = sleep(1.5); co_await t; }
    { auto t = shotSheet(QStringLiteral("12b-free-up-verifying")); co_await t; }

    {
      auto finished = std::make_shared<bool>(false);
      store.verifyProgressively(*plan, store.layout(), [finished] { *finished = true; });
      while (!*finished) {
        auto t = sleep(0.05);
        co_await t;
      }
    }
    cleanup.setBusy(false);
    { auto t = sleep(1.2); co_await t; }
    { auto t = shotSheet(QStringLiteral("12c-free-up-verified")); co_await t; }

    const int v = cleanup.plan() ? int(cleanup.plan()->verified().size()) : 0;
    cleanup.setStage(CleanupStage::release);
    DemoTyping::shared().setText(QStringLiteral("RELEASE %1").arg(v));
    { auto t = sleep(1.3); co_await t; }
    { auto t = shotSheet(QStringLiteral("12d-free-up-release")); co_await t; }

    cleanup.setBusy(true);
    cleanup.setReleased(ReleaseProgress{v / 3, v});
    { auto t = sleep(1.0); co_await t; }
    { auto t = shotSheet(QStringLiteral("12e-free-up-releasing")); co_await t; }

    cleanup.setBusy(false);
    if (!store.accounts().empty() && cleanup.plan())
      store.finishCleanup(v, *cleanup.plan(), store.accounts().front(), false);
    { auto t = sleep(1.4); co_await t; }
    { auto t = shotSheet(QStringLiteral("12f-free-up-done")); co_await t; }

    DemoTyping::shared().setText(QString());
    store.setShowFreeUp(false);
    { auto t = sleep(1.0); co_await t; }
  }

  if (QWidget* w = mainWindow()) {
    QPointer<QWidget> window(w);
    setContentSize(w, QSize(1100, 620), false);
    store.setSidebar(SidebarItem::makeAll());
    store.refreshVisible();
    { auto t = select(firstVisible(store, [](const MessageRecord& m) { return m.trackers >= 1; })); co_await t; }
    { auto t = shootMain(QStringLiteral("14-minimum-window")); co_await t; }
    if (window) setContentSize(window, QSize(1360, 840), false);
  }

  { auto t = settingsShots(store); co_await t; }
  endRun();
}

} // namespace bx
