#pragma once
// Shared pieces of the store's long-work tests: an event-loop wait, a host
// that keeps the store's state in plain fields, and recorded toasts.
#include "Store/BackupOrchestrator.h"
#include "Store/ImportQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bx::test {

// Spins the event loop until `done` (the limit only keeps a broken build
// from hanging; no test depends on timing).
template <typename F>
bool spinUntil(F done, int limitMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return done();
}

inline void drainEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

struct ToastRecord {
    QString text;
    QString symbol;
    ThemeColor tint;
};

inline MailAccount makeAccount(const std::string& label, std::vector<std::string> folders,
                               std::optional<Date> lastBackup = std::nullopt) {
    return MailAccount(UUID::random(), label, "user", IMAPServer("mail.example.com", 993, false), "custom",
                       std::move(folders), {}, lastBackup);
}

// The store's side of a backup run, as plain fields.
struct FakeBackupStore {
    std::vector<MailAccount> accounts;
    ArchiveLayout layout{"/nonexistent-vault"};
    std::map<std::string, std::string> passwords;  // by label
    BackupStatus status;
    Ledger ledger;
    BackupProblems problems;
    std::vector<ToastRecord> toasts;
    int reloads = 0;
    int saves = 0;
    bool showBackupActivity = false;
    bool showAddAccount = false;
    bool scheduleEnabled = true;
    std::optional<int> scheduleHours;
    Date now = std::chrono::system_clock::time_point(std::chrono::seconds(1800000000));
    std::vector<BackupStatus> statusHistory;

    BackupOrchestrator::Host host(BackupOrchestrator::Engine engine) {
        BackupOrchestrator::Host h;
        h.accounts = [this] { return accounts; };
        h.layout = [this] { return layout; };
        h.password = [this](const MailAccount& a) -> std::optional<std::string> {
            auto it = passwords.find(a.label);
            if (it == passwords.end()) return std::nullopt;
            return it->second;
        };
        h.status = [this] { return status; };
        h.setStatus = [this](const BackupStatus& s) {
            status = s;
            statusHistory.push_back(s);
        };
        h.ledger = [this] { return ledger; };
        h.setLedger = [this](const Ledger& l) { ledger = l; };
        h.problems = [this] { return problems; };
        h.setProblems = [this](const BackupProblems& p) { problems = p; };
        h.recordBackup = [this](const UUID& id, Date when) {
            for (auto& a : accounts)
                if (a.id == id) {
                    a.lastBackup = when;
                    ++saves;
                }
        };
        h.reloadArchive = [this] { ++reloads; };
        h.toast = [this](const QString& text, const QString& symbol, const ThemeColor& tint) {
            toasts.push_back({text, symbol, tint});
        };
        h.showBackupActivity = [this] { showBackupActivity = true; };
        h.showAddAccount = [this] { showAddAccount = true; };
        h.scheduleEnabled = [this] { return scheduleEnabled; };
        h.scheduleHours = [this] { return scheduleHours; };
        h.now = [this] { return now; };
        h.engine = std::move(engine);
        return h;
    }
};

}  // namespace bx::test
