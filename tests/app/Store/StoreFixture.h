#pragma once
// A store over a temporary vault with its own settings, environment and
// password file, and helpers to write messages and wait for scans.

#include "Store/AppStore.h"
#include "Platform/Credentials.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace bx::test {

inline std::string eml(const std::string& subject, const std::string& date = "Tue, 05 Mar 2024 10:00:00 +0000",
                       const std::string& from = "Ann Lee <ann@example.com>", const std::string& extra = "") {
  return "From: " + from + "\r\nTo: me@example.org\r\nDate: " + date + "\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + subject + "@example.com>\r\n" + extra + "\r\nHello about " + subject + ".\r\n";
}

inline void setMtime(const std::filesystem::path& p, double seconds) {
  struct timeval tv[2];
  tv[0].tv_sec = tv[1].tv_sec = time_t(seconds);
  tv[0].tv_usec = tv[1].tv_usec = suseconds_t((seconds - double(time_t(seconds))) * 1e6);
  ASSERT_EQ(::utimes(p.c_str(), tv), 0);
}

inline double mtimeOf(const std::filesystem::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
}

// What a store published, in order: "records" or the indexing state.
class ScanLog {
public:
  explicit ScanLog(AppStore& s) : store(s) {
    c1 = QObject::connect(&s, &AppStore::recordsChanged, &s, [this] { events.push_back("records"); });
    c2 = QObject::connect(&s, &AppStore::indexingChanged, &s, [this] {
      const auto i = store.indexing();
      events.push_back(i ? std::to_string(i->done) + "/" + std::to_string(i->total) : "nil");
    });
  }
  ~ScanLog() {
    QObject::disconnect(c1);
    QObject::disconnect(c2);
  }
  ScanLog(const ScanLog&) = delete;
  ScanLog& operator=(const ScanLog&) = delete;
  bool finished() const {
    return events.size() >= 2 && events[events.size() - 2] == "records" && events.back() == "nil";
  }
  AppStore& store;
  std::vector<std::string> events;
  QMetaObject::Connection c1, c2;
};

class StoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* v : {"BRINDLEBOX_DEMO_DIR", "BRINDLEBOX_SNAPSHOT_DEMO", "BRINDLEBOX_SNAPSHOT_DIR",
                          "BRINDLEBOX_ARCHIVE_DIR", "BRINDLEBOX_CREDENTIALS_FILE"})
      qunsetenv(v);
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlebox"));
    QCoreApplication::setApplicationName(QStringLiteral("Brindlebox"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString((dir / "config").string()));
    QSettings().clear();
    vault = dir.mkdir("vault");
    qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(vault.string()));
    qputenv("BRINDLEBOX_CREDENTIALS_FILE", QByteArray::fromStdString((dir / "passwords.json").string()));
    Credentials::resetMemory();
  }
  void TearDown() override {
    store.reset();
    qunsetenv("BRINDLEBOX_ARCHIVE_DIR");
    qunsetenv("BRINDLEBOX_CREDENTIALS_FILE");
  }

  AppStore& makeStore() {
    store = std::make_unique<AppStore>();
    return *store;
  }

  // Runs a scan to its end and returns what it published.
  std::vector<std::string> scan(AppStore& s) {
    ScanLog log(s);
    s.reloadArchive();
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.finished(); }, 20000));
    return log.events;
  }

  std::filesystem::path put(const std::string& rel, const std::string& bytes) { return dir.write(vault / rel, bytes); }

  static std::vector<std::string> paths(const std::vector<const MessageRecord*>& list) {
    std::vector<std::string> out;
    for (auto* r : list) out.push_back(r->path);
    return out;
  }
  static std::vector<std::string> paths(const std::vector<MessageRecord>& list) {
    std::vector<std::string> out;
    for (auto& r : list) out.push_back(r.path);
    return out;
  }

  TempDir dir{"bx-store"};
  std::filesystem::path vault;
  std::unique_ptr<AppStore> store;
};

inline MailAccount account(const std::string& label, const std::string& user = "ann@example.com",
                           const std::string& host = "imap.example.com", uint16_t port = 993) {
  return MailAccount(UUID::random(), label, user, IMAPServer(host, port, false), "custom", {"INBOX"}, {});
}

}  // namespace bx::test
