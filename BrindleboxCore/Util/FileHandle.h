#pragma once
// Open files and folders held by descriptor, and the walk down a folder tree
// that never follows a symbolic link.
#include <sys/stat.h>

#include <filesystem>
#include <string_view>

namespace bx {

// A file descriptor that closes itself; -1 holds nothing.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// The folder `relative` ("/"-separated components, none empty, "." or "..")
// below the open folder `base`, opened one component at a time without
// following links. With `create`, missing folders are made. Throws
// std::system_error naming the path (`shownBase` + the components so far): a
// component that is a symbolic link or not a folder is an error (ENOTDIR), as
// is a missing one without `create` (ENOENT).
FileHandle openFolderBeneath(int base, std::string_view relative, bool create, const std::filesystem::path& shownBase);

// The regular file `relative` below the open folder `base`, reached without
// following any link, opened for reading; an empty handle when it is missing,
// not a regular file, or anything on the way is a link.
FileHandle openRegularFileBeneath(int base, std::string_view relative);
// The same, with the file's attributes in `info` (when not null) once it is open.
FileHandle openRegularFileBeneath(int base, std::string_view relative, struct stat* info);

// The same below the folder `root`, which is reached as its path says, links
// and all.
FileHandle openRegularFileBelow(const std::filesystem::path& root, std::string_view relative, struct stat* info);

}  // namespace bx
