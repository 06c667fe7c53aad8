// Runs the real application under a virtual X display, once per scenario,
// with its home, settings, caches, temporary files, time zone and locale
// kept apart from the machine's, and judges each run from the outside: exit
// status, the expected PASS lines, no FAIL line, the last line, and what
// the server and the vault hold afterwards.

#include "support/DovecotFixture.h"
#include "support/RawIMAPClient.h"
#include "support/TempDir.h"
#include "UITest/UITestValues.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

using namespace bx;
using namespace std::chrono;

namespace {

struct AppRun {
  int status = -1;
  bool crashed = false;
  QStringList lines;
  QString err;
  QString dump() const { return lines.join('\n') + "\n--- stderr ---\n" + err.right(4000); }
};

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
}

int emlCount(const QString& root) {
  return UITest::vaultFileCount(std::filesystem::path(root.toStdString()));
}

class UITestDriver : public ::testing::Test {
protected:
  void SetUp() override {
    app_ = qEnvironmentVariable("BX_BRINDLEBOX_APP");
    if (app_.isEmpty() || !QFile::exists(app_)) GTEST_SKIP() << "application not built";
    if (QStandardPaths::findExecutable("xvfb-run").isEmpty()) GTEST_SKIP() << "xvfb-run missing";
    root_ = QString::fromStdString(tmp_.path().string());
    for (const char* d : {"home", "config", "data", "cache", "state", "runtime", "tmp", "vault"})
      QDir().mkpath(root_ + "/" + d);
    QFile::setPermissions(root_ + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }

  QString vault() const { return root_ + "/vault"; }
  QString credentials() const { return root_ + "/credentials.json"; }
  QString accountsJson() const { return vault() + "/.brindlebox/accounts.json"; }

  QProcessEnvironment isolated(const QList<std::pair<QString, QString>>& extra) const {
    QProcessEnvironment env;
    for (const char* keep : {"PATH", "BX_SOURCE_DIR", "BX_BINARY_DIR"})
      if (qEnvironmentVariableIsSet(keep)) env.insert(keep, qEnvironmentVariable(keep));
    env.insert("HOME", root_ + "/home");
    env.insert("XDG_CONFIG_HOME", root_ + "/config");
    env.insert("XDG_DATA_HOME", root_ + "/data");
    env.insert("XDG_CACHE_HOME", root_ + "/cache");
    env.insert("XDG_STATE_HOME", root_ + "/state");
    env.insert("XDG_RUNTIME_DIR", root_ + "/runtime");
    env.insert("TMPDIR", root_ + "/tmp");
    env.insert("TZ", "UTC");
    env.insert("LANG", "C.UTF-8");
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-background-networking --disable-component-update");
    for (const auto& [k, v] : extra) env.insert(k, v);
    return env;
  }

  AppRun run(const QList<std::pair<QString, QString>>& extra, int timeoutSeconds = 240) const {
    QProcess p;
    p.setProcessEnvironment(isolated(extra));
    p.start("xvfb-run", {"-a", "-s", "-screen 0 1600x1000x24", app_});
    AppRun r;
    if (!p.waitForStarted(20000)) {
      r.err = "did not start";
      return r;
    }
    if (!p.waitForFinished(timeoutSeconds * 1000)) {
      p.kill();
      p.waitForFinished(5000);
      r.err = "timed out\n";
    }
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.status = p.exitCode();
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    r.lines = out.split('\n', Qt::SkipEmptyParts);
    r.err += QString::fromUtf8(p.readAllStandardError());
    return r;
  }

  // A passing run: status 0, each expected name as a PASS line (a name
  // ending in "*" is a prefix: the rest carries a value), no FAIL line,
  // "UITEST OK" last.
  static void expectPassed(const AppRun& r, const QStringList& names) {
    EXPECT_FALSE(r.crashed) << r.dump().toStdString();
    EXPECT_EQ(r.status, 0) << r.dump().toStdString();
    for (const QString& name : names) {
      const bool prefix = name.endsWith('*');
      const QString want = "PASS " + (prefix ? name.chopped(1) : name);
      bool found = false;
      for (const QString& l : r.lines) found = found || (prefix ? l.startsWith(want) : l == want);
      EXPECT_TRUE(found) << want.toStdString() << "\n" << r.dump().toStdString();
    }
    for (const QString& l : r.lines) EXPECT_FALSE(l.startsWith("FAIL ")) << l.toStdString();
    ASSERT_FALSE(r.lines.isEmpty()) << r.dump().toStdString();
    EXPECT_EQ(r.lines.last(), "UITEST OK") << r.dump().toStdString();
  }

  static void expectFailedRun(const AppRun& r) {
    EXPECT_EQ(r.status, 1) << r.dump().toStdString();
    ASSERT_FALSE(r.lines.isEmpty()) << r.dump().toStdString();
    EXPECT_TRUE(QRegularExpression("^UITEST [1-9][0-9]* FAILED$").match(r.lines.last()).hasMatch())
        << r.dump().toStdString();
  }

  QString app_;
  QString root_;
  test::TempDir tmp_;
};

// ---- main scenario ------------------------------------------------------------

const test::TestUser kUser{UITest::kTestUser, UITest::kTestPassword};

std::string rfc2822(system_clock::time_point t) {
  const std::time_t tt = system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  return buf;
}

test::SeedMessage seed(const std::string& subject, system_clock::time_point when, int n) {
  std::string m = "From: Sender <sender@example.com>\r\nTo: " + std::string(UITest::kTestUser) +
                  "\r\nSubject: " + subject + "\r\nDate: " + rfc2822(when) + "\r\nMessage-ID: <uitest-" +
                  std::to_string(n) + "@example.test>\r\nMIME-Version: 1.0\r\n"
                  "Content-Type: text/plain; charset=utf-8\r\n\r\nMessage " + std::to_string(n) + ".\r\n";
  return {m, when, {"\\Seen"}};
}

// 15 messages: 10 in INBOX (2 of them more than a year old), 5 in Archive;
// one subject says "Invoice", one "café" in an encoded word.
void seedServer(test::DovecotFixture& dovecot) {
  const auto now = system_clock::now();
  std::vector<test::SeedMessage> inbox;
  inbox.push_back(seed("Old statement", now - hours(24 * 400), 1));
  inbox.push_back(seed("Older statement", now - hours(24 * 420), 2));
  inbox.push_back(seed("Invoice 2041 for October", now - hours(24 * 3), 3));
  inbox.push_back(seed("=?UTF-8?Q?Lunch_at_the_caf=C3=A9?=", now - hours(24 * 5), 4));
  for (int i = 5; i <= 10; ++i) inbox.push_back(seed("Note " + std::to_string(i), now - hours(24 * i), i));
  dovecot.append(kUser, "INBOX", inbox);
  dovecot.createMailbox(kUser, "Archive");
  std::vector<test::SeedMessage> archive;
  for (int i = 11; i <= 15; ++i) archive.push_back(seed("Archived " + std::to_string(i), now - hours(24 * 30 * (i - 10)), i));
  dovecot.append(kUser, "Archive", archive);
}

test::DovecotOptions options() {
  test::DovecotOptions o;
  o.users = {kUser};
  return o;
}

}  // namespace

