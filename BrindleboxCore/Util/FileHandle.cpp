#include "Util/FileHandle.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace bx {

namespace fs = std::filesystem;

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

[[noreturn]] void throwErrno(int err, const std::string& what) {
    throw std::system_error(err, std::generic_category(), what);
}

// Calls f(component, isLast) for each "/"-separated component.
template <typename F>
void forEachComponent(std::string_view relative, F&& f) {
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const bool last = slash == std::string_view::npos;
        f(std::string(relative.substr(start, last ? std::string_view::npos : slash - start)), last);
        if (last) return;
        start = slash + 1;
    }
}

}  // namespace

FileHandle openFolderBeneath(int base, std::string_view relative, bool create, const fs::path& shownBase) {
    FileHandle current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    if (!current) throwErrno(errno, "cannot open " + shownBase.string());
    if (relative.empty()) return current;
    fs::path shown = shownBase;
    forEachComponent(relative, [&](const std::string& part, bool) {
        shown /= part;
        int fd = ::openat(current.get(), part.c_str(), kFolderFlags);
        if (fd < 0 && errno == ENOENT && create) {
            // The vault's folders hold the user's mail: owner-only.
            if (::mkdirat(current.get(), part.c_str(), 0700) != 0 && errno != EEXIST)
                throwErrno(errno, "cannot create " + shown.string());
            fd = ::openat(current.get(), part.c_str(), kFolderFlags);
        }
        if (fd < 0) {
            const int err = errno;
            // O_NOFOLLOW on a link gives ELOOP; O_DIRECTORY on a file ENOTDIR.
            if (err == ELOOP || err == ENOTDIR)
                throwErrno(ENOTDIR, shown.string() + " is a link or a file where a folder belongs");
            throwErrno(err, "cannot open " + shown.string());
        }
        current = FileHandle(fd);
    });
    return current;
}

namespace {

// The kernel's own walk: one call that refuses every symbolic link on the
// way and any escape from `base`. -1 with ENOSYS where the kernel lacks it.
int openBeneathAtOnce(int base, const std::string& relative) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = ::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) return static_cast<int>(fd);
    }
#else
    (void)base;
    (void)relative;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

FileHandle openRegularFileBeneath(int base, std::string_view relative, struct stat* info) {
    struct stat own {};
    struct stat& st = info ? *info : own;
    // One call instead of one per folder on the way: the copy check opens
    // every file of a plan.
    if (!relative.empty() && relative.front() != '/') {
        FileHandle file(openBeneathAtOnce(base, std::string(relative)));
        if (file || errno != ENOSYS) {
            if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileHandle();
            return file;
        }
    }
    const size_t slash = relative.rfind('/');
    FileHandle folder;
    std::string name(relative);
    int dir = base;
    if (slash != std::string_view::npos) {
        try {
            folder = openFolderBeneath(base, relative.substr(0, slash), false, fs::path());
        } catch (const std::system_error&) {
            return FileHandle();
        }
        dir = folder.get();
        name = std::string(relative.substr(slash + 1));
    }
    FileHandle file(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!file) return file;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileHandle();
    return file;
}

FileHandle openRegularFileBeneath(int base, std::string_view relative) {
    return openRegularFileBeneath(base, relative, nullptr);
}

FileHandle openRegularFileBelow(const fs::path& root, std::string_view relative, struct stat* info) {
    struct stat own {};
    struct stat& st = info ? *info : own;
#ifdef SYS_openat2
    // Where no link lies on the whole path, one call does: opening the root
    // first is only needed to allow a link on the way to the root.
    if (!relative.empty() && relative.front() != '/') {
        std::string whole = root.native();
        if (!whole.empty() && whole.back() != '/') whole += '/';
        whole += relative;
        open_how how{};
        how.flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        long fd;
        do {
            fd = ::syscall(SYS_openat2, AT_FDCWD, whole.c_str(), &how, sizeof how);
        } while (fd < 0 && errno == EAGAIN);
        if (fd >= 0) {
            FileHandle file(static_cast<int>(fd));
            if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileHandle();
            return file;
        }
        if (errno != ELOOP && errno != ENOSYS) return FileHandle();
    }
#endif
    const FileHandle top(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top) return FileHandle();
    return openRegularFileBeneath(top.get(), relative, &st);
}

}  // namespace bx
