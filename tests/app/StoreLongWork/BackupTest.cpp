// The backup run as the store drives it: ledger rules, texts, outcome
// precedence, the schedule, and the run itself against scripted engines.
#include "LongWorkSupport.h"

#include "Imap/CancellationError.h"
#include "Theme/Theme.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

using namespace bx;
using namespace bx::test;
using namespace std::chrono_literals;

namespace {

BackupProgress report(std::string mailbox, std::string phase, std::int64_t done, std::int64_t total,
                      std::map<std::string, std::int64_t> completed = {}) {
    BackupProgress p;
    p.account = "Work";
    p.mailbox = std::move(mailbox);
    p.folder = p.mailbox;
    p.phase = std::move(phase);
    p.messagesDone = done;
    p.messagesTotal = total;
    p.completed = std::move(completed);
    return p;
}

}  // namespace

TEST(BackupRules, ApplyFoldsReportsIntoTheLedger) {
    BackupStatus status;
    Ledger ledger;
    // A working folder gets a running line.
    BackupRules::apply(status, ledger, report("INBOX", "Downloading", 3, 10), "Work");
    EXPECT_EQ(ledger["Work/INBOX"], (LedgerLine{true, 3, 10, false, 0}));
    EXPECT_EQ(status.progress.messagesDone, 3);

    // Completed folders are written once and never overwritten.
    BackupRules::apply(status, ledger, report("Sent", "Checking", 0, 0, {{"INBOX", 10}}), "Work");
    EXPECT_EQ(ledger["Work/INBOX"], (LedgerLine{false, 10, 10, true, 10}));
    EXPECT_EQ(ledger["Work/Sent"], (LedgerLine{true, 0, 0, false, 0}));
    BackupRules::apply(status, ledger, report("Sent", "Downloading", 1, 2, {{"INBOX", 99}}), "Work");
    EXPECT_EQ(ledger["Work/INBOX"].newMessages, 10);

    // A report about a completed mailbox, a "Done" report and one without a
    // mailbox add no running line, but still become the status' progress.
    Ledger before = ledger;
    BackupRules::apply(status, ledger, report("INBOX", "Downloading", 5, 5, {{"INBOX", 10}}), "Work");
    BackupRules::apply(status, ledger, report("Drafts", "Done", 4, 4), "Work");
    BackupRules::apply(status, ledger, report("", "Checking", 0, 0), "Work");
    EXPECT_EQ(ledger, before);
    EXPECT_EQ(status.progress.phase, "Checking");

    BackupRules::stopRunningLines(ledger);
    EXPECT_EQ(ledger["Work/Sent"], (LedgerLine{false, 1, 2, false, 0}));

    // A failed run keeps what it saved and marks every folder it did not
    // finish; a removed account's lines go, and only its own.
    const MailAccount work = makeAccount("Work", {"INBOX", "Sent", "Drafts"});
    Ledger lines{{BackupRules::ledgerKey(work, "INBOX"), LedgerLine{false, 10, 10, true, 10}},
                 {BackupRules::ledgerKey(work, "Sent"), LedgerLine{true, 1, 2, false, 0}},
                 {QStringLiteral("Work/INBOX"), LedgerLine{}}};
    BackupRules::failUnfinishedLines(lines, work);
    EXPECT_EQ(lines[BackupRules::ledgerKey(work, "INBOX")], (LedgerLine{false, 10, 10, true, 10}));
    EXPECT_EQ(lines[BackupRules::ledgerKey(work, "Sent")], (LedgerLine{false, 1, 2, false, 0, true}));
    EXPECT_EQ(lines[BackupRules::ledgerKey(work, "Drafts")], (LedgerLine{false, 0, 0, false, 0, true}));
    BackupRules::removeLines(lines, work.id);
    EXPECT_EQ(lines.keys(), QStringList{QStringLiteral("Work/INBOX")});
}

