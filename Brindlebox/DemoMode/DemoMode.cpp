#include "DemoMode/DemoMode.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

void writeAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n <= 0) return;
        done += n;
    }
}

// A file of the vault to be: its place, its bytes, and the modification
// time it must carry (none: the time of writing).
struct PlannedFile {
    fs::path path;
    QByteArray data;
    std::optional<Date> modified;
};

bool sameBytes(int fd, const QByteArray& data) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != data.size()) return false;
    std::string buffer(static_cast<size_t>(data.size()), '\0');
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return std::memcmp(buffer.data(), data.constData(), buffer.size()) == 0;
}

// Writes the planned files under `root` and removes everything else there.
// A vault from an earlier run is mostly the same bytes: those files are only
// re-dated, since creating thousands of files right after deleting them is
// what makes the file system slow. Links are removed, never followed: files
// open with O_NOFOLLOW, and the walk does not descend into links.
void writeTree(const fs::path& root, const std::vector<PlannedFile>& files) {
    std::error_code ec;
    std::set<fs::path> wanted;
    for (const auto& f : files) wanted.insert(f.path);
    std::vector<fs::path> doomed;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        if (ec) break;
        if (fs::is_directory(st)) continue;
        if (!fs::is_regular_file(st) || !wanted.count(it->path())) doomed.push_back(it->path());
    }
    ec.clear();
    for (const auto& p : doomed) fs::remove(p, ec);

    std::set<fs::path> madeDirs;
    for (const auto& f : files)
        if (madeDirs.insert(f.path.parent_path()).second) fs::create_directories(f.path.parent_path(), ec);
    auto writeOne = [](const PlannedFile& f) {
        int fd = ::open(f.path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && !sameBytes(fd, f.data)) {
            if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
                ::close(fd);
                fd = -1;
                ::unlink(f.path.c_str());
            } else {
                writeAll(fd, f.data);
            }
        } else if (fd < 0) {
            if (errno == ELOOP) ::unlink(f.path.c_str());
            fd = ::open(f.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0) return;
            writeAll(fd, f.data);
        }
        if (fd < 0) return;
        struct timespec times[2];
        times[0].tv_nsec = UTIME_OMIT;
        if (f.modified) {
            const auto seconds = secondsSince1970(*f.modified);
            times[1].tv_sec = static_cast<time_t>(seconds);
            times[1].tv_nsec = 0;
        } else {
            times[1].tv_nsec = UTIME_NOW;
        }
        ::futimens(fd, times);
        ::close(fd);
    };
    // Creating a file is mostly waiting on the file system; a few writers in
    // parallel, each on its own files, keep it busy.
    constexpr size_t writers = 4;
    std::vector<std::thread> threads;
    for (size_t w = 0; w < writers; ++w)
        threads.emplace_back([&, w] {
            for (size_t i = w; i < files.size(); i += writers) writeOne(files[i]);
        });
    for (auto& t : threads) t.join();
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

    std::vector<PlannedFile> files;

    void store(const ArchiveLayout& layout, const std::string& account, const std::string& folder, std::uint32_t uid,
               const std::string& rel, QByteArray data, std::optional<Date> modified) {
        FolderState& state = sync.at(account).folders.at(folder);
        state.files[std::to_string(uid)] = rel;
        (*state.sizes)[std::to_string(uid)] = data.size();
        if (auto url = layout.resolve(rel)) files.push_back(PlannedFile{*url, std::move(data), modified});
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
    // Anything at the root but a real folder goes, a link as a link (never
    // what it points to); a folder of an earlier run is brought up to date.
    if (!fs::is_directory(fs::symlink_status(root, ec))) fs::remove_all(root, ec);
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
    VaultBuilder vault;
    vault.now = now;
    try {
        const std::string accounts = encodeJSON(std::vector<MailAccount>{personal, studio}).dump();
        vault.files.push_back(PlannedFile{layout.accountsURL(), QByteArray::fromStdString(accounts), std::nullopt});
    } catch (const std::exception&) {
    }
    for (const auto& msg : DemoFiller::messages(now)) {
        const std::string mailbox = msg.account == "Personal" && msg.folder == "Sent" ? "Sent Messages" : msg.folder;
        const std::uint32_t uid = vault.record(msg.account, mailbox, "", 0, QDateTime::currentDateTime());
        const std::string rel = msg.account + "/" + mailbox + "/" +
                                FileNames::messagePath(toDate(msg.date), msg.subject, std::to_string(uid));
        vault.store(layout, msg.account, mailbox, uid, rel, msg.eml(), toDate(msg.date));
    }

    std::vector<const DemoMail*> featured;
    for (const auto& m : DemoMail::all()) featured.push_back(&m);
    std::stable_sort(featured.begin(), featured.end(),
                     [](const DemoMail* a, const DemoMail* b) { return a->daysAgo > b->daysAgo; });
    for (const DemoMail* m : featured) {
        const QDateTime date =
            QDateTime::currentDateTime().addMSecs(-static_cast<qint64>(m->daysAgo * 86400.0 * 1000.0));
        const std::uint32_t uid = vault.record(m->account, m->folder, "", 0, QDateTime::currentDateTime());
        const std::string rel =
            m->account + "/" + m->folder + "/" + FileNames::messagePath(toDate(date), m->subject, std::to_string(uid));
        vault.store(layout, m->account, m->folder, uid, rel, m->eml(date), std::nullopt);
    }
    try {
        writeTree(root, vault.files);
    } catch (const std::exception&) {
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
