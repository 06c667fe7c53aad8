#include "Vault/ArchiveLayout.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include "Util/AtomicFile.h"
#include "Util/Json.h"
#include "Vault/MailAccount.h"

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

void createFolders(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw std::system_error(ec, "cannot create " + dir.string());
}

bool createExclusive(const fs::path& path, std::string_view data, Date date, bool flush) {
    try {
        return createFileExclusive(path, data, date, flush);
    } catch (const std::system_error& e) {
        if (e.code() != std::errc::no_such_file_or_directory) throw;
    }
    // Folders are made when first needed rather than checked for every message.
    createFolders(path.parent_path());
    return createFileExclusive(path, data, date, flush);
}

}  // namespace

fs::path ArchiveLayout::defaultRoot() {
    const fs::path home = homeDirectory();
    const fs::path docs = xdgDocuments(home).value_or(home / "Documents");
    return docs / "Brindlebox";
}

fs::path ArchiveLayout::syncURL(const MailAccount& account) const { return syncURL(account.id); }

fs::path ArchiveLayout::syncURL(const UUID& accountID) const {
    return metaDirectory() / ("sync-" + accountID.string() + ".json");
}

void ArchiveLayout::ensure() const {
    std::error_code ec;
    fs::create_directories(metaDirectory(), ec);
    if (ec) throw std::system_error(ec, "cannot create " + metaDirectory().string());
}

AccountSyncState ArchiveLayout::loadSync(const MailAccount& account) const { return loadSync(account.id); }

AccountSyncState ArchiveLayout::loadSync(const UUID& accountID) const {
    const auto text = readFile(syncURL(accountID));
    if (!text) return AccountSyncState();
    try {
        return AccountSyncState::fromJSON(*text);
    } catch (const JSONDecodeError&) {
        return AccountSyncState();
    }
}

void ArchiveLayout::saveSync(const AccountSyncState& state, const MailAccount& account) const {
    saveSync(state, account.id);
}

void ArchiveLayout::saveSync(const AccountSyncState& state, const UUID& accountID) const {
    ensure();
    writeFileAtomically(syncURL(accountID), state.toJSON());
}

void ArchiveLayout::saveSyncText(std::string_view json, const MailAccount& account) const {
    ensure();
    writeFileAtomically(syncURL(account), json);
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

std::string ArchiveLayout::write(std::string_view data, std::string_view relative, Date date,
                                 Durability durability) const {
    std::string candidate(relative);
    const std::string stem = relative.size() >= 4 ? std::string(relative.substr(0, relative.size() - 4)) : "";
    long long counter = 2;
    for (;;) {
        const fs::path path = url(candidate);  // the first refuses a path outside the vault
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            // Only "no such file" means the name is free; anything else (no
            // permission, I/O error) must not be mistaken for it.
            if (errno != ENOENT) throwErrno("cannot check " + path.string(), errno);
            // The final link fails if the name appeared meanwhile; then the
            // newcomer is examined like any other existing file.
            if (createExclusive(path, data, date, durability == Durability::immediate)) return candidate;
            continue;
        }
        if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) == data.size()) {
            const auto existing = readFile(path);
            if (existing && *existing == data) return candidate;
        }
        candidate = stem + " (" + std::to_string(counter) + ").eml";
        ++counter;
    }
}

void ArchiveLayout::syncFiles(const std::vector<std::string>& relatives) const {
    if (relatives.empty()) return;
    // One flush of the file system that holds the files: a batch of new files
    // costs one journal commit rather than one per file.
    const fs::path first = url(relatives.front());
    const int fd = ::open(first.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwErrno("cannot open " + first.string(), errno);
    const int rc = ::syncfs(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0) throwErrno("cannot write " + first.string(), err);
}

}  // namespace bx
