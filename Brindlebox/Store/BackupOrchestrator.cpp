#include "Store/BackupOrchestrator.h"

#include "Imap/CancellationError.h"
#include "Theme/Theme.h"

namespace bx {

BackupOrchestrator::BackupOrchestrator(Host host, QObject* parent) : QObject(parent), host_(std::move(host)) {
    if (!host_.engine) host_.engine = realEngine();
    if (!host_.now) host_.now = [] { return std::chrono::system_clock::now(); };
}

BackupOrchestrator::~BackupOrchestrator() { workers_.stopAndJoin(); }

BackupOrchestrator::Engine BackupOrchestrator::realEngine() {
    return [](const ArchiveLayout& layout, const MailAccount& account, const std::string& password,
              const BackupRunner::ProgressHandler& progress, std::stop_token stop) {
        BackupRunner runner(layout, account, password);
        return runner.run(progress, stop);
    };
}

void BackupOrchestrator::backUpNow(const std::optional<MailAccount>& only) {
    if (current_) {
        host_.showBackupActivity();
        return;
    }
    std::vector<MailAccount> list = only ? std::vector<MailAccount>{*only} : host_.accounts();
    if (list.empty()) {
        host_.showAddAccount();
        return;
    }

    BackupStatus status = host_.status();
    status.running = true;
    status.progress = BackupProgress();
    status.accountIndex = 0;
    status.accountCount = int(list.size());
    status.lastMessage.reset();
    status.lastError.reset();
    host_.setStatus(status);

    BackupProblems problems = host_.problems();
    Ledger ledger = host_.ledger();
    for (const auto& account : list) {
        problems.remove(BackupRules::problemKey(account));
        BackupRules::resetLines(ledger, account);
    }
    host_.setProblems(problems);
    host_.setLedger(ledger);

    Run run;
    run.id = ++nextId_;
    run.accounts = std::move(list);
    run.layout = host_.layout();
    current_ = std::move(run);
    const quint64 id = current_->id;
    postTo(this, [this, id] {
        if (current_ && current_->id == id) next();
    });
}

void BackupOrchestrator::queue(const std::optional<MailAccount>& only) {
    if (!current_) {
        backUpNow(only);
        return;
    }
    const std::optional<UUID> id = only ? std::optional<UUID>(only->id) : std::nullopt;
    if (std::find(queued_.begin(), queued_.end(), id) == queued_.end()) queued_.push_back(id);
    host_.showBackupActivity();
}

void BackupOrchestrator::dropQueued(const UUID& id) {
    std::erase(queued_, std::optional<UUID>(id));
}

void BackupOrchestrator::startQueued() {
    while (!current_ && !queued_.empty()) {
        const std::optional<UUID> id = queued_.front();
        queued_.erase(queued_.begin());
        const std::vector<MailAccount> accounts = host_.accounts();
        if (!id) {
            if (!accounts.empty()) backUpNow(std::nullopt);
            continue;
        }
        const auto it = std::find_if(accounts.begin(), accounts.end(), [&](const MailAccount& a) { return a.id == *id; });
        if (it != accounts.end()) backUpNow(*it);
    }
}

std::vector<UUID> BackupOrchestrator::runAccounts() const {
    std::vector<UUID> ids;
    if (current_)
        for (const auto& a : current_->accounts) ids.push_back(a.id);
    for (const auto& id : queued_)
        if (id) ids.push_back(*id);
    return ids;
}

void BackupOrchestrator::cancel() {
    if (!current_) return;
    current_->cancelled = true;
    current_->stop.request_stop();
}

void BackupOrchestrator::recordProblem(const MailAccount& account, const FriendlyError::Message& message) {
    BackupProblems problems = host_.problems();
    problems[BackupRules::problemKey(account)] = message;
    host_.setProblems(problems);
    // Its folders say what is still missing, not how long ago they were done.
    Ledger ledger = host_.ledger();
    BackupRules::failUnfinishedLines(ledger, account);
    host_.setLedger(ledger);
}

void BackupOrchestrator::next() {
    while (current_) {
        Run& run = *current_;
        if (run.cancelled || run.index >= run.accounts.size()) {
            finish();
            return;
        }
        const MailAccount account = run.accounts[run.index];
        BackupStatus status = host_.status();
        status.accountIndex = int(run.index);
        status.accountID = account.id;
        host_.setStatus(status);

        const std::optional<std::string> password = host_.password(account);
        if (!password) {
            ++run.problems;
            recordProblem(account, {"No saved password",
                                    "Remove the account and add it again with a fresh app-specific password."});
            ++run.index;
            continue;
        }

        const quint64 id = run.id;
        const QString accountKey = BackupRules::accountKey(account.id);
        Engine engine = host_.engine;
        const ArchiveLayout layout = run.layout;
        const std::stop_token token = run.stop.get_token();
        // The worker's own stop source is not used: the run's covers every
        // account of the run.
        workers_.start([this, id, engine, layout, account, pw = *password, accountKey, token](std::stop_token) {
            std::optional<BackupSummary> summary;
            std::exception_ptr error;
            try {
                summary = engine(layout, account, pw,
                                 [this, id, accountKey](const BackupProgress& p) {
                                     postTo(this, [this, id, p, accountKey] { onProgress(id, p, accountKey); });
                                 },
                                 token);
            } catch (...) {
                error = std::current_exception();
            }
            postTo(this, [this, id, summary, error] { onAccountDone(id, summary, error); });
        });
        return;
    }
}

void BackupOrchestrator::onProgress(quint64 run, const BackupProgress& progress, const QString& accountKey) {
    if (!current_ || current_->id != run) return;  // a report of a finished run
    BackupStatus status = host_.status();
    Ledger ledger = host_.ledger();
    BackupRules::apply(status, ledger, progress, accountKey);
    host_.setStatus(status);
    host_.setLedger(ledger);
}

void BackupOrchestrator::onAccountDone(quint64 runId, std::optional<BackupSummary> summary,
                                       std::exception_ptr error) {
    if (!current_ || current_->id != runId) return;
    Run& run = *current_;
    const MailAccount account = run.accounts[run.index];
    const Date now = host_.now();
    lastAttempts_[BackupRules::problemKey(account)] = now;

    if (summary) {
        run.newMessages += summary->newMessages;
        host_.recordBackup(account.id, now);
        // Folders refused and messages too large are failures of their own
        // folders only; the account's note names them.
        if (auto note = FriendlyError::describe(*summary)) {
            if (!summary->refused.empty() || !summary->skipped.empty()) ++run.problems;
            recordProblem(account, *note);
        }
        host_.reloadArchive();
    } else {
        if (isCancellation(error)) {
            // The engine noticed the stop: nothing to record, the rest of
            // the accounts are skipped.
            run.cancelled = true;
            finish();
            return;
        }
        ++run.problems;
        recordProblem(account, FriendlyError::describe(error, account.server.host));
        host_.reloadArchive();
    }
    if (!current_ || current_->id != runId) return;
    ++current_->index;
    next();
}

void BackupOrchestrator::finish() {
    if (!current_) return;
    const Run run = std::move(*current_);
    current_.reset();

    Ledger ledger = host_.ledger();
    BackupRules::stopRunningLines(ledger);
    host_.setLedger(ledger);

    BackupStatus status = host_.status();
    status.running = false;
    status.accountID.reset();
    status.lastFinished = host_.now();
    status.lastError = run.problems > 0 ? std::optional<QString>(BackupRules::problemTitles(host_.problems()))
                                        : std::nullopt;
    const QString outcome = BackupRules::outcomeLine(run.cancelled, run.newMessages, run.problems);
    status.lastMessage = outcome;
    host_.setStatus(status);

    if (run.problems < 1) {
        if (run.cancelled)
            host_.toast(outcome, QStringLiteral("stop.circle.fill"), Theme::ink2);
        else
            host_.toast(outcome, QStringLiteral("checkmark.shield.fill"), Theme::seal);
    } else {
        host_.toast(BackupRules::attentionLine(run.problems), QStringLiteral("exclamationmark.triangle.fill"),
                    Theme::caution);
    }
    host_.reloadArchive();
    emit runFinished(run.id);
    startQueued();
}

void BackupOrchestrator::checkSchedule() {
    if (!host_.scheduleEnabled()) return;
    if (current_ || host_.status().running) return;
    const std::vector<MailAccount> accounts = host_.accounts();
    if (accounts.empty()) return;
    const int hours = BackupRules::scheduleHours(host_.scheduleHours());
    if (BackupRules::due(accounts, lastAttempts_, hours, host_.now())) backUpNow(std::nullopt);
}

}  // namespace bx
