#pragma once
// The backup run's state and the rules that fold engine reports into it,
// word its outcome and decide when an automatic run is due. Plain values and
// functions, so every rule is testable without a server or a clock.
#include "Engines/BackupProgress.h"
#include "Engines/FriendlyError.h"
#include "Theme/ThemeColor.h"
#include "Util/Date.h"
#include "Vault/MailAccount.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bx {

// One mail folder's line in the backup ledger, for the current or last run.
struct LedgerLine {
    bool running = false;
    std::int64_t done = 0;
    std::int64_t total = 0;
    bool finished = false;
    std::int64_t newMessages = 0;

    friend bool operator==(const LedgerLine&, const LedgerLine&) = default;
};

// The store's state of the backup run.
struct BackupStatus {
    bool running = false;
    BackupProgress progress;
    int accountIndex = 0;
    int accountCount = 0;
    std::optional<QString> lastMessage;
    std::optional<QString> lastError;
    std::optional<Date> lastFinished;

    friend bool operator==(const BackupStatus&, const BackupStatus&) = default;
};

// Ledger key: the account's vault folder, "/", the raw mailbox name.
using Ledger = std::map<std::string, LedgerLine>;
// The last problem of each account, by problemKey(account). Two accounts
// may share a label, so the key is the account's id, never its label.
using BackupProblems = std::map<std::string, FriendlyError::Message>;

struct BackupRules {
    static std::string ledgerKey(const std::string& accountDir, const std::string& mailbox) {
        return accountDir + "/" + mailbox;
    }
    static std::string problemKey(const MailAccount& account) { return account.id.string(); }

    // A zero line for every chosen folder of the account.
    static void resetLines(Ledger& ledger, const MailAccount& account);

    // Folds one engine report into the status and the ledger: completed
    // folders are written once per run and never overwritten; the folder
    // being worked on gets a running line unless the report says it is done.
    static void apply(BackupStatus& status, Ledger& ledger, const BackupProgress& progress,
                      const std::string& accountDir);

    // Lines still marked running when the run ends stop running.
    static void stopRunningLines(Ledger& ledger);

    // "Stopped", "1 new message saved", "1,234 new messages saved" (grouped
    // as `locale` groups digits) or "Everything was already in the vault".
    static QString outcomeLine(bool cancelled, std::int64_t newMessages, const QLocale& locale = QLocale());
    // "Backup finished — 1 account needs attention" / "… 3 accounts need attention".
    static QString attentionLine(int problems);

    // The titles of every kept problem, one per line.
    static QString problemTitles(const BackupProblems& problems);

    // Hours between automatic runs: the stored value floored at 1; nothing
    // stored means 6, the value the settings show.
    static constexpr int defaultScheduleHours = 6;
    static int scheduleHours(std::optional<int> stored);

    // Whether an automatic run is due: the oldest of the accounts' latest
    // backup-or-attempt times is at least `hours` old. Accounts without
    // either are skipped; with none at all a run is due.
    static bool due(const std::vector<MailAccount>& accounts, const std::map<std::string, Date>& lastAttempts,
                    int hours, Date now);
};

}  // namespace bx
