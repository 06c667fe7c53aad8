#include "Unpack.h"

#include "UpdateError.h"

#include <QDir>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <string>
#include <vector>

namespace orrery {
namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

[[noreturn]] void refuse() { throw UpdateError(UpdateMessages::unpackFailed); }

// Splits a relative path into its components; empty when the path is
// absolute or any component is "..".
std::vector<std::string> components(const std::string& path, bool& ok) {
  std::vector<std::string> parts;
  ok = !path.empty() && path.front() != '/';
  size_t start = 0;
  while (ok && start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part == "..") ok = false;
    else if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  if (parts.empty()) ok = false;
  return parts;
}

// A link's target, taken from the folder that holds the link, must stay
// inside the unpack folder.
bool targetStaysInside(const std::vector<std::string>& linkParts, const std::string& target) {
  if (target.empty() || target.front() == '/') return false;
  int depth = int(linkParts.size()) - 1;
  size_t start = 0;
  while (start <= target.size()) {
    const size_t end = std::min(target.find('/', start), target.size());
    const std::string part = target.substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

} // namespace

void unpackZip(const QString& zipPath, const QString& intoFolder, const UnpackLimits& limits) {
  // libarchive refuses any path that passes through a symbolic link; the
  // destination's own ancestors are resolved first so only entries count.
  const QString base = QFileInfo(intoFolder).canonicalFilePath();
  if (base.isEmpty()) refuse();
  const std::string root = QFile::encodeName(base).toStdString();

  Reader in(archive_read_new(), &archive_read_free);
  archive_read_support_format_zip(in.get());
  if (archive_read_open_filename(in.get(), QFile::encodeName(zipPath).constData(), 1 << 16) != ARCHIVE_OK) refuse();
  Writer out(archive_write_disk_new(), &archive_write_free);
  archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                ARCHIVE_EXTRACT_NO_OVERWRITE);

  std::int64_t entries = 0, bytes = 0;
  archive_entry* entry = nullptr;
  for (;;) {
    const int r = archive_read_next_header(in.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) refuse();
    if (++entries > limits.maxEntries) refuse();
    const char* name = archive_entry_pathname(entry);
    if (!name) refuse();
    bool ok = false;
    const auto parts = components(name, ok);
    if (!ok) refuse();
    if (archive_entry_hardlink(entry)) refuse();
    const mode_t type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) refuse();
    if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink(entry);
      if (!target || !targetStaysInside(parts, target)) refuse();
    }
    if (type == AE_IFREG && archive_entry_size_is_set(entry) && archive_entry_size(entry) > limits.maxBytes - bytes)
      refuse();

    std::string full = root;
    for (const auto& p : parts) full += '/' + p;
    archive_entry_set_pathname(entry, full.c_str());
    archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
    if (archive_write_header(out.get(), entry) != ARCHIVE_OK) refuse();
    if (type == AE_IFREG) {
      const void* buf = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      for (;;) {
        const int rd = archive_read_data_block(in.get(), &buf, &size, &offset);
        if (rd == ARCHIVE_EOF) break;
        if (rd != ARCHIVE_OK) refuse();
        bytes += std::int64_t(size);
        if (bytes > limits.maxBytes) refuse();
        if (archive_write_data_block(out.get(), buf, size, offset) != ARCHIVE_OK) refuse();
      }
    }
    if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) refuse();
  }
  if (archive_write_close(out.get()) != ARCHIVE_OK) refuse();
}

} // namespace orrery
