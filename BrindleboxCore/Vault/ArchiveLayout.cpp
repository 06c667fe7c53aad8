#include "Vault/ArchiveLayout.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include "Util/AtomicFile.h"
#include "Util/FileHandle.h"
#include "Util/Json.h"
#include "Util/Unicode.h"
#include "Vault/MailAccount.h"
#include "Vault/SyncStateCodec.h"

namespace bx {

namespace fs = std::filesystem;

namespace {

fs::path homeDirectory() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs, a line such as
// XDG_DOCUMENTS_DIR="$HOME/Documents".
std::optional<fs::path> xdgDocuments(const fs::path& home) {
    const char* cfg = std::getenv("XDG_CONFIG_HOME");
    const fs::path file = (cfg && *cfg ? fs::path(cfg) : home / ".config") / "user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) return home / fs::path(value.substr(5)).relative_path();
        if (!value.empty() && value[0] == '/') return fs::path(value);
        return std::nullopt;
    }
    return std::nullopt;
}

[[noreturn]] void throwErrno(const std::string& what, int err) {
    throw std::system_error(err, std::generic_category(), what);
}

// The vault folder itself, made when missing. The root is the user's choice
// and may be reached through links; everything below it is walked without
// following any (see openFolderBeneath).
FileHandle openRoot(const fs::path& root, bool create) {
    if (create) createPrivateDirectories(root);
    FileHandle fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) throwErrno("cannot open " + root.string(), errno);
    return fd;
}

// "a/b/c.eml" -> ("a/b", "c.eml").
std::pair<std::string, std::string> splitLast(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    if (slash == std::string_view::npos) return {std::string(), std::string(relative)};
    return {std::string(relative.substr(0, slash)), std::string(relative.substr(slash + 1))};
}

}  // namespace

fs::path ArchiveLayout::defaultRoot() {
    const fs::path home = homeDirectory();
    const fs::path docs = xdgDocuments(home).value_or(home / "Documents");
    return docs / "Brindlebox";
}

fs::path ArchiveLayout::syncURL(const MailAccount& account) const {
    return syncURL(account.id);
}

fs::path ArchiveLayout::syncURL(const UUID& accountID) const {
    return metaDirectory() / ("sync-" + accountID.string() + ".json");
}

void ArchiveLayout::ensure() const {
    openStateFolder();
}

FileHandle ArchiveLayout::openStateFolder() const {
    const FileHandle top = openRoot(root, true);
    return openFolderBeneath(top.get(), metaDirectory().filename().string(), true, root);
}

AccountSyncState ArchiveLayout::loadSync(const MailAccount& account) const {
    return loadSync(account.id);
}

fs::path ArchiveLayout::syncJournalURL(const UUID& accountID) const {
    return metaDirectory() / ("sync-" + accountID.string() + ".journal");
}

