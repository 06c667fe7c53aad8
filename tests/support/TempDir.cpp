#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace bx::test {

fs::path TempDir::base()
{
    const char* t = std::getenv("TMPDIR");
    if (t != nullptr && *t != '\0') return fs::path(t);
    return fs::path("/tmp");
}

TempDir::TempDir(std::string_view prefix) : TempDir(prefix, base()) {}

TempDir::TempDir(std::string_view prefix, const fs::path& parent)
{
    std::string templ = (parent / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + templ);
    }
    path_ = fs::path(buf.data());
}

TempDir::TempDir(TempDir&& other) noexcept : path_(std::move(other.path_)), keep_(other.keep_)
{
    other.path_.clear();
}

TempDir& TempDir::operator=(TempDir&& other) noexcept
{
    if (this != &other) {
        removeNow();
        path_ = std::move(other.path_);
        keep_ = other.keep_;
        other.path_.clear();
    }
    return *this;
}

TempDir::~TempDir() { removeNow(); }

void TempDir::removeNow() noexcept
{
    if (path_.empty()) return;
    bool keep = keep_;
    if (!keep) {
        const char* k = std::getenv("BX_KEEP_FAILED_TEMP");
        if (k != nullptr && std::strcmp(k, "1") == 0 && ::testing::Test::HasFailure()) keep = true;
    }
    if (keep) {
        std::cerr << "[bx] kept temp dir " << path_.string() << "\n";
    } else {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    path_.clear();
}

fs::path TempDir::mkdir(const fs::path& rel) const
{
    fs::path p = path_ / rel;
    fs::create_directories(p);
    return p;
}

fs::path TempDir::write(const fs::path& rel, std::string_view bytes) const
{
    fs::path p = path_ / rel;
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
    return p;
}

std::string TempDir::read(const fs::path& rel) const
{
    fs::path p = rel.is_absolute() ? rel : path_ / rel;
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace bx::test
