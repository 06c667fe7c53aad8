#pragma once
// A private scratch directory for one test.
//
//   bx::test::TempDir dir;                 // $TMPDIR/bx-test-XXXXXX (or /tmp)
//   auto file = dir / "state.json";        // std::filesystem::path
//
// The directory is created with mode 0700 and removed with everything in it
// when the object goes out of scope. Set the environment variable
// BX_KEEP_FAILED_TEMP=1 to keep the directories of failed tests (the path is
// printed), or call keep() to keep one unconditionally while debugging.

#include <filesystem>
#include <string>
#include <string_view>

namespace bx::test {

class TempDir {
public:
    // `prefix` becomes the first part of the directory name; it must not
    // contain a slash.
    explicit TempDir(std::string_view prefix = "bx-test");
    // Made in `parent` instead of base().
    TempDir(std::string_view prefix, const std::filesystem::path& parent);
    ~TempDir();

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    TempDir(TempDir&& other) noexcept;
    TempDir& operator=(TempDir&& other) noexcept;

    const std::filesystem::path& path() const { return path_; }
    std::string string() const { return path_.string(); }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

    // Creates (with parents) and returns a subdirectory.
    std::filesystem::path mkdir(const std::filesystem::path& rel) const;
    // Writes a file (creating parent folders) and returns its path.
    std::filesystem::path write(const std::filesystem::path& rel, std::string_view bytes) const;
    // Reads a whole file under this directory (or any absolute path).
    std::string read(const std::filesystem::path& rel) const;

    // Keep the directory after the object dies (prints its path to stderr).
    void keep() { keep_ = true; }

    // The base directory new TempDirs are made in: $TMPDIR if set and
    // non-empty, else /tmp.
    static std::filesystem::path base();

private:
    void removeNow() noexcept;

    std::filesystem::path path_;
    bool keep_ = false;
};

}  // namespace bx::test
