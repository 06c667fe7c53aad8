#include "Engines/IMAPSession.h"
#include "Imap/IMAPClient.h"
#include "Platform/Credentials.h"
#include "Store/AppStore.h"
#include "Store/BackupRules.h"
#include "Store/CleanupModel.h"
#include "UITest/UITest.h"
#include "UITest/UITestValues.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <filesystem>

namespace bx::UITest {

namespace {

struct Session {
  bool ok = false;
  QString error;
  std::vector<IMAPMailbox> mailboxes;
  int64_t exists = -1;
};

// The engines' client blocks; the scenario runs it off the GUI thread and
// polls, so the interface keeps running meanwhile.
orrery::Task<Session> signIn(IMAPServer server, bool selectInbox) {
  QFuture<Session> future = QtConcurrent::run([server, selectInbox] {
    Session s;
    try {
      IMAPSession session(server, kTestUser, kTestPassword, 10.0);
      if (selectInbox)
        s.exists = session.open("INBOX", true).exists;
      else {
        session.signIn();
        s.mailboxes = session->list();
      }
      session->logout();
      s.ok = true;
    } catch (const std::exception& e) {
      s.error = QString::fromStdString(e.what());
    } catch (...) {
      s.error = QStringLiteral("unknown error");
    }
    return s;
  });
  while (!future.isFinished()) co_await orrery::pause(50);
  co_return future.result();
}

IMAPServer localServer(quint16 port) { return IMAPServer("127.0.0.1", port, true); }

QString accountKey(const MailAccount& a) { return QString::fromStdString(Credentials::key(a)); }

// The credential file's map, or what the credentials store answers for the
// account when there is no readable file.
std::optional<QString> storedPassword(const MailAccount& account) {
  if (const auto path = Credentials::file()) {
    QFile f(QString::fromStdString(path->string()));
    if (f.open(QIODevice::ReadOnly)) {
      const auto doc = QJsonDocument::fromJson(f.readAll());
      if (doc.isObject()) {
        const auto obj = doc.object();
        const QString key = accountKey(account);
        if (!obj.contains(key)) return std::nullopt;
        return obj.value(key).toString();
      }
    }
  }
  return Credentials::password(account);
}

QString ledgerText(const QMap<QString, LedgerLine>& ledger) {
  QStringList parts;
  for (auto it = ledger.begin(); it != ledger.end(); ++it) {
    const LedgerLine& l = it.value();
    parts << QStringLiteral("\"%1\": LedgerLine(running: %2, done: %3, total: %4, finished: %5, newMessages: %6)")
                 .arg(it.key(), l.running ? "true" : "false")
                 .arg(l.done)
                 .arg(l.total)
                 .arg(l.finished ? "true" : "false")
                 .arg(l.newMessages);
  }
  return parts.isEmpty() ? QStringLiteral("[:]") : u'[' + parts.join(QStringLiteral(", ")) + u']';
}

QString copyText(const OpenMessage* open) {
  if (!open) return QStringLiteral("nil");
  const CopyStatus& c = open->copy;
  switch (c.kind) {
  case CopyStatus::Kind::verified: return QStringLiteral("verified(serverSize: %1)").arg(c.serverSize);
  case CopyStatus::Kind::differs: return QStringLiteral("differs(local: %1, server: %2)").arg(c.local).arg(c.serverSize);
  case CopyStatus::Kind::imported: return QStringLiteral("imported");
  case CopyStatus::Kind::saved: return QStringLiteral("saved");
  }
  return QStringLiteral("nil");
}

MailAccount account(const char* label, const IMAPServer& server, std::vector<std::string> folders,
                    std::vector<IMAPMailbox> known) {
  return MailAccount(UUID::random(), label, kTestUser, server, "custom", std::move(folders), std::move(known),
                     std::nullopt);
}

QString problemTitle(const AppStore& store, const MailAccount& a) {
  const auto p = store.backupProblem(a);
  return p ? QString::fromStdString(p->title) : QStringLiteral("nil");
}

void addQuietly(AppStore& store, const MailAccount& a, const QString& password) {
  try {
    store.addAccount(a, password);
  } catch (...) {
  }
}

}  // namespace

int vaultFileCount(const std::filesystem::path& root) {
  // Hidden folders included; only the exact, case-sensitive extension counts.
  int count = 0;
  QDirIterator it(QString::fromStdString(root.string()), QDir::Files | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    if (it.fileInfo().suffix() == QStringLiteral("eml")) ++count;
  }
  return count;
}

orrery::Task<> runMain() {
  const auto portValue = port();
  AppStore* storePtr = AppStore::shared();
  if (!portValue || !storePtr) co_return;
  AppStore& store = *storePtr;
  const IMAPServer server = localServer(*portValue);

  // 1. Never run against someone's real accounts and keyring.
  const bool isolated = !Credentials::usesKeychain();
  check(isolated, QStringLiteral("credentials go to the test file, not the Keychain"));
  const int existing = vaultFileCount(store.layout().root);
  if (!isolated || existing > 0) {
    if (existing > 0)
      fail(QStringLiteral("vault already holds %1 .eml files; the self-test needs an empty vault").arg(existing));
    finish();
    co_return;
  }

  // 2. Direct sign-in.
  std::vector<IMAPMailbox> folderList;
  {
    auto session = signIn(server, false);
    const Session s = co_await session;
    if (s.ok)
      folderList = s.mailboxes;
    else
      fail(QStringLiteral("sign in: ") + s.error);
  }

  // 3-4.
  std::vector<std::string> selectable;
  for (const auto& m : folderList)
    if (m.isSelectable()) selectable.push_back(m.name);
  const MailAccount fake = account("Fake Server", server, selectable, folderList);
  const QString password = QString::fromStdString(kTestPassword);
  try {
    store.addAccount(fake, password);
  } catch (const std::exception& e) {
    fail(QStringLiteral("save account: ") + QString::fromUtf8(e.what()));
  }
  check(storedPassword(fake) == password, QStringLiteral("password stored in the test credential file"));

  // 5-11.
  store.backUpNow(std::nullopt);
  check(store.backup().running, QStringLiteral("backup starts"));
  { auto w = wait(30, [&store] { return !store.backup().running; }); co_await w; }
  { auto w = wait(30, [&store] { return !store.indexing() && store.records().size() > 14; }); co_await w; }
  int fakeRecords = 0;
  for (const auto& r : store.records())
    if (r.account == "Fake Server") ++fakeRecords;
  check(fakeRecords == 15, QStringLiteral("15 messages in the vault (%1)").arg(store.records().size()));
  check(store.backupProblems().isEmpty(), QStringLiteral("no backup problems"));
  bool allFinished = true;
  for (const auto& l : store.ledger())
    if (!l.finished || l.running) allFinished = false;
  check(allFinished, QStringLiteral("every ledger line finished: ") + ledgerText(store.ledger()));
  const auto inbox = store.ledger().find(BackupRules::ledgerKey(fake, "INBOX"));
  check(inbox != store.ledger().end() && inbox->newMessages == 10, QStringLiteral("INBOX ledger shows +10"));
  const int files = vaultFileCount(store.layout().root);
  check(files == 15, QStringLiteral(".eml files on disk: %1").arg(files));

  // 12-13.
  { auto shot = capture(QStringLiteral("ui-1-after-backup")); co_await shot; }
  store.setShowBackupActivity(true);
  co_await orrery::pause(1200);
  { auto shot = shotSheet(QStringLiteral("ui-2-ledger-after-backup")); co_await shot; }
  store.setShowBackupActivity(false);
  co_await orrery::pause(600);

  // 14-15.
  store.setSidebar(SidebarItem::makeAll());
  store.refreshVisible();
  std::optional<QString> first;
  for (const auto& r : store.records())
    if (r.account == "Fake Server") {
      first = QString::fromStdString(r.path);
      break;
    }
  store.setSelectedPath(first);
  { auto w = wait(5, [&store] { return store.openMessage() != nullptr; }); co_await w; }
  if (store.openMessage() && store.openMessage()->copy.kind == CopyStatus::Kind::verified)
    check(true, QStringLiteral("reader shows a verified copy"));
  else
    fail(QStringLiteral("reader copy status ") + copyText(store.openMessage()));

  // 16.
  store.backUpNow(std::nullopt);
  { auto w = wait(30, [&store] { return !store.backup().running; }); co_await w; }
  const QString last = store.backup().lastMessage.value_or(QString());
  check(last == QStringLiteral("Everything was already in the vault"), QStringLiteral("incremental: ") + last);

  // 17-20.
  store.setShowFreeUp(true);
  co_await orrery::pause(1000);
  const Date cutoff = std::chrono::system_clock::now() - std::chrono::seconds(31'536'000);
  CleanupModel& cleanup = store.cleanup();
  store.checkCleanup(fake, QStringLiteral("INBOX"), cutoff);
  { auto w = wait(30, [&cleanup] { return cleanup.plan().has_value(); }); co_await w; }
  store.cancelCleanup();
  check(cleanup.stage() == CleanupStage::choose, QStringLiteral("cancel during verify returns to Choose"));
  store.checkCleanup(fake, QStringLiteral("INBOX"), cutoff);
  {
    auto w = wait(30, [&cleanup] {
      return cleanup.plan() && cleanup.checked() >= int(cleanup.plan()->items.size());
    });
    co_await w;
  }
  { auto w = wait(3, [&cleanup] { return !cleanup.busy(); }); co_await w; }
  const int planItems = cleanup.plan() ? int(cleanup.plan()->items.size()) : -1;
  check(cleanup.plan() && planItems == 2 && cleanup.plan()->verified().size() == 2,
        QStringLiteral("2 old INBOX messages, both verified (%1)").arg(planItems));
  { auto shot = shotSheet(QStringLiteral("ui-3-verify-real-server")); co_await shot; }

  // 21-24.
  cleanup.setStage(CleanupStage::release);
  store.runCleanup(fake);
  {
    auto w = wait(30, [&cleanup] { return cleanup.stage() == CleanupStage::done || cleanup.error().has_value(); });
    co_await w;
  }
  QString released;
  if (cleanup.result())
    released = *cleanup.result();
  else if (cleanup.error())
    released = QString::fromStdString(cleanup.error()->text());
  check(cleanup.stage() == CleanupStage::done && !cleanup.error(), QStringLiteral("released: ") + released);
  co_await orrery::pause(1000);
  { auto shot = shotSheet(QStringLiteral("ui-4-released")); co_await shot; }
  store.setShowFreeUp(false);
  co_await orrery::pause(800);

  // 25-26.
  {
    auto session = signIn(server, true);
    const Session s = co_await session;
    if (s.ok)
      check(s.exists == 8, QStringLiteral("server INBOX now holds 8 (%1)").arg(s.exists));
    else
      fail(QStringLiteral("recheck server: ") + s.error);
  }
  check(vaultFileCount(store.layout().root) == 15, QStringLiteral("every local copy kept after release"));

  // 27-29.
  const MailAccount wrong = account("Wrong Password", server, {"INBOX"}, folderList);
  addQuietly(store, wrong, QString::fromStdString(kWrongPassword));
  store.backUpNow(wrong);
  { auto w = wait(30, [&store] { return !store.backup().running; }); co_await w; }
  const QString badTitle = problemTitle(store, wrong);
  check(badTitle == QStringLiteral("The password wasn\u2019t accepted"), QStringLiteral("bad password \u2192 ") + badTitle);
  { auto shot = capture(QStringLiteral("ui-5-bad-password")); co_await shot; }

  // 30-31.
  const MailAccount offline = account("Offline", localServer(1), {"INBOX"}, {});
  addQuietly(store, offline, QStringLiteral("x"));
  store.backUpNow(offline);
  { auto w = wait(30, [&store] { return !store.backup().running; }); co_await w; }
  const QString refused = problemTitle(store, offline);
  check(refused.startsWith(QStringLiteral("Couldn\u2019t reach")), QStringLiteral("refused \u2192 ") + refused);

  // 32-34.
  auto visibleSubjectHas = [&store](const QString& needle) {
    for (const MessageRecord* r : store.visible())
      if (QString::fromStdString(r->subject).contains(needle, Qt::CaseSensitive)) return true;
    return false;
  };
  store.setQuery(QStringLiteral("invoice"));
  store.refreshVisible();
  check(visibleSubjectHas(QStringLiteral("Invoice")), QStringLiteral("search finds the invoice"));
  store.setQuery(QStringLiteral("caf\u00e9"));
  store.refreshVisible();
  check(visibleSubjectHas(QStringLiteral("caf\u00e9")), QStringLiteral("accented search"));
  store.setQuery(QString());
  store.refreshVisible();
  store.removeAccount(wrong);
  store.removeAccount(offline);

  // 35. "Wrong Password" shares its entry with "Fake Server", which still
  // uses it, so that entry rightly stays; "Offline" had its own key.
  const bool offlineGone = !storedPassword(offline).has_value();
  const bool sharedKept = accountKey(wrong) == accountKey(fake) && storedPassword(fake).has_value();
  check(offlineGone && sharedKept, QStringLiteral("removing an account forgets its password"));

  finish();
}

}  // namespace bx::UITest