TEST(BackupRules, OutcomeAndAttentionTexts) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    struct Case {
        bool cancelled;
        std::int64_t count;
        const char* text;
    } cases[] = {
        {false, 1, "1 new message saved"},
        {false, 2, "2 new messages saved"},
        {false, 1234, "1,234 new messages saved"},
        {false, 0, "Everything was already in the vault"},
        {true, 5, "Stopped"},
        {true, 0, "Stopped"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BackupRules::outcomeLine(c.cancelled, c.count, 0, english), QString::fromUtf8(c.text)) << c.count;
    // Failed accounts come first; a stop still reads as a stop.
    EXPECT_EQ(BackupRules::outcomeLine(false, 0, 1, english), QStringLiteral("Backup finished — 1 account needs attention"));
    EXPECT_EQ(BackupRules::outcomeLine(false, 1234, 2, english),
              QStringLiteral("Backup finished — 2 accounts need attention · 1,234 new messages saved"));
    EXPECT_EQ(BackupRules::outcomeLine(true, 3, 1, english), QStringLiteral("Stopped"));
    EXPECT_EQ(BackupRules::attentionLine(1), QStringLiteral("Backup finished — 1 account needs attention"));
    EXPECT_EQ(BackupRules::attentionLine(3), QStringLiteral("Backup finished — 3 accounts need attention"));
    EXPECT_EQ(BackupRules::attentionLine(1000), QStringLiteral("Backup finished — 1000 accounts need attention"));
}

TEST(BackupRules, ScheduleTable) {
    const Date now = std::chrono::system_clock::time_point(std::chrono::seconds(1800000000));
    auto ago = [&](std::chrono::seconds s) { return std::optional<Date>(now - s); };
    struct Case {
        const char* name;
        std::optional<int> hours;
        std::vector<std::optional<Date>> backups;
        bool due;
    } cases[] = {
        {"never stored: six hours, not yet", std::nullopt, {ago(5h)}, false},
        {"never stored: six hours, due", std::nullopt, {ago(6h)}, true},
        {"zero counts as one hour", 0, {ago(1h)}, true},
        {"negative counts as one hour", -4, {ago(59min)}, false},
        {"no upper clamp", 1000, {ago(999h)}, false},
        {"never backed up at all", 2, {std::nullopt, std::nullopt}, true},
        {"the never-backed-up one is skipped", 1, {std::nullopt, ago(10min)}, false},
        {"oldest decides", 1, {ago(2h), ago(10min)}, true},
    };
    for (const auto& c : cases) {
        std::vector<MailAccount> accounts;
        for (const auto& b : c.backups) accounts.push_back(makeAccount("A", {"INBOX"}, b));
        EXPECT_EQ(BackupRules::due(accounts, {}, BackupRules::scheduleHours(c.hours), now), c.due) << c.name;
    }
    // A failing account's last try counts like a backup.
    auto failing = makeAccount("Failing", {"INBOX"});
    std::map<QString, Date> attempts{{BackupRules::problemKey(failing), now - 10min}};
    EXPECT_FALSE(BackupRules::due({failing}, attempts, 1, now));
    EXPECT_TRUE(BackupRules::due({failing}, attempts, 1, now + 50min));
}

// ---- the run, against scripted engines

namespace {

// An engine whose behaviour per account label is scripted by the test.
struct ScriptedEngine {
    struct Step {
        std::vector<BackupProgress> reports;
        std::int64_t newMessages = 0;
        std::exception_ptr error;
        bool waitForStop = false;  // blocks until the run is stopped, then throws CancellationError
    };
    std::map<std::string, Step> steps;
    std::vector<std::string> ran;
    std::mutex mutex;

    BackupOrchestrator::Engine engine() {
        return [this](const ArchiveLayout&, const MailAccount& account, const std::string&,
                      const BackupRunner::ProgressHandler& progress, std::stop_token stop) {
            Step step;
            {
                std::lock_guard lock(mutex);
                ran.push_back(account.label);
                step = steps[account.label];
            }
            for (const auto& r : step.reports) progress(r);
            if (step.waitForStop) {
                while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
                throw CancellationError();
            }
            if (step.error) std::rethrow_exception(step.error);
            BackupSummary s;
            s.newMessages = step.newMessages;
            return s;
        };
    }
};

}  // namespace

TEST(BackupRun, SecondRunOpensTheLedgerAndNoAccountsOpensAddAccount) {
    FakeBackupStore store;
    ScriptedEngine engine;
    BackupOrchestrator backups(store.host(engine.engine()));

    backups.backUpNow(std::nullopt);
    EXPECT_TRUE(store.showAddAccount);
    EXPECT_FALSE(store.status.running);
    EXPECT_TRUE(store.statusHistory.empty());

    store.accounts = {makeAccount("Work", {"INBOX"})};
    store.passwords["Work"] = "pw";
    engine.steps["Work"].waitForStop = true;
    backups.backUpNow(std::nullopt);
    ASSERT_TRUE(store.status.running);
    const BackupStatus during = store.status;
    const Ledger ledgerDuring = store.ledger;
    backups.backUpNow(std::nullopt);
    EXPECT_TRUE(store.showBackupActivity);
    EXPECT_TRUE(store.status.running);
    EXPECT_EQ(store.status.accountCount, during.accountCount);
    EXPECT_EQ(store.status.progress, during.progress);
    EXPECT_EQ(store.ledger, ledgerDuring);
    backups.cancel();
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
}

