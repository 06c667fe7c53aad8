// Interrupting a backup anywhere (cancel between or inside batches, SIGKILL of
// the process at any moment) and running it again loses nothing and stores
// nothing twice.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <utility>
#include <thread>

#include "BackupTestSupport.h"
#include "Engines/BackupRunner.h"
#include "Imap/CancellationError.h"
#include "Util/AtomicFile.h"
#include "support/TestCerts.h"

namespace fs = std::filesystem;
using namespace bx;
using namespace bx::test;

namespace {

const char* kMailboxes[] = {"INBOX", "Sent"};

// 120 + 40 messages; every 8th about 250 KB, so many replies are cut inside a literal.
std::map<std::string, std::map<std::uint32_t, std::string>> seedAccount(const DovecotFixture& dovecot) {
    std::map<std::string, std::map<std::uint32_t, std::string>> server;
    int first = 0;
    for (const char* box : kMailboxes) {
        const int count = std::string(box) == "INBOX" ? 120 : 40;
        dovecot.append(users::alice, box, makeSeed(count, first, 8, 250000));
        first += count;
        auto s = dovecot.session(users::alice);
        for (auto uid : s.uids(box)) server[box][uid] = s.fetchRaw(box, uid);
    }
    return server;
}

BackupRunner makeRunner(const fs::path& vault, const MailAccount& account) {
    BackupRunner runner{ArchiveLayout(vault), account, users::alice.password};
    runner.batchCount = 7;
    return runner;
}

// What must hold after any interruption: every .eml is one whole server
// message, stored once (no " (2)" copies); the sync file, if any, decodes and
// every path it lists exists and holds that UID's bytes.
void expectConsistent(const fs::path& vault, const MailAccount& account,
                      const std::map<std::string, std::map<std::uint32_t, std::string>>& server, const std::string& when) {
    std::set<std::string> whole;
    for (const auto& [box, messages] : server)
        for (const auto& [uid, bytes] : messages) whole.insert(bytes);
    std::set<std::string> seen;
    for (const auto& [rel, facts] : snapshot(vault)) {
        EXPECT_EQ(rel.find(" (2)"), std::string::npos) << when << ": " << rel;
        EXPECT_EQ(fs::path(rel).extension(), ".eml") << when << ": " << rel;
        const auto bytes = readFile(vault / rel);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_TRUE(whole.count(*bytes)) << when << ": partial file " << rel;
        EXPECT_TRUE(seen.insert(*bytes).second) << when << ": stored twice " << rel;
    }
    ArchiveLayout layout(vault);
    const auto text = readFile(layout.syncURL(account));
    if (text) ASSERT_NO_THROW(AccountSyncState::fromJSON(*text)) << when;
    // What a loader sees: the sync file with what the journal holds applied.
    const AccountSyncState state = layout.loadSync(account);
    for (const auto& [box, folder] : state.folders) {
        for (const auto& [uid, path] : folder.files) {
            const auto bytes = readFile(layout.url(path));
            ASSERT_TRUE(bytes.has_value()) << when << ": " << path;
            EXPECT_EQ(*bytes, server.at(box).at(static_cast<std::uint32_t>(std::stoul(uid)))) << when << ": " << path;
        }
        for (const auto& [uid, bytes] : server.at(box))
            if (uid <= folder.highestUID) {
                EXPECT_TRUE(folder.files.count(std::to_string(uid))) << when << ": " << uid;
            }
    }
}

void expectComplete(const fs::path& vault, const MailAccount& account,
                    const std::map<std::string, std::map<std::uint32_t, std::string>>& server) {
    expectConsistent(vault, account, server, "at the end");
    const auto state = ArchiveLayout(vault).loadSync(account);
    size_t total = 0;
    for (const auto& [box, messages] : server) {
        const auto& folder = state.folders.at(box);
        EXPECT_EQ(folder.files.size(), messages.size()) << box;
        EXPECT_EQ(folder.highestUID, messages.rbegin()->first) << box;
        total += messages.size();
    }
    EXPECT_EQ(snapshot(vault).size(), total);
}

void startOver(const fs::path& vault, const MailAccount& account) {
    fs::remove_all(vault / "Test Account");
    fs::remove(ArchiveLayout(vault).syncURL(account));
    fs::remove(ArchiveLayout(vault).syncJournalURL(account.id));
}

MailAccount accountFor(const DovecotFixture& dovecot) {
    return testAccount(dovecot, {"INBOX", "Sent"});
}

}  // namespace