std::uint64_t ArchiveLayout::syncJournalBytes(const UUID& accountID) const {
    struct stat st {};
    if (::stat(syncJournalURL(accountID).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

AccountSyncState ArchiveLayout::loadSync(const UUID& accountID) const {
    return AccountSyncState::from(loadSyncFolders(accountID));
}

SyncFolders ArchiveLayout::loadSyncFolders(const UUID& accountID) const {
    SyncFolders folders;
    if (const FileHandle file(::open(syncURL(accountID).c_str(), O_RDONLY | O_CLOEXEC)); file) {
        try {
            folders = readSyncFile(file.get());
        } catch (const JSONDecodeError&) {
            folders.clear();
        }
    }
    const FileHandle meta(::open(metaDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (meta) applySyncJournal(folders, readCompleteLines(meta.get(), syncJournalURL(accountID).filename().string()));
    return folders;
}

void ArchiveLayout::saveSync(const AccountSyncState& state, const MailAccount& account) const {
    saveSync(state.compact(), account);
}

void ArchiveLayout::saveSync(const AccountSyncState& state, const UUID& accountID) const {
    saveSync(state.compact(), accountID);
}

namespace {

SyncOwner ownerOf(const MailAccount& account) {
    return SyncOwner{account.server.host, account.server.port, account.username};
}

}  // namespace

void ArchiveLayout::saveSync(const SyncFolders& folders, const MailAccount& account) const {
    const SyncOwner owner = ownerOf(account);
    writeSync(folders, account.id, &owner);
}

void ArchiveLayout::saveSync(const SyncFolders& folders, const UUID& accountID) const {
    writeSync(folders, accountID, nullptr);
}

void ArchiveLayout::writeSync(const SyncFolders& folders, const UUID& accountID, const SyncOwner* owner) const {
    const FileHandle meta = openStateFolder();
    writeFileAtomicallyAt(
        meta.get(), syncURL(accountID).filename().string(),
        [&](const std::function<void(std::string_view)>& write) { writeSyncFile(folders, write, owner); },
        syncURL(accountID));
    // The saved file holds everything the journal did. Removed only after the
    // rename: a kill in between leaves a journal whose lines apply again
    // without changing anything.
    const std::string journal = syncJournalURL(accountID).filename().string();
    if (::unlinkat(meta.get(), journal.c_str(), 0) == 0) ::fsync(meta.get());
}

void ArchiveLayout::appendSyncJournal(const SyncFolder& batch, const UUID& accountID) const {
    std::string line;
    appendSyncFolder(line, batch);
    line += '\n';
    const FileHandle meta = openStateFolder();
    appendLines(meta.get(), syncJournalURL(accountID).filename().string(), line, true, syncJournalURL(accountID));
}

void ArchiveLayout::appendSyncJournal(std::string_view lines, const MailAccount& account) const {
    const FileHandle meta = openStateFolder();
    appendLines(meta.get(), syncJournalURL(account.id).filename().string(), lines, true, syncJournalURL(account.id));
}

bool ArchiveLayout::isSafeRelativePath(std::string_view relative) {
    if (relative.empty() || relative.front() == '/') return false;
    if (relative.find('\0') != std::string_view::npos) return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const std::string_view part =
            relative.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

std::optional<fs::path> ArchiveLayout::resolve(std::string_view relative) const {
    if (!isSafeRelativePath(relative)) return std::nullopt;
    return root / fs::path(relative);
}

fs::path ArchiveLayout::url(std::string_view relative) const {
    auto p = resolve(relative);
    if (!p) throw UnsafePathError(std::string(relative));
    return *p;
}

std::optional<std::string> ArchiveLayout::readRegularFile(std::string_view relative) const {
    if (!isSafeRelativePath(relative)) return std::nullopt;
    const FileHandle top(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top) return std::nullopt;
    const FileHandle file = openRegularFileBeneath(top.get(), relative);
    if (!file) return std::nullopt;
    return readAll(file.get());
}

std::string ArchiveLayout::write(std::string_view data, std::string_view relative, Date date,
                                 Durability durability) const {
    OpenFolders open;
    return write(data, relative, date, durability, open);
}

std::string ArchiveLayout::write(std::string_view data, std::string_view relative, Date date, Durability durability,
                                 OpenFolders& open) const {
    url(relative);  // refuses a path outside the vault
    if (!open.root) open.root = openRoot(root, true);
    std::string candidate(relative);
    const std::string stem = relative.size() >= 4 ? std::string(relative.substr(0, relative.size() - 4)) : "";
    long long counter = 2;
    for (;;) {
        const fs::path path = url(candidate);
        const auto [folderPart, name] = splitLast(candidate);
        if (open.path != folderPart) {
            // Every folder on the way is made or opened without following a
            // link, so no link inside the vault can send the file elsewhere.
            open.path.reset();
            open.folder = openFolderBeneath(open.root.get(), folderPart, true, root);
            open.path = folderPart;
        }
        FileHandle& folder = open.folder;
        struct stat st;
        if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Only "no such file" means the name is free; anything else (no
            // permission, I/O error) must not be mistaken for it.
            if (errno != ENOENT) throwErrno("cannot check " + path.string(), errno);
            // The final link fails if the name appeared meanwhile; then the
            // newcomer is examined like any other existing file.
            if (createFileExclusiveAt(folder.get(), name, data, date, durability == Durability::immediate, path))
                return candidate;
            continue;
        }
        if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) == data.size()) {
            const FileHandle existing(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            if (existing) {
                const auto bytes = readAll(existing.get());
                if (bytes && *bytes == data) return candidate;
            }
        }
        candidate = stem + " (" + std::to_string(counter) + ").eml";
        ++counter;
    }
}

namespace {

struct MessageFile {
    fs::path path;
    std::uintmax_t size;
};

// The plain .eml files below `folder`, links left out.
std::vector<MessageFile> messageFiles(const fs::path& folder) {
    std::vector<MessageFile> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) return files;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        const auto& entry = *it;
        if (!asciiEqualsIgnoringCase(entry.path().extension().string(), ".eml")) continue;
        std::error_code sec;
        const auto status = entry.symlink_status(sec);
        if (sec || !fs::is_regular_file(status)) continue;
        const auto size = entry.file_size(sec);
        if (sec) continue;
        files.push_back({entry.path(), size});
    }
    return files;
}

}  // namespace

std::map<std::int64_t, std::vector<std::string>> ArchiveLayout::filesBySize(const std::string& directory) const {
    std::map<std::int64_t, std::vector<std::string>> map;
    const auto folder = resolve(directory);
    if (!folder) return map;
    for (const auto& file : messageFiles(*folder))
        map[static_cast<std::int64_t>(file.size)].push_back(directory + "/" +
                                                            file.path.lexically_relative(*folder).generic_string());
    return map;
}

std::map<std::uint32_t, std::string> ArchiveLayout::filesByUID(const std::string& directory) const {
    std::map<std::uint32_t, std::string> result;
    const auto folder = resolve(directory);
    if (!folder) return result;
    auto files = messageFiles(*folder);
    std::sort(files.begin(), files.end(), [](const MessageFile& a, const MessageFile& b) { return a.path < b.path; });
    for (const auto& file : files) {
        const std::string stem = file.path.stem().string();
        std::string_view last;
        std::size_t pos = 0;
        while (pos < stem.size()) {
            std::size_t space = stem.find(' ', pos);
            if (space == std::string::npos) space = stem.size();
            if (space > pos) last = std::string_view(stem).substr(pos, space - pos);
            pos = space + 1;
        }
        const auto uid = parseDecimal<std::uint32_t>(last);
        if (!uid || result.count(*uid)) continue;
        result.emplace(*uid, directory + "/" + file.path.lexically_relative(*folder).generic_string());
    }
    return result;
}

namespace {

// The account folders a sync state files mail in, with how many of its
// mailboxes use each.
std::map<std::string, int> accountFoldersOf(const SyncFolders& folders) {
    std::map<std::string, int> uses;
    for (const auto& [mailbox, state] : folders) {
        const std::string& directory = state.directory;
        const std::string top = directory.substr(0, directory.find('/'));
        if (!top.empty()) ++uses[top];
    }
    return uses;
}

// The id in a sync file name "sync-<id>.json".
std::optional<UUID> syncFileID(const std::string& name) {
    const std::string prefix = "sync-", suffix = ".json";
    if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    return UUID::parse(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
}

}  // namespace

std::string ArchiveLayout::accountFolder(const MailAccount& account) const {
    const auto own = accountFoldersOf(loadSyncFolders(account.id));
    if (!own.empty())
        return std::max_element(own.begin(), own.end(), [](const auto& a, const auto& b) { return a.second < b.second; })
            ->first;
    const std::string base = account.directoryName();
    bool claimed = false;
    std::error_code ec;
    for (fs::directory_iterator it(metaDirectory(), ec), end; !ec && !claimed && it != end; it.increment(ec)) {
        const auto id = syncFileID(it->path().filename().string());
        if (!id || *id == account.id) continue;
        const FileHandle file(::open(it->path().c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) continue;
        try {
            claimed = accountFoldersOf(readSyncFile(file.get())).count(base) > 0;
        } catch (const std::exception&) {
        }
    }
    return claimed ? base + " (" + account.id.string().substr(0, 8) + ")" : base;
}

void ArchiveLayout::nameSyncOwner(const MailAccount& account) const {
    std::ifstream in(syncURL(account), std::ios::binary);
    if (!in || readSyncOwner(in)) return;
    try {
        const SyncFolders folders = loadSyncFolders(account.id);
        if (!folders.empty()) saveSync(folders, account);
    } catch (const std::exception&) {
    }
}

bool ArchiveLayout::adoptSync(const MailAccount& account, const std::vector<UUID>& current) const {
    std::error_code ec;
    if (fs::exists(syncURL(account), ec) || fs::exists(syncJournalURL(account.id), ec)) return false;
    const SyncOwner wanted = ownerOf(account);
    std::optional<UUID> chosen;
    fs::file_time_type newest;
    for (fs::directory_iterator it(metaDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const auto id = syncFileID(it->path().filename().string());
        if (!id || *id == account.id || std::find(current.begin(), current.end(), *id) != current.end()) continue;
        std::ifstream in(it->path(), std::ios::binary);
        const auto owner = in ? readSyncOwner(in) : std::nullopt;
        if (!owner || !owner->matches(wanted)) continue;
        std::error_code tec;
        const auto when = fs::last_write_time(it->path(), tec);
        if (tec) continue;
        if (!chosen || when > newest) chosen = id, newest = when;
    }
    if (!chosen) return false;
    try {
        const FileHandle meta = openStateFolder();
        // The file first: a journal left behind holds only entries whose
        // files are in the vault already, which a backup recognises again.
        const std::string from = syncURL(*chosen).filename().string(), to = syncURL(account).filename().string();
        if (::renameat(meta.get(), from.c_str(), meta.get(), to.c_str()) != 0) return false;
        const std::string journalFrom = syncJournalURL(*chosen).filename().string();
        const std::string journalTo = syncJournalURL(account.id).filename().string();
        ::renameat(meta.get(), journalFrom.c_str(), meta.get(), journalTo.c_str());
        ::fsync(meta.get());
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void ArchiveLayout::syncFiles(const std::vector<std::string>& relatives) const {
    if (relatives.empty()) return;
    // One flush of the file system that holds the files: a batch of new files
    // costs one journal commit rather than one per file.
    const FileHandle top = openRoot(root, false);
    const fs::path first = url(relatives.front());
    const FileHandle folder = openFolderBeneath(top.get(), splitLast(relatives.front()).first, false, root);
    if (::syncfs(folder.get()) != 0) throwErrno("cannot write " + first.string(), errno);
}

}  // namespace bx