TEST(BackupRun, MissingPasswordCountsAsAProblemWhileTheNextAccountRuns) {
    FakeBackupStore store;
    ScriptedEngine engine;
    auto noPassword = makeAccount("Home", {"INBOX"});
    auto work = makeAccount("Work", {"INBOX", "Sent"});
    auto other = makeAccount("Other", {"INBOX"});
    store.accounts = {noPassword, work};
    store.passwords["Work"] = "pw";
    // Lines and problems of accounts outside the run stay as they were.
    store.ledger[BackupRules::ledgerKey(other, "INBOX")] = LedgerLine{false, 7, 7, true, 7};
    store.problems[BackupRules::problemKey(other)] = {"Sign-in failed", "Check the password."};
    store.ledger[BackupRules::ledgerKey(work, "INBOX")] = LedgerLine{false, 9, 9, true, 9};
    engine.steps["Work"].reports = {report("INBOX", "Downloading", 1, 2), report("Sent", "Checking", 0, 3, {{"INBOX", 2}})};
    engine.steps["Work"].newMessages = 2;

    BackupOrchestrator backups(store.host(engine.engine()));
    backups.backUpNow(std::nullopt);
    // The run's own lines start from zero.
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(work, "INBOX")], LedgerLine{});
    EXPECT_EQ(store.status.accountCount, 2);
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));

    ASSERT_EQ(store.toasts.size(), 1u);
    EXPECT_EQ(store.toasts[0].text, QStringLiteral("Backup finished — 1 account needs attention"));
    EXPECT_EQ(store.toasts[0].symbol, QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(store.toasts[0].tint, Theme::caution);
    // The outcome says first that an account failed, then what was saved.
    EXPECT_EQ(store.status.lastMessage, QStringLiteral("Backup finished — 1 account needs attention · 2 new messages saved"));
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(noPassword, "INBOX")], (LedgerLine{false, 0, 0, false, 0, true}));
    // Titles of every kept problem, also the other account's.
    ASSERT_TRUE(store.status.lastError);
    EXPECT_TRUE(store.status.lastError->contains(QStringLiteral("No saved password")));
    EXPECT_TRUE(store.status.lastError->contains(QStringLiteral("Sign-in failed")));
    EXPECT_EQ(store.problems[BackupRules::problemKey(noPassword)].advice,
              "Remove the account and add it again with a fresh app-specific password.");

    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(work, "INBOX")], (LedgerLine{false, 2, 2, true, 2}));
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(work, "Sent")], (LedgerLine{false, 0, 3, false, 0}));  // no longer running
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(other, "INBOX")], (LedgerLine{false, 7, 7, true, 7}));
    EXPECT_EQ(store.status.lastFinished, store.now);
    EXPECT_EQ(store.accounts[1].lastBackup, store.now);
    EXPECT_FALSE(store.accounts[0].lastBackup);
    EXPECT_EQ(engine.ran, std::vector<std::string>{"Work"});
    EXPECT_EQ(store.reloads, 2);  // after the account that ran, and at the end
}

