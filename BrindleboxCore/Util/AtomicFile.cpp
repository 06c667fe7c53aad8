#include "Util/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <system_error>

namespace bx {

namespace fs = std::filesystem;

namespace {

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

// Opens a fresh temp file next to `path`. Returns fd and fills tmpPath.
int openTemp(const fs::path& path, fs::path& tmpPath) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmpPath = dir / ("." + path.filename().string().substr(0, 80) + ".tmp-" + randomSuffix());
        const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno != EEXIST) throwErrno("cannot create " + tmpPath.string(), errno);
    }
    throwErrno("cannot create a temp file in " + dir.string(), EEXIST);
}

void writeAll(int fd, std::string_view data, const fs::path& tmpPath, bool flush = true) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("cannot write " + tmpPath.string(), errno);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (flush && ::fsync(fd) != 0) throwErrno("cannot sync " + tmpPath.string(), errno);
}

void syncDirectory(const fs::path& path) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
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

// Writes data to a new temp file and returns its path; the caller moves it.
fs::path writeTemp(const fs::path& path, std::string_view data, std::optional<Date> mtime, bool flush = true) {
    fs::path tmp;
    const int fd = openTemp(path, tmp);
    try {
        writeAll(fd, data, tmp, flush);
        if (mtime) {
            const timespec ts[2] = {toTimespec(*mtime), toTimespec(*mtime)};
            if (::futimens(fd, ts) != 0) throwErrno("cannot set the date of " + tmp.string(), errno);
        }
    } catch (...) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throwErrno("cannot write " + tmp.string(), err);
    }
    return tmp;
}

}  // namespace

void writeFileAtomically(const fs::path& path, std::string_view data) {
    const fs::path tmp = writeTemp(path, data, std::nullopt);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throwErrno("cannot replace " + path.string(), err);
    }
    syncDirectory(path);
}

namespace {

enum class Created { yes, nameTaken, unsupported };

Created createUnnamedThenLink(const fs::path& path, std::string_view data, std::optional<Date> mtime,
                              bool flush) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return Created::unsupported;
        throwErrno("cannot create a file in " + dir.string(), errno);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    writeAll(fd, data, path, flush);
    if (mtime) {
        // A date that cannot be set is not worth losing the file for.
        const timespec ts[2] = {toTimespec(*mtime), toTimespec(*mtime)};
        (void)::futimens(fd, ts);
    }
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno == EEXIST) return Created::nameTaken;
        if (errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) return Created::unsupported;
        throwErrno("cannot create " + path.string(), errno);
    }
    if (flush) syncDirectory(path);
    return Created::yes;
}

}  // namespace

bool createFileExclusive(const fs::path& path, std::string_view data, std::optional<Date> modificationTime,
                         bool flush) {
    // The link at the end decides whether the name is free: no separate
    // check first, which would only cost a path walk per file.
    switch (createUnnamedThenLink(path, data, modificationTime, flush)) {
        case Created::yes: return true;
        case Created::nameTaken: return false;
        case Created::unsupported: break;
    }
    const fs::path tmp = writeTemp(path, data, modificationTime, flush);
    if (::link(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        if (err == EEXIST) return false;
        throwErrno("cannot create " + path.string(), err);
    }
    ::unlink(tmp.c_str());
    if (flush) syncDirectory(path);
    return true;
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
    std::string out;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throwErrno("cannot read " + path.string(), err);
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

void setModificationTime(const fs::path& path, Date when) {
    const timespec ts[2] = {toTimespec(when), toTimespec(when)};
    if (::utimensat(AT_FDCWD, path.c_str(), ts, 0) != 0)
        throwErrno("cannot set the date of " + path.string(), errno);
}

fs::path privateTempDirectory() {
    const char* base = std::getenv("TMPDIR");
    fs::path root = (base && *base) ? fs::path(base) : fs::path("/tmp");
    const fs::path dir = root / ("brindlebox-" + std::to_string(::getuid()));
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throwErrno("cannot create " + dir.string(), errno);
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) throwErrno("cannot check " + dir.string(), errno);
    // Someone else's folder (or a link planted there) is never used.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) throwErrno(dir.string() + " is not ours", EPERM);
    if ((st.st_mode & 0777) != 0700) ::chmod(dir.c_str(), 0700);
    return dir;
}

}  // namespace bx
