#include "Util/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <system_error>
#include <vector>

namespace bx {

namespace fs = std::filesystem;

namespace {

// Mail, passwords and account lists are nobody else's business: whatever
// this program creates is for its user alone.
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;

[[noreturn]] void throwErrno(const std::string& what, int err) {
    throw std::system_error(err, std::generic_category(), what);
}

std::string randomSuffix() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 12; ++i) s += alphabet[rng() % 36];
    return s;
}

std::string tempPrefix(const std::string& name) {
    return "." + name.substr(0, 80) + ".tmp-";
}

// Opens a fresh temp file in `dir` for the file `name`, owner-only; fills tmpName.
int openTemp(int dir, const std::string& name, std::string& tmpName, const fs::path& shown) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmpName = tempPrefix(name) + randomSuffix();
        const int fd =
            ::openat(dir, tmpName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) throwErrno("cannot create a temp file for " + shown.string(), errno);
    }
    throwErrno("cannot create a temp file for " + shown.string(), EEXIST);
}

void writeAll(int fd, std::string_view data, const fs::path& shown, bool flush = true) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("cannot write " + shown.string(), errno);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (flush && ::fsync(fd) != 0) throwErrno("cannot sync " + shown.string(), errno);
}

timespec toTimespec(Date when) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000;
        ts.tv_sec -= 1;
    }
    return ts;
}

// Writes data to a new temp file in `dir` and returns its name; the caller moves it.
std::string writeTemp(int dir, const std::string& name, const PieceWriter& produce, std::optional<Date> mtime,
                      bool flush, const fs::path& shown, std::optional<mode_t> mode = std::nullopt) {
    std::string tmp;
    const int fd = openTemp(dir, name, tmp, shown);
    try {
        if (mode && ::fchmod(fd, *mode) != 0) throwErrno("cannot set the permissions of " + shown.string(), errno);
        produce([&](std::string_view piece) { writeAll(fd, piece, shown, false); });
        if (flush && ::fsync(fd) != 0) throwErrno("cannot sync " + shown.string(), errno);
        if (mtime) {
            const timespec ts[2] = {toTimespec(*mtime), toTimespec(*mtime)};
            if (::futimens(fd, ts) != 0) throwErrno("cannot set the date of " + shown.string(), errno);
        }
    } catch (...) {
        ::close(fd);
        ::unlinkat(dir, tmp.c_str(), 0);
        throw;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlinkat(dir, tmp.c_str(), 0);
        throwErrno("cannot write " + shown.string(), err);
    }
    return tmp;
}

// `data` as the one piece of a PieceWriter.
PieceWriter whole(std::string_view data) {
    return [data](const std::function<void(std::string_view)>& write) { write(data); };
}

// Temp files of `name` that an earlier writer left behind when it was killed
// between creating and renaming them.
void removeStaleTemps(int dir, const std::string& name) {
    const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return;
    }
    const std::string prefix = tempPrefix(name);
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view candidate(entry->d_name);
        if (candidate.size() != prefix.size() + 12 || candidate.substr(0, prefix.size()) != prefix) continue;
        stale.emplace_back(candidate);
    }
    ::closedir(listing);
    for (const auto& tmp : stale) ::unlinkat(dir, tmp.c_str(), 0);
}

// The folder a path names a file in, opened (following links: the caller
// chose the path whole).
int openParent(const fs::path& path) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throwErrno("cannot open " + dir.string(), errno);
    return fd;
}

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

enum class Created { yes, nameTaken, unsupported };

Created createUnnamedThenLink(int dir, const std::string& name, std::string_view data, std::optional<Date> mtime,
                              bool flush, const fs::path& shown) {
    const int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return Created::unsupported;
        throwErrno("cannot create " + shown.string(), errno);
    }
    FdCloser closer{fd};
    writeAll(fd, data, shown, flush);
    if (mtime) {
        // A date that cannot be set is not worth losing the file for.
        const timespec ts[2] = {toTimespec(*mtime), toTimespec(*mtime)};
        (void)::futimens(fd, ts);
    }
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno == EEXIST) return Created::nameTaken;
        if (errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) return Created::unsupported;
        throwErrno("cannot create " + shown.string(), errno);
    }
    if (flush) ::fsync(dir);
    return Created::yes;
}

}  // namespace

void writeFileAtomicallyAt(int dir, const std::string& name, std::string_view data, const fs::path& shown) {
    writeFileAtomicallyAt(dir, name, whole(data), shown);
}

void writeFileAtomicallyAt(int dir, const std::string& name, const PieceWriter& produce, const fs::path& shown) {
    // The new copy keeps the permissions of the file it replaces: a file the
    // user opened up, or closed down, stays that way.
    std::optional<mode_t> mode;
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
    const std::string tmp = writeTemp(dir, name, produce, std::nullopt, true, shown, mode);
    if (::renameat(dir, tmp.c_str(), dir, name.c_str()) != 0) {
        const int err = errno;
        ::unlinkat(dir, tmp.c_str(), 0);
        throwErrno("cannot replace " + shown.string(), err);
    }
    ::fsync(dir);
    removeStaleTemps(dir, name);
}

void writeFileAtomically(const fs::path& path, std::string_view data) {
    writeFileAtomically(path, whole(data));
}

