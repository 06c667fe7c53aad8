#include "DemoMode/DemoMode.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <system_error>

#include "DemoMode/DemoFiller.h"
#include "DemoMode/DemoMail.h"
#include "DemoMode/DemoOwner.h"
#include "Store/ProviderPreset.h"
#include "Util/AtomicFile.h"
#include "Vault/AccountSyncState.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/FileNames.h"
#include "Vault/MailAccount.h"

namespace bx {

std::vector<std::pair<std::string, QByteArray>> DemoMode::pending;

namespace {

namespace fs = std::filesystem;

Date toDate(const QDateTime& d) { return dateFromSeconds(d.toSecsSinceEpoch()); }

bool writePlain(const fs::path& path, const QByteArray& data) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(data.constData(), data.size());
    return static_cast<bool>(out);
}

struct VaultBuilder {
    QDateTime now;
    std::map<std::string, std::uint32_t> counters;
    std::map<std::string, AccountSyncState> sync{{"Personal", {}}, {"Studio", {}}};

    std::uint32_t record(const std::string& account, const std::string& folder, const std::string& rel,
                         std::int64_t size, const QDateTime& clock) {
        const std::string key = account + "/" + folder;
        auto it = counters.find(key);
        const std::uint32_t last = it == counters.end() ? 101 : it->second;
        counters[key] = last + (last % 3) + 1;
        auto& folders = sync.at(account).folders;
        auto fit = folders.find(folder);
        if (fit == folders.end()) fit = folders.emplace(folder, FolderState(folder, account + "/" + folder, 1)).first;
        FolderState& state = fit->second;
        const std::string uid = std::to_string(last);
        state.files[uid] = rel;
        if (!state.sizes) state.sizes.emplace();
        (*state.sizes)[uid] = size;
        state.highestUID = std::max(state.highestUID, last);
        state.lastRun = toDate(clock.addSecs(-7200));
        return last;
    }

    void store(const ArchiveLayout& layout, const std::string& account, const std::string& folder, std::uint32_t uid,
               const std::string& rel, const QByteArray& data) {
        FolderState& state = sync.at(account).folders.at(folder);
        state.files[std::to_string(uid)] = rel;
        (*state.sizes)[std::to_string(uid)] = data.size();
        if (auto url = layout.resolve(rel)) writePlain(*url, data);
    }
};

}  // namespace

fs::path DemoMode::archiveRoot() {
    try {
        return privateTempDirectory() / "Brindlebox-demo-archive";
    } catch (const std::exception&) {
        // No private folder to be had: a root that cannot be written, so the
        // store opens an empty vault rather than one in a shared place.
        return fs::path("/nonexistent") / "Brindlebox-demo-archive";
    }
}

fs::path DemoMode::prepareArchive(const QDateTime& now) {
    const fs::path root = archiveRoot();
    std::error_code ec;
    // remove_all removes a link itself, never what it points to.
    fs::remove_all(root, ec);
    const ArchiveLayout layout(root);
    try {
        layout.ensure();
    } catch (const std::exception&) {
    }

    const IMAPMailbox inbox("INBOX", "INBOX", "/", {"\\HasNoChildren"});
    const MailAccount personal(*UUID::parse(personalID), "Personal", demo::Owner::personal,
                               IMAPServer(ProviderPreset::named("icloud").host.toStdString(), 993, false), "icloud", {"INBOX", "Sent Messages"},
                               {inbox, IMAPMailbox("Sent Messages", "Sent Messages", "/", {"\\Sent"})},
                               toDate(QDateTime::currentDateTime().addSecs(-7200)));
    const MailAccount studio(*UUID::parse(studioID), "Studio", demo::Owner::studio,
                             IMAPServer(ProviderPreset::named("fastmail").host.toStdString(), 993, false), "fastmail", {"INBOX", "Sent"},
                             {inbox, IMAPMailbox("Sent", "Sent", "/", {"\\Sent"})},
                             toDate(QDateTime::currentDateTime().addSecs(-7200)));
    try {
        const std::string accounts = encodeJSON(std::vector<MailAccount>{personal, studio}).dump();
        writePlain(layout.accountsURL(), QByteArray::fromStdString(accounts));
    } catch (const std::exception&) {
    }

    // The accounts' sync maps come from the member initialiser; an explicit {}
    // here would leave them out.
    VaultBuilder vault{now, {}};
    for (const auto& msg : DemoFiller::messages(now)) {
        const std::string mailbox = msg.account == "Personal" && msg.folder == "Sent" ? "Sent Messages" : msg.folder;
        const std::uint32_t uid = vault.record(msg.account, mailbox, "", 0, QDateTime::currentDateTime());
        const std::string rel = msg.account + "/" + mailbox + "/" +
                                FileNames::messagePath(toDate(msg.date), msg.subject, std::to_string(uid));
        const QByteArray data = msg.eml();
        vault.store(layout, msg.account, mailbox, uid, rel, data);
        if (auto url = layout.resolve(rel)) {
            try {
                setModificationTime(*url, toDate(msg.date));
            } catch (const std::exception&) {
            }
        }
    }

    std::vector<const DemoMail*> featured;
    for (const auto& m : DemoMail::all()) featured.push_back(&m);
    std::stable_sort(featured.begin(), featured.end(),
                     [](const DemoMail* a, const DemoMail* b) { return a->daysAgo > b->daysAgo; });
    for (const DemoMail* m : featured) {
        const QDateTime date =
            QDateTime::currentDateTime().addMSecs(-static_cast<qint64>(m->daysAgo * 86400.0 * 1000.0));
        const QByteArray data = m->eml(date);
        const std::uint32_t uid = vault.record(m->account, m->folder, "", 0, QDateTime::currentDateTime());
        const std::string rel =
            m->account + "/" + m->folder + "/" + FileNames::messagePath(toDate(date), m->subject, std::to_string(uid));
        vault.store(layout, m->account, m->folder, uid, rel, data);
    }

    for (const auto& [account, label] : {std::pair{&personal, "Personal"}, std::pair{&studio, "Studio"}}) {
        try {
            layout.saveSync(vault.sync.at(label), *account);
        } catch (const std::exception&) {
        }
    }
    pending.clear();
    return root;
}

}  // namespace bx
