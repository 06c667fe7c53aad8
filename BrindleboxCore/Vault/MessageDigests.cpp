#include "Vault/MessageDigests.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "Util/AtomicFile.h"
#include "Util/FileHandle.h"

namespace bx {

namespace fs = std::filesystem;

namespace {

std::string hex(const unsigned char* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool isDigest(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// f(path, digest) for each complete, well-formed line, in order.
template <class F>
void forEachRecord(std::string_view text, F&& f) {
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;  // no line end: cut short
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() < 66 || line[64] != ' ' || !isDigest(line.substr(0, 64))) continue;
        f(line.substr(65), line.substr(0, 64));
    }
}

std::map<std::string, std::string, std::less<>> parse(std::string_view text) {
    std::map<std::string, std::string, std::less<>> out;
    forEachRecord(text, [&](std::string_view path, std::string_view digest) { out[std::string(path)] = digest; });
    return out;
}

// The copy check asks for one item after another, or a run of items, mostly
// of one folder: the last digest file read is kept until it changes.
struct Cache {
    std::mutex mutex;
    fs::path file;
    struct timespec mtime {};
    off_t size = -1;
    ino_t inode = 0;
    std::shared_ptr<const MessageDigests::Table> table;
};

Cache& cache() {
    static Cache c;
    return c;
}

// Whether `file` is still the one the cache holds, told by its identity,
// size and modification time without opening it: a copy check asks once per
// message, mostly of one folder, and the file seldom changes meanwhile.
bool unchangedSinceRead(const Cache& c, const fs::path& file) {
    struct stat st {};
    return c.table && c.file.native() == file.native() && ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           c.size == st.st_size && c.inode == st.st_ino && c.mtime.tv_sec == st.st_mtim.tv_sec &&
           c.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

}  // namespace

std::string MessageDigests::sha256(std::string_view data) {
    // The algorithm is fetched once and each thread keeps its context: a
    // plain EVP_Digest looks the algorithm up anew on every call, under a
    // lock all threads share, which costs more than hashing a message.
    static EVP_MD* const fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    const EVP_MD* md = fetched ? fetched : EVP_sha256();
    thread_local const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), out, &n) != 1)
        n = 0;
    return hex(out, n);
}

std::optional<std::string_view> MessageDigests::folderOf(std::string_view path) {
    const size_t first = path.find('/');
    if (first == std::string_view::npos) return std::nullopt;
    const size_t second = path.find('/', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    return path.substr(0, second);
}

std::optional<std::string_view> MessageDigests::Table::find(std::string_view path) const {
    const auto it = byPath_.find(path);
    if (it == byPath_.end()) return std::nullopt;
    return it->second;
}

std::shared_ptr<const MessageDigests::Table> MessageDigests::table(const ArchiveLayout& layout,
                                                                  std::string_view directory) {
    static const auto none = std::make_shared<const Table>();
    try {
        const fs::path file = fileFor(layout, directory);
        Cache& c = cache();
        std::lock_guard lock(c.mutex);
        if (unchangedSinceRead(c, file)) return c.table;
        c.table.reset();
        const FileHandle in(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in) return none;
        struct stat st {};
        if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return none;
        auto text = readAll(in.get(), static_cast<size_t>(st.st_size));
        if (!text) return none;
        auto t = std::make_shared<Table>();
        t->text_ = std::move(*text);
        t->byPath_.reserve(t->text_.size() / 100);
        forEachRecord(t->text_, [&](std::string_view path, std::string_view digest) { t->byPath_[path] = digest; });
        c.table = t;
        c.file = file;
        c.size = st.st_size;
        c.inode = st.st_ino;
        c.mtime = st.st_mtim;
        return t;
    } catch (...) {
        return none;
    }
}

fs::path MessageDigests::fileFor(const ArchiveLayout& layout, std::string_view directory) {
    // FNV-1a: a short, stable name for any folder name.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : directory) h = (h ^ c) * 1099511628211ull;
    char name[40];
    std::snprintf(name, sizeof name, "digests-%016llx.txt", static_cast<unsigned long long>(h));
    return layout.metaDirectory() / name;
}

void MessageDigests::append(const ArchiveLayout& layout,
                            const std::vector<std::pair<std::string, std::string>>& pathsAndDigests, bool flush) {
    std::map<std::string_view, std::string> linesByFolder;
    for (const auto& [path, digest] : pathsAndDigests) {
        const auto folder = MessageDigests::folderOf(path);
        // A path with a line break cannot be written as a line; the vault's
        // names never hold one.
        if (!folder || path.find('\n') != std::string::npos || !isDigest(digest)) continue;
        std::string& lines = linesByFolder[*folder];
        lines += digest;
        lines += ' ';
        lines += path;
        lines += '\n';
    }
    if (linesByFolder.empty()) return;
    const FileHandle meta = layout.openStateFolder();
    for (const auto& [folder, lines] : linesByFolder) {
        const fs::path file = fileFor(layout, folder);
        appendLines(meta.get(), file.filename().string(), lines, flush, file);
    }
}

std::optional<std::string> MessageDigests::lookup(const ArchiveLayout& layout, std::string_view path) {
    try {
        const auto folder = folderOf(path);
        if (!folder) return std::nullopt;
        if (const auto digest = table(layout, *folder)->find(path)) return std::string(*digest);
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::map<std::string, std::string, std::less<>> MessageDigests::recorded(const ArchiveLayout& layout,
                                                                         std::string_view directory) {
    try {
        const fs::path file = fileFor(layout, directory);
        const FileHandle in(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in) return {};
        const auto text = readAll(in.get());
        return text ? parse(*text) : std::map<std::string, std::string, std::less<>>{};
    } catch (...) {
        return {};
    }
}

}  // namespace bx
