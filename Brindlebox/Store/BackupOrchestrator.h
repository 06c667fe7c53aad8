#pragma once
// Runs the store's backups: the chosen accounts one after another, each with
// its own BackupRunner on a worker thread, progress folded into the status
// and the ledger on the GUI thread, a problem kept per failed account, and a
// toast and a vault reload at the end. Also the automatic-run check.
//
// The state it works on (status, ledger, problems, accounts) belongs to its
// host, the store; it reaches it only through the Host functions, so the
// store keeps publishing its own properties.
//
// Every run has a number. Progress and results travel to the GUI thread as
// queued calls that carry that number; whatever arrives for a run that is no
// longer the running one is dropped, so a late report can never mark a
// ledger line running after its run has finished.
#include "Engines/BackupRunner.h"
#include "Store/BackupRules.h"
#include "Store/WorkerThreads.h"
#include "Theme/ThemeColor.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace bx {

class BackupOrchestrator : public QObject {
    Q_OBJECT
public:
    // The engine call: blocking, on a worker thread. The default makes a
    // BackupRunner and runs it.
    using Engine = std::function<BackupSummary(const ArchiveLayout&, const MailAccount&, const std::string& password,
                                               const BackupRunner::ProgressHandler&, std::stop_token)>;

    struct Host {
        std::function<std::vector<MailAccount>()> accounts;
        std::function<ArchiveLayout()> layout;
        std::function<std::optional<std::string>(const MailAccount&)> password;
        std::function<BackupStatus()> status;
        std::function<void(const BackupStatus&)> setStatus;
        std::function<Ledger()> ledger;
        std::function<void(const Ledger&)> setLedger;
        std::function<BackupProblems()> problems;
        std::function<void(const BackupProblems&)> setProblems;
        // The store's current copy of the account with this id gets the
        // date as its last backup and the accounts are saved; nothing when
        // the account is gone.
        std::function<void(const UUID&, Date)> recordBackup;
        std::function<void()> reloadArchive;
        std::function<void(const QString& text, const QString& symbol, const ThemeColor& tint)> toast;
        std::function<void()> showBackupActivity;
        std::function<void()> showAddAccount;
        std::function<bool()> scheduleEnabled;
        std::function<std::optional<int>()> scheduleHours;  // nullopt: never stored
        std::function<Date()> now;
        Engine engine;
    };

    explicit BackupOrchestrator(Host host, QObject* parent = nullptr);
    ~BackupOrchestrator() override;

    // Starts a run of one account, or of all when nil. Returns at once.
    void backUpNow(const std::optional<MailAccount>& only);
    // The same, but while a run is going the new one waits for it to end
    // (the ledger opens meanwhile). A waiting run of one account takes that
    // account as it is when it starts, and is dropped if it is gone by then.
    void queue(const std::optional<MailAccount>& only);
    // A removed account's waiting run goes.
    void dropQueued(const UUID& id);
    std::size_t queuedCount() const { return queued_.size(); }
    // Stops the running run (the engine notices between folders and batches).
    void cancel();
    // Starts an automatic run of all accounts when one is due.
    void checkSchedule();
    // The ids of the accounts the running run covers, done or still to come,
    // and of those with a run of their own waiting; empty while none runs.
    std::vector<UUID> runAccounts() const;

    bool isRunning() const { return current_.has_value(); }
    // Seconds between two automatic checks.
    static constexpr int scheduleInterval = 300;

    // Waits for the worker threads (tests and shutdown).
    void joinWorkers() { workers_.join(); }

    static Engine realEngine();

signals:
    // The run with this number has finished (after its toast and reload).
    void runFinished(quint64 run);

private:
    struct Run {
        quint64 id = 0;
        std::vector<MailAccount> accounts;
        ArchiveLayout layout;
        std::size_t index = 0;
        std::int64_t newMessages = 0;
        int problems = 0;
        bool cancelled = false;
        std::stop_source stop;
    };

    void next();
    void onProgress(quint64 run, const BackupProgress& progress, const QString& accountKey);
    void startQueued();
    void onAccountDone(quint64 run, std::optional<BackupSummary> summary, std::exception_ptr error);
    void finish();
    // The account's run failed: its problem, and its unfinished ledger lines marked.
    void recordProblem(const MailAccount& account, const FriendlyError::Message& message);

    Host host_;
    std::optional<Run> current_;
    // Runs asked for while one was going: an account's id, or nil for all.
    std::vector<std::optional<UUID>> queued_;
    quint64 nextId_ = 0;
    // Per account id: when its last try (successful or not) ended.
    std::map<QString, Date> lastAttempts_;
    WorkerThreads workers_;
};

}  // namespace bx