TEST_F(UITestDriver, MainScenarioAgainstTheTestServer) {
  test::DovecotFixture dovecot(options());
  seedServer(dovecot);
  ASSERT_EQ(dovecot.uids(kUser, "INBOX").size(), 10u);
  const AppRun r = run({{"BRINDLEBOX_UITEST_PORT", QString::number(dovecot.imapPort())},
                     {"BRINDLEBOX_ARCHIVE_DIR", vault()},
                     {"BRINDLEBOX_CREDENTIALS_FILE", credentials()}});
  expectPassed(r, {"credentials go to the test file, not the Keychain",
                   "password stored in the test credential file",
                   "backup starts",
                   "15 messages in the vault (*",
                   "no backup problems",
                   "every ledger line finished: *",
                   "INBOX ledger shows +10",
                   ".eml files on disk: 15",
                   "reader shows a verified copy",
                   "incremental: Everything was already in the vault",
                   "cancel during verify returns to Choose",
                   "2 old INBOX messages, both verified (2)",
                   "released: *",
                   "server INBOX now holds 8 (8)",
                   "every local copy kept after release",
                   "bad password \u2192 The password wasn\u2019t accepted",
                   "refused \u2192 Couldn\u2019t reach*",
                   "search finds the invoice",
                   "accented search",
                   "removing an account forgets its password"});
  int passes = 0;
  for (const QString& l : r.lines) passes += l.startsWith("PASS ");
  EXPECT_EQ(passes, 20) << r.dump().toStdString();
  // Our own look at the server and the vault.
  EXPECT_EQ(dovecot.uids(kUser, "INBOX").size(), 8u);
  EXPECT_EQ(emlCount(vault()), 15);
}

