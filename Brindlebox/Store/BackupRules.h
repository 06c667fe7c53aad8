#pragma once
// The backup run's state and the rules that fold engine reports into it,
// word its outcome and decide when an automatic run is due. Plain values and
// functions, so every rule is testable without a server or a clock.
#include "Engines/BackupProgress.h"
#include "Engines/FriendlyError.h"
#include "Store/StoreTypes.h"
#include "Theme/ThemeColor.h"
#include "Util/Date.h"
#include "Vault/MailAccount.h"

#include <QLocale>
#include <QMap>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bx {

// Ledger key: the account's id, "/", the raw mailbox name. Two accounts may
// share a label and so a folder name; their ids never clash.
using Ledger = QMap<QString, LedgerLine>;
// The last problem of each account, by problemKey(account). Two accounts
// may share a label, so the key is the account's id, never its label.
using BackupProblems = QMap<QString, FriendlyError::Message>;

struct BackupRules {
    static QString accountKey(const UUID& id) { return QString::fromStdString(id.string()); }
    static QString ledgerKey(const QString& accountKey, const std::string& mailbox) {
        return accountKey + QLatin1Char('/') + QString::fromStdString(mailbox);
    }
    static QString ledgerKey(const MailAccount& account, const std::string& mailbox) {
        return ledgerKey(accountKey(account.id), mailbox);
    }
    static QString problemKey(const MailAccount& account) { return accountKey(account.id); }

    // A zero line for every chosen folder of the account.
    static void resetLines(Ledger& ledger, const MailAccount& account);

    // Folds one engine report into the status and the ledger: completed
    // folders are written once per run and never overwritten; the folder
    // being worked on gets a running line unless the report says it is done.
    static void apply(BackupStatus& status, Ledger& ledger, const BackupProgress& progress, const QString& accountKey);

    // Lines still marked running when the run ends stop running.
    static void stopRunningLines(Ledger& ledger);
    // The account's run failed: every chosen folder it had not finished is
    // marked failed (and no longer running), keeping what it saved.
    static void failUnfinishedLines(Ledger& ledger, const MailAccount& account);
    // Lines of an account that is gone.
    static void removeLines(Ledger& ledger, const UUID& id);

    // "Stopped", "1 new message saved", "1,234 new messages saved" (grouped
    // as `locale` groups digits) or "Everything was already in the vault".
    // A run in which accounts failed says so first, as attentionLine does,
    // then what it saved: it never reads as if everything was checked.
    static QString outcomeLine(bool cancelled, std::int64_t newMessages, int problems = 0,
                               const QLocale& locale = QLocale());
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
    static bool due(const std::vector<MailAccount>& accounts, const std::map<QString, Date>& lastAttempts,
                    int hours, Date now);
};

}  // namespace bx
