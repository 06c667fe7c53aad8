// Which accounts a running backup or free-up holds, so that only those
// cannot be removed meanwhile.

#include "StoreFixture.h"

#include "Store/CleanupModel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bx::test {
namespace {

// A loopback port that takes connections and never says a word: an engine
// talking to it stays at work until it is stopped.
class SilentListener {
public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  uint16_t port() const { return port_; }

private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST_F(StoreTest, OnlyTheAccountsARunOrAFreeUpWorksOnAreBusy) {
  SilentListener silent;
  ASSERT_NE(silent.port(), 0);
  AppStore& s = makeStore();
  const MailAccount work = account("Work", "ann@example.com", "127.0.0.1", silent.port());
  const MailAccount home = account("Home", "bob@example.com", "127.0.0.1", silent.port());
  s.addAccount(work, QStringLiteral("pw"));
  s.addAccount(home, QStringLiteral("pw"));
  EXPECT_FALSE(s.accountBusy(work.id));
  EXPECT_FALSE(s.accountBusy(home.id));

  auto stopRun = [&] {
    s.stopBackup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.backup().running; }, 20000));
  };

  // A run of one account holds that account alone.
  s.backUpNow(work);
  ASSERT_TRUE(s.backup().running);
  EXPECT_TRUE(s.accountBusy(work.id));
  EXPECT_FALSE(s.accountBusy(home.id));
  stopRun();
  EXPECT_FALSE(s.accountBusy(work.id));

  // A run of every account holds them all, the one still waiting its turn too.
  s.backUpNow(std::nullopt);
  EXPECT_TRUE(s.accountBusy(work.id));
  EXPECT_TRUE(s.accountBusy(home.id));
  stopRun();
  EXPECT_FALSE(s.accountBusy(home.id));

  // A free-up survey holds the account it talks to.
  s.checkCleanup(home, QStringLiteral("INBOX"), std::chrono::system_clock::now());
  ASSERT_TRUE(s.cleanup().busy());
  EXPECT_TRUE(s.accountBusy(home.id));
  EXPECT_FALSE(s.accountBusy(work.id));
  s.cancelCleanup();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !s.cleanup().busy(); }, 20000));
  EXPECT_FALSE(s.accountBusy(home.id));
}

TEST_F(StoreTest, WorkWhoseAccountsAreUnknownHoldsEveryAccount) {
  AppStore& s = makeStore();
  const MailAccount work = account("Work");
  s.addAccount(work, QStringLiteral("pw"));
  BackupStatus running;
  running.running = true;
  s.setBackup(running);
  EXPECT_TRUE(s.accountBusy(work.id));
  s.setBackup(BackupStatus{});
  s.cleanup().setBusy(true);
  EXPECT_TRUE(s.accountBusy(work.id));
  s.cleanup().setBusy(false);
  EXPECT_FALSE(s.accountBusy(work.id));
}

}  // namespace
}  // namespace bx::test