TEST_F(UITestDriver, MainScenarioWithTheServerDown) {
  test::DovecotFixture dovecot(options());
  const uint16_t port = dovecot.imapPort();
  dovecot.stop();
  const AppRun r = run({{"BRINDLEBOX_UITEST_PORT", QString::number(port)},
                     {"BRINDLEBOX_ARCHIVE_DIR", vault()},
                     {"BRINDLEBOX_CREDENTIALS_FILE", credentials()}});
  bool signInFailed = false;
  for (const QString& l : r.lines) signInFailed = signInFailed || l.startsWith("FAIL sign in: ");
  EXPECT_TRUE(signInFailed) << r.dump().toStdString();
  expectFailedRun(r);
}

TEST_F(UITestDriver, MainScenarioRefusesToTouchSomeonesSetUp) {
  // Without a test credential file the passwords would go to the keyring,
  // and a vault that already holds mail is someone's: either way the run
  // prints its failures and changes nothing.
  struct Case {
    const char* name;
    bool credentialFile;
    bool mailInVault;
    QString firstLine;
  };
  const QList<Case> cases{
      {"mail in the vault", true, true, "PASS credentials go to the test file, not the Keychain"},
      {"keyring in use", false, false, "FAIL credentials go to the test file, not the Keychain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(vault()).removeRecursively();
    QFile::remove(credentials());
    if (c.mailInVault)
      writeFile(vault() + "/Someone/INBOX/2024/2024-01-01 Hello 1.eml",
                "From: a@example.com\r\nSubject: Hello\r\nDate: Mon, 01 Jan 2024 10:00:00 +0000\r\n\r\nHi\r\n");
    writeFile(accountsJson(), "[]");
    writeFile(credentials(), "{\"someone@example.com@imap.example.com:993\":\"secret\"}");
    const QByteArray accountsBefore = fileBytes(accountsJson());
    const QByteArray credentialsBefore = fileBytes(credentials());
    QList<std::pair<QString, QString>> env{{"BRINDLEBOX_UITEST_PORT", "1"}, {"BRINDLEBOX_ARCHIVE_DIR", vault()}};
    if (c.credentialFile) env.append({"BRINDLEBOX_CREDENTIALS_FILE", credentials()});
    const AppRun r = run(env);
    expectFailedRun(r);
    EXPECT_EQ(r.lines.size(), c.mailInVault ? 3 : 2) << r.dump().toStdString();
    if (!r.lines.isEmpty()) EXPECT_EQ(r.lines.first(), c.firstLine);
    EXPECT_EQ(fileBytes(accountsJson()), accountsBefore);
    EXPECT_EQ(fileBytes(credentials()), credentialsBefore);
    EXPECT_EQ(emlCount(vault()), c.mailInVault ? 1 : 0);
  }
}

// ---- scrub scenario -------------------------------------------------------------

namespace {
QByteArray monthMessage(int year, int month, int n) {
  static const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return QStringLiteral("From: Sender <sender@example.com>\r\nTo: me@example.com\r\nSubject: Month %1\r\n"
                        "Date: Mon, 10 %2 %3 10:00:00 +0000\r\nMessage-ID: <m%1@example.test>\r\n\r\nHi\r\n")
      .arg(n)
      .arg(names[month - 1])
      .arg(year)
      .toUtf8();
}

void writeMonths(const QString& vault, int months) {
  for (int i = 0; i < months; ++i) {
    const int year = 2025 - i / 12;
    const int month = 12 - i % 12;
    writeFile(QStringLiteral("%1/Mail/INBOX/%2/%2-%3-10 Month %4 %4.eml")
                  .arg(vault)
                  .arg(year)
                  .arg(month, 2, 10, QChar('0'))
                  .arg(i),
              monthMessage(year, month, i));
  }
}
}  // namespace

TEST_F(UITestDriver, ScrubFollowsTheSpineAcrossManyMonths) {
  // More than 150 months, so the drag stops at the newest 150.
  writeMonths(vault(), 160);
  const AppRun r = run({{"BRINDLEBOX_UITEST_SCRUB", ""}, {"BRINDLEBOX_ARCHIVE_DIR", vault()}});
  expectPassed(r, {"rapid drag keeps the list on the spine\u2019s month (*"});
  int months = 0;
  for (const QString& l : r.lines) months += l.startsWith("PASS scrub to ");
  EXPECT_EQ(months, 15) << r.dump().toStdString();  // 160 / 12 = 13 → 13 + oldest + fourth
}

TEST_F(UITestDriver, ScrubOnTheDemoVault) {
  const AppRun r = run({{"BRINDLEBOX_UITEST_SCRUB", "1"}, {"BRINDLEBOX_SNAPSHOT_DEMO", "1"}});
  if (!QFileInfo::exists(root_ + "/tmp/brindlebox-" + QString::number(::getuid()) + "/Brindlebox-demo-archive"))
    GTEST_SKIP() << "the demo vault is not built into this application yet";
  expectPassed(r, {"rapid drag keeps the list on the spine\u2019s month (*"});
}

TEST_F(UITestDriver, ScrubWithThreeMonthsEndsInOrder) {
  writeMonths(vault(), 3);
  const AppRun r = run({{"BRINDLEBOX_UITEST_SCRUB", ""}, {"BRINDLEBOX_ARCHIVE_DIR", vault()}}, 120);
  EXPECT_FALSE(r.crashed);
  expectFailedRun(r);
  ASSERT_EQ(r.lines.size(), 2) << r.dump().toStdString();
  EXPECT_TRUE(r.lines[0].startsWith("FAIL ") && r.lines[0].contains("3")) << r.dump().toStdString();
}

// ---- network scenario -------------------------------------------------------------

namespace {

struct CountServer {
  QProcess process;
  quint16 port = 0;
  explicit CountServer(const QString& log) {
    process.start("python3", {qEnvironmentVariable("BX_COUNT_SERVER"), log});
    if (process.waitForReadyRead(10000)) port = quint16(process.readLine().trimmed().toUInt());
  }
  ~CountServer() {
    process.kill();
    process.waitForFinished(5000);
  }
};

QByteArray htmlMessage(const QString& subject, const QString& html, int n) {
  return QStringLiteral("From: News <news@example.com>\r\nTo: me@example.com\r\nSubject: %1\r\n"
                        "Date: Mon, %2 Mar 2025 10:00:00 +0000\r\nMessage-ID: <net%2@example.test>\r\n"
                        "MIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n%3\r\n")
      .arg(subject)
      .arg(10 + n)
      .arg(html)
      .toUtf8();
}

void writeNetworkVault(const QString& vault, quint16 port, bool remoteImages) {
  const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
  const QString rich =
      QStringLiteral("<html><head><link rel=\"stylesheet\" href=\"%1/style.css\">"
                     "<script src=\"%1/app.js\"></script></head><body>"
                     "<img src=\"%1/hero.png\" width=\"600\" height=\"300\">"
                     "<img src=\"%1/pixel.png\" width=\"1\" height=\"1\">"
                     "<img src=\"%1/open.gif\" width=\"1\" height=\"1\">"
                     "<iframe src=\"%1/frame.html\"></iframe>"
                     "<a href=\"%1/link-track?u=1\">Read more</a></body></html>")
          .arg(base);
  const QString plain = QStringLiteral("<html><body><p>No pictures here.</p>"
                                       "<a href=\"%1/link-track?u=2\">Link</a></body></html>")
                            .arg(base);
  writeFile(vault + "/News/INBOX/2025/2025-03-11 Plain 1.eml", htmlMessage("Plain", plain, 1));
  writeFile(vault + "/News/INBOX/2025/2025-03-12 Rich 2.eml",
            htmlMessage("Rich", remoteImages ? rich : plain, 2));
}

}  // namespace

TEST_F(UITestDriver, NetworkOnlyTheAllowedImageLoads) {
  const QString log = root_ + "/requests.log";
  CountServer server(log);
  ASSERT_NE(server.port, 0);
  writeNetworkVault(vault(), server.port, true);
  const AppRun r = run({{"BRINDLEBOX_UITEST_NETWORK", log}, {"BRINDLEBOX_ARCHIVE_DIR", vault()}});
  expectPassed(r, {"reading 2 messages made no network requests ([])",
                   "allowing images loads the real image (*",
                   "tracking pixels stay blocked after allowing images",
                   "remote CSS, scripts, frames and links never load (*"});
  // Our own reading of the log: the hero image and its connection only.
  const QStringList lines = QString::fromUtf8(fileBytes(log)).split('\n', Qt::SkipEmptyParts);
  for (const QString& l : lines)
    EXPECT_TRUE(l == "CONN" || (l.startsWith("REQ GET /hero.png"))) << l.toStdString();
  EXPECT_TRUE(lines.contains("REQ GET /hero.png")) << lines.join('\n').toStdString();
}

TEST_F(UITestDriver, NetworkLogNotEmptyBeforeTheRun) {
  const QString log = root_ + "/requests.log";
  CountServer server(log);
  ASSERT_NE(server.port, 0);
  writeNetworkVault(vault(), server.port, true);
  {
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("REQ GET /stale\n");
  }
  const AppRun r = run({{"BRINDLEBOX_UITEST_NETWORK", log}, {"BRINDLEBOX_ARCHIVE_DIR", vault()}});
  bool firstFailed = false;
  for (const QString& l : r.lines)
    firstFailed = firstFailed || l.startsWith("FAIL reading 2 messages made no network requests ([\"REQ GET /stale\"");
  EXPECT_TRUE(firstFailed) << r.dump().toStdString();
  expectFailedRun(r);
}

TEST_F(UITestDriver, NetworkWithoutRemoteImages) {
  const QString log = root_ + "/requests.log";
  CountServer server(log);
  ASSERT_NE(server.port, 0);
  writeNetworkVault(vault(), server.port, false);
  const AppRun r = run({{"BRINDLEBOX_UITEST_NETWORK", log}, {"BRINDLEBOX_ARCHIVE_DIR", vault()}});
  EXPECT_EQ(r.status, 1) << r.dump().toStdString();
  ASSERT_FALSE(r.lines.isEmpty()) << r.dump().toStdString();
  EXPECT_EQ(r.lines.last(), "FAIL fixture has remote images") << r.dump().toStdString();
}