TEST(BackupInterrupt, CancelAtManyPointsThenRunAgain) {
    trustTestCA();
    DovecotFixture dovecot(quickDovecot());
    const auto server = seedAccount(dovecot);
    TempDir vault;
    const auto account = accountFor(dovecot);

    int cancelled = 0;
    // Stop from inside a progress report: right after "Checking", "Measuring",
    // or a batch was recorded.
    for (int k : {1, 2, 3, 4, 6, 9, 14, 20}) {
        auto runner = makeRunner(vault.path(), account);
        std::stop_source stop;
        int reports = 0;
        try {
            runner.run([&](const BackupProgress&) {
                if (++reports == k) stop.request_stop();
            }, stop.get_token());
        } catch (const CancellationError&) {
            ++cancelled;
        }
        expectConsistent(vault.path(), account, server, "report " + std::to_string(k));
        // Start over now and then so the early points are met again.
        if (k == 4) startOver(vault.path(), account);
    }
    // Stop from another thread at arbitrary moments: inside a FETCH reply,
    // inside a message literal, between writes.
    for (int ms : {1, 3, 8, 15, 25, 40, 60, 90}) {
        auto runner = makeRunner(vault.path(), account);
        std::stop_source stop;
        std::jthread timer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            stop.request_stop();
        });
        bool finished = false;
        try {
            runner.run(nullptr, stop.get_token());
            finished = true;
        } catch (const CancellationError&) {
            ++cancelled;
        }
        timer.join();
        expectConsistent(vault.path(), account, server, "after " + std::to_string(ms) + " ms");
        if (finished) startOver(vault.path(), account);  // keep work for the next stop
    }
    EXPECT_GE(cancelled, 6);
    auto runner = makeRunner(vault.path(), account);
    runner.run();
    expectComplete(vault.path(), account, server);
}

// Runs one backup in this process for BackupInterrupt.KillAtManyPoints; the
// parent passes everything through the environment and kills it when it likes.
TEST(BackupInterruptChild, RunBackup) {
    const char* vault = std::getenv("BX_BACKUP_CHILD_VAULT");
    if (!vault) GTEST_SKIP() << "runs only as a child";
    MailAccount account(*UUID::parse(std::getenv("BX_BACKUP_CHILD_ID")), "Test Account", users::alice.name,
                        IMAPServer("localhost", static_cast<std::uint16_t>(std::atoi(std::getenv("BX_BACKUP_CHILD_PORT"))),
                                   false),
                        "custom", {"INBOX", "Sent"}, {});
    auto runner = makeRunner(vault, account);
    runner.run();
}

TEST(BackupInterrupt, KillAtManyPointsThenRunAgain) {
    trustTestCA();
    DovecotFixture dovecot(quickDovecot());
    const auto server = seedAccount(dovecot);
    TempDir vault;
    const auto account = accountFor(dovecot);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    ::setenv("BX_BACKUP_CHILD_VAULT", vault.string().c_str(), 1);
    ::setenv("BX_BACKUP_CHILD_ID", account.id.string().c_str(), 1);
    ::setenv("BX_BACKUP_CHILD_PORT", std::to_string(dovecot.imapsPort()).c_str(), 1);

    // Starts the child; with a delay, kills it after that long. Returns the
    // wait status and how long the child lived.
    auto runChild = [&](std::optional<std::chrono::microseconds> killAfter) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execl(self.c_str(), self.c_str(), "--gtest_filter=BackupInterruptChild.RunBackup", nullptr);
            ::_exit(127);
        }
        if (killAfter) {
            std::this_thread::sleep_for(*killAfter);
            ::kill(pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return std::make_pair(status, std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - start));
    };
    // A whole run without interruption sets the scale of the kill times.
    auto [fullStatus, full] = runChild(std::nullopt);
    ASSERT_TRUE(WIFEXITED(fullStatus) && WEXITSTATUS(fullStatus) == 0);
    expectComplete(vault.path(), account, server);
    startOver(vault.path(), account);

    // Kill at fractions of a whole run until ten kills landed. A child that
    // finished first (machines and loads differ) gives a new time scale, and
    // the vault starts over so the next child has work again.
    const int percents[] = {5, 12, 20, 30, 40, 50, 60, 70, 80, 90};
    int killed = 0;
    for (int attempt = 0; killed < 10 && attempt < 30; ++attempt) {
        const int percent = percents[attempt % 10];
        const auto [status, lived] = runChild(full * percent / 100);
        const std::string when = "killed at " + std::to_string(percent) + "% after " +
                                 std::to_string(lived.count() / 1000) + " ms";
        expectConsistent(vault.path(), account, server, when);
        if (WIFSIGNALED(status)) {
            ++killed;
        } else {
            full = lived;
            startOver(vault.path(), account);
        }
    }
    ::unsetenv("BX_BACKUP_CHILD_VAULT");
    EXPECT_GE(killed, 5);
    auto runner = makeRunner(vault.path(), account);
    runner.run();
    expectComplete(vault.path(), account, server);
}
