#include "Store/BackupRules.h"

#include <algorithm>

namespace bx {

void BackupRules::resetLines(Ledger& ledger, const MailAccount& account) {
    for (const auto& mailbox : account.folders) ledger[ledgerKey(account, mailbox)] = LedgerLine{};
}

void BackupRules::apply(BackupStatus& status, Ledger& ledger, const BackupProgress& progress,
                        const QString& accountKey) {
    status.progress = progress;
    for (const auto& [folder, count] : progress.completed) {
        const QString key = ledgerKey(accountKey, folder);
        if (auto it = ledger.find(key); it != ledger.end() && it->finished) continue;
        ledger[key] = LedgerLine{false, count, count, true, count};
    }
    if (progress.mailbox.empty()) return;
    if (progress.completed.count(progress.mailbox)) return;
    if (progress.phase == "Done") return;
    ledger[ledgerKey(accountKey, progress.mailbox)] =
        LedgerLine{true, progress.messagesDone, progress.messagesTotal, false, 0};
}

void BackupRules::stopRunningLines(Ledger& ledger) {
    for (auto it = ledger.begin(); it != ledger.end(); ++it)
        if (it->running) it->running = false;
}

void BackupRules::failUnfinishedLines(Ledger& ledger, const MailAccount& account) {
    for (const auto& mailbox : account.folders) {
        LedgerLine& line = ledger[ledgerKey(account, mailbox)];
        if (line.finished) continue;
        line.running = false;
        line.failed = true;
    }
}

void BackupRules::removeLines(Ledger& ledger, const UUID& id) {
    const QString prefix = accountKey(id) + QLatin1Char('/');
    for (auto it = ledger.begin(); it != ledger.end();)
        it = it.key().startsWith(prefix) ? ledger.erase(it) : std::next(it);
}

QString BackupRules::outcomeLine(bool cancelled, std::int64_t newMessages, int problems, const QLocale& locale) {
    if (cancelled) return QStringLiteral("Stopped");
    QString saved;
    if (newMessages > 0) {
        QLocale grouped = locale;
        grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
        saved = grouped.toString(qlonglong(newMessages)) + QStringLiteral(" new message") +
                (newMessages == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" saved");
    }
    if (problems > 0) return saved.isEmpty() ? attentionLine(problems) : attentionLine(problems) + QStringLiteral(" · ") + saved;
    if (!saved.isEmpty()) return saved;
    return QStringLiteral("Everything was already in the vault");
}

QString BackupRules::attentionLine(int problems) {
    return QStringLiteral("Backup finished — ") + QString::number(problems) + QStringLiteral(" account") +
           (problems == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" need") +
           (problems == 1 ? QStringLiteral("s") : QString()) + QStringLiteral(" attention");
}

QString BackupRules::problemTitles(const BackupProblems& problems) {
    QStringList titles;
    for (const auto& message : problems) titles << QString::fromStdString(message.title);
    return titles.join(QLatin1Char('\n'));
}

int BackupRules::scheduleHours(std::optional<int> stored) {
    return std::max(1, stored.value_or(defaultScheduleHours));
}

bool BackupRules::due(const std::vector<MailAccount>& accounts, const std::map<QString, Date>& lastAttempts,
                      int hours, Date now) {
    std::optional<Date> oldest;
    for (const auto& account : accounts) {
        std::optional<Date> latest = account.lastBackup;
        if (auto it = lastAttempts.find(problemKey(account)); it != lastAttempts.end())
            latest = latest ? std::max(*latest, it->second) : it->second;
        if (!latest) continue;
        if (!oldest || *latest < *oldest) oldest = latest;
    }
    if (!oldest) return true;
    const double elapsed = std::chrono::duration<double>(now - *oldest).count();
    return double(hours) * 3600.0 <= elapsed;
}

}  // namespace bx