TEST(BackupRun, TwoAccountsWithTheSameLabelKeepTheirOwnProblems) {
    FakeBackupStore store;
    ScriptedEngine engine;
    auto first = makeAccount("Mail", {"INBOX"});
    auto second = makeAccount("Mail", {"INBOX"});
    store.accounts = {first, second};
    store.passwords["Mail"] = "pw";
    engine.steps["Mail"].error = std::make_exception_ptr(std::runtime_error("disk trouble"));
    BackupOrchestrator backups(store.host(engine.engine()));

    backups.backUpNow(std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
    EXPECT_EQ(store.problems.size(), 2);
    EXPECT_EQ(store.toasts.back().text, QStringLiteral("Backup finished — 2 accounts need attention"));

    // A run of the second one clears its own problem only.
    engine.steps["Mail"].error = nullptr;
    backups.backUpNow(second);
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
    EXPECT_TRUE(store.problems.contains(BackupRules::problemKey(first)));
    EXPECT_FALSE(store.problems.contains(BackupRules::problemKey(second)));
}

TEST(BackupRun, OutcomePrecedence) {
    struct Case {
        const char* name;
        std::int64_t newMessages;
        bool cancel;
        bool failAfterStop;
        const char* toast;
        const char* symbol;
        ThemeColor tint;
        const char* lastMessage;
    } cases[] = {
        {"one saved", 1, false, false, "1 new message saved", "checkmark.shield.fill", Theme::seal,
         "1 new message saved"},
        {"nothing new", 0, false, false, "Everything was already in the vault", "checkmark.shield.fill",
         Theme::seal, "Everything was already in the vault"},
        {"stopped", 0, true, false, "Stopped", "stop.circle.fill", Theme::ink2, "Stopped"},
        {"stopped, engine failed instead", 0, true, true, "Backup finished — 1 account needs attention",
         "exclamationmark.triangle.fill", Theme::caution, "Stopped"},
    };
    for (const auto& c : cases) {
        FakeBackupStore store;
        ScriptedEngine engine;
        store.accounts = {makeAccount("First", {"INBOX"}), makeAccount("Second", {"INBOX"})};
        store.passwords = {{"First", "pw"}, {"Second", "pw"}};
        std::atomic<bool> started{false};
        auto eng = [&](const ArchiveLayout& l, const MailAccount& a, const std::string& p,
                       const BackupRunner::ProgressHandler& progress, std::stop_token stop) -> BackupSummary {
            if (c.cancel && a.label == "First") {
                started = true;
                progress(report("INBOX", "Downloading", 1, 5));
                while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
                if (c.failAfterStop) throw std::runtime_error("connection lost");
                throw CancellationError();
            }
            BackupSummary s;
            s.newMessages = a.label == "First" ? c.newMessages : 0;
            return s;
        };
        BackupOrchestrator backups(store.host(eng));
        backups.backUpNow(std::nullopt);
        if (c.cancel) {
            ASSERT_TRUE(spinUntil([&] { return started.load() && store.ledger[BackupRules::ledgerKey(store.accounts[0], "INBOX")].running; })) << c.name;
            backups.cancel();
        }
        ASSERT_TRUE(spinUntil([&] { return !store.status.running; })) << c.name;
        ASSERT_EQ(store.toasts.size(), 1u) << c.name;
        EXPECT_EQ(store.toasts[0].text, QString::fromUtf8(c.toast)) << c.name;
        EXPECT_EQ(store.toasts[0].symbol, QString::fromUtf8(c.symbol)) << c.name;
        EXPECT_EQ(store.toasts[0].tint, c.tint) << c.name;
        EXPECT_EQ(store.status.lastMessage, QString::fromUtf8(c.lastMessage)) << c.name;
        if (c.cancel) {
            EXPECT_FALSE(store.ledger[BackupRules::ledgerKey(store.accounts[0], "INBOX")].running) << c.name;
            EXPECT_EQ(store.ledger[BackupRules::ledgerKey(store.accounts[1], "INBOX")], LedgerLine{}) << c.name;  // never touched
            EXPECT_FALSE(store.accounts[1].lastBackup) << c.name;
        }
    }
}

// What a finished run left out (a folder the server refused, a message too
// large to receive) is a failure of those folders: the account's note names
// it while the rest counts as backed up. Deletion marks it took off are told
// in the note without counting as a failure.
TEST(BackupRun, WhatARunLeftOutIsTheAccountsNote) {
    struct Case {
        const char* name;
        bool refused, skipped, unflagged;
        const char* title;
        const char* toast;
    } cases[] = {
        {"refused and too large", true, true, false, "The server said no",
         "Backup finished — 1 account needs attention"},
        {"too large", false, true, false, "A message is too large to back up",
         "Backup finished — 1 account needs attention"},
        {"marks taken off", false, false, true, "Marks for deletion were taken off", "3 new messages saved"},
        {"nothing left out", false, false, false, nullptr, "3 new messages saved"},
    };
    for (const auto& c : cases) {
        FakeBackupStore store;
        auto work = makeAccount("Work", {"INBOX", "Private"});
        store.accounts = {work};
        store.passwords = {{"Work", "pw"}};
        auto eng = [&](const ArchiveLayout&, const MailAccount&, const std::string&,
                       const BackupRunner::ProgressHandler&, std::stop_token) -> BackupSummary {
            BackupSummary s;
            s.newMessages = 3;
            if (c.refused) s.refused.push_back({"Private", "Private", "The server said no", "EXAMINE was refused: no."});
            if (c.skipped) s.skipped.push_back({"INBOX", "Inbox", "Holiday video", 7, 600000000});
            if (c.unflagged) s.unflagged.push_back({"INBOX", "Inbox", 2});
            return s;
        };
        BackupOrchestrator backups(store.host(eng));
        backups.backUpNow(std::nullopt);
        ASSERT_TRUE(spinUntil([&] { return !store.status.running; })) << c.name;
        ASSERT_EQ(store.toasts.size(), 1u) << c.name;
        EXPECT_EQ(store.toasts[0].text, QString::fromUtf8(c.toast)) << c.name;
        EXPECT_EQ(store.accounts[0].lastBackup, store.now) << c.name;
        const QString key = BackupRules::problemKey(work);
        if (!c.title) {
            EXPECT_FALSE(store.problems.contains(key)) << c.name;
            continue;
        }
        ASSERT_TRUE(store.problems.contains(key)) << c.name;
        EXPECT_EQ(store.problems[key].title, c.title) << c.name;
        if (c.skipped)
            EXPECT_NE(store.problems[key].advice.find("\u201CHoliday video\u201D in Inbox is 600 MB"), std::string::npos)
                << c.name;
    }
}

// Reports that reach the GUI thread after their run has ended are dropped,
// also while a newer run is going: no line may be marked running by a run
// that has finished.
TEST(BackupRun, LateReportsOfAFinishedRunAreDropped) {
    FakeBackupStore store;
    store.accounts = {makeAccount("Work", {"INBOX"})};
    store.passwords["Work"] = "pw";
    // The first run's engine keeps a copy of its progress callback, which a
    // stray thread calls later; the second run waits until it is stopped.
    std::mutex m;
    BackupRunner::ProgressHandler kept;
    std::atomic<int> calls{0};
    auto eng = [&](const ArchiveLayout&, const MailAccount&, const std::string&,
                   const BackupRunner::ProgressHandler& progress, std::stop_token stop) {
        if (++calls == 1) {
            std::lock_guard lock(m);
            kept = progress;
            return BackupSummary{};
        }
        while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
        throw CancellationError();
    };
    BackupOrchestrator backups(store.host(eng));
    backups.backUpNow(std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
    backups.joinWorkers();
    auto stray = [&] {
        std::thread t([&] {
            std::lock_guard lock(m);
            kept(report("INBOX", "Downloading", 1, 9));
        });
        t.join();
        drainEvents();
    };

    stray();  // while idle
    EXPECT_FALSE(store.ledger[BackupRules::ledgerKey(store.accounts[0], "INBOX")].running);
    EXPECT_EQ(store.status.progress.messagesTotal, 0);

    backups.backUpNow(std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return calls.load() == 2; }));
    stray();  // while the next run works
    EXPECT_EQ(store.ledger[BackupRules::ledgerKey(store.accounts[0], "INBOX")], LedgerLine{});
    EXPECT_EQ(store.status.progress.messagesTotal, 0);
    backups.cancel();
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
}

TEST(BackupRun, ScheduleStartsOnlyWhenDueAndRetriesAFailingAccountOnlyAfterTheInterval) {
    FakeBackupStore store;
    ScriptedEngine engine;
    store.accounts = {makeAccount("Work", {"INBOX"})};
    store.passwords["Work"] = "pw";
    engine.steps["Work"].error = std::make_exception_ptr(std::runtime_error("locked"));
    BackupOrchestrator backups(store.host(engine.engine()));

    store.scheduleEnabled = false;
    backups.checkSchedule();
    EXPECT_FALSE(store.status.running);

    store.scheduleEnabled = true;
    backups.checkSchedule();  // never backed up: due
    EXPECT_TRUE(store.status.running);
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
    EXPECT_EQ(engine.ran.size(), 1u);

    // Five minutes later the failing account is not tried again...
    store.now += 5min;
    backups.checkSchedule();
    EXPECT_FALSE(store.status.running);
    // ...but six hours (the default) after the last try it is.
    store.now += 6h;
    backups.checkSchedule();
    EXPECT_TRUE(store.status.running);
    ASSERT_TRUE(spinUntil([&] { return !store.status.running; }));
    EXPECT_EQ(engine.ran.size(), 2u);
}