void writeFileAtomically(const fs::path& path, const PieceWriter& produce) {
    const int dir = openParent(path);
    FdCloser closer{dir};
    writeFileAtomicallyAt(dir, path.filename().string(), produce, path);
}

bool createFileExclusiveAt(int dir, const std::string& name, std::string_view data,
                           std::optional<Date> modificationTime, bool flush, const fs::path& shown) {
    // The link at the end decides whether the name is free: no separate
    // check first, which would only cost a path walk per file.
    switch (createUnnamedThenLink(dir, name, data, modificationTime, flush, shown)) {
        case Created::yes: return true;
        case Created::nameTaken: return false;
        case Created::unsupported: break;
    }
    const std::string tmp = writeTemp(dir, name, whole(data), modificationTime, flush, shown);
    if (::linkat(dir, tmp.c_str(), dir, name.c_str(), 0) != 0) {
        const int err = errno;
        ::unlinkat(dir, tmp.c_str(), 0);
        if (err == EEXIST) return false;
        throwErrno("cannot create " + shown.string(), err);
    }
    ::unlinkat(dir, tmp.c_str(), 0);
    if (flush) ::fsync(dir);
    return true;
}

namespace {

// A kill while appending leaves at most the last line without its end; that
// piece is cut off so that what follows starts on a line of its own.
void dropIncompleteLine(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size == 0) return;
    const off_t tail = std::min<off_t>(st.st_size, 65536);
    std::string bytes(static_cast<size_t>(tail), '\0');
    if (::pread(fd, bytes.data(), bytes.size(), st.st_size - tail) != tail || bytes.back() == '\n') return;
    const size_t end = bytes.rfind('\n');
    if (end != std::string::npos) {
        (void)::ftruncate(fd, st.st_size - tail + static_cast<off_t>(end) + 1);
    } else if (tail == st.st_size) {
        (void)::ftruncate(fd, 0);
    } else {
        // Longer than any record: ended here, it will not parse.
        (void)::write(fd, "\n", 1);
    }
}

}  // namespace

void appendLines(int dir, const std::string& name, std::string_view lines, bool flush, const fs::path& shown) {
    if (lines.empty()) return;
    const int fd = ::openat(dir, name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) throwErrno("cannot open " + shown.string(), errno);
    FdCloser closer{fd};
    dropIncompleteLine(fd);
    writeAll(fd, lines, shown, false);
    if (flush && ::fdatasync(fd) != 0) throwErrno("cannot write " + shown.string(), errno);
}

std::string readCompleteLines(int dir, const std::string& name) {
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    FdCloser closer{fd};
    auto text = readAll(fd);
    if (!text) return {};
    const size_t end = text->rfind('\n');
    text->resize(end == std::string::npos ? 0 : end + 1);
    return std::move(*text);
}

bool createFileExclusive(const fs::path& path, std::string_view data, std::optional<Date> modificationTime,
                         bool flush) {
    const int dir = openParent(path);
    FdCloser closer{dir};
    return createFileExclusiveAt(dir, path.filename().string(), data, modificationTime, flush, path);
}

std::optional<std::string> readFile(const fs::path& path) {
    try {
        return readFileOrThrow(path);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::string readFileOrThrow(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwErrno("cannot open " + path.string(), errno);
    FdCloser closer{fd};
    auto out = readAll(fd);
    if (!out) throwErrno("cannot read " + path.string(), errno);
    return std::move(*out);
}

namespace {

// Reads to the end straight into the result, starting with `room` bytes.
// With the file's `size`, room is one byte more: a read that stops short of
// it at the size is the end of the file, so a file of the size it had takes
// one read. One that grew meanwhile is read on.
std::optional<std::string> readToEnd(int fd, size_t room, std::optional<size_t> size) {
    std::string out(room, '\0');
    size_t used = 0;
    for (;;) {
        if (used == out.size()) out.resize(out.size() * 2);
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
        if (size && used == *size) break;
    }
    out.resize(used);
    return out;
}

}  // namespace

std::optional<std::string> readAll(int fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        return readAll(fd, static_cast<size_t>(st.st_size));
    return readToEnd(fd, 65536, std::nullopt);
}

std::optional<std::string> readAll(int fd, size_t size) {
    return readToEnd(fd, size + 1, size);
}

void setModificationTime(const fs::path& path, Date when) {
    const timespec ts[2] = {toTimespec(when), toTimespec(when)};
    if (::utimensat(AT_FDCWD, path.c_str(), ts, 0) != 0) throwErrno("cannot set the date of " + path.string(), errno);
}

void createPrivateDirectories(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return;
    if (path.has_parent_path() && path.parent_path() != path) createPrivateDirectories(path.parent_path());
    if (::mkdir(path.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
        throwErrno("cannot create " + path.string(), errno);
}

fs::path privateTempDirectory() {
    const char* base = std::getenv("TMPDIR");
    fs::path root = (base && *base) ? fs::path(base) : fs::path("/tmp");
    const fs::path dir = root / ("brindlebox-" + std::to_string(::getuid()));
    if (::mkdir(dir.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
        throwErrno("cannot create " + dir.string(), errno);
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) throwErrno("cannot check " + dir.string(), errno);
    // Someone else's folder (or a link planted there) is never used.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) throwErrno(dir.string() + " is not ours", EPERM);
    if ((st.st_mode & 0777) != 0700) ::chmod(dir.c_str(), 0700);
    return dir;
}

}  // namespace bx
