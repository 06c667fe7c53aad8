#include "Unpack.h"

#include "UpdateError.h"

#include <QDir>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orrery {
namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;
using Path = std::vector<std::string>;

[[noreturn]] void refuse(const QString& why) { throw UpdateError(UpdateMessages::unpackRefused + why); }

// An entry's name as the message quotes it: printable, and short enough for
// one line of the update window.
QString quoted(const char* name) {
  QString text = QString::fromUtf8(name ? name : "");
  for (QChar& c : text)
    if (!c.isPrint()) c = u'?';
  if (text.size() > 120) text = text.left(119) + u'\u2026';
  return u'\u201C' + text + u'\u201D';
}

// Splits a relative path into its components; ok is false when the path is
// absolute, empty or has a ".." component.
Path components(const std::string& path, bool& ok) {
  Path parts;
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

// The links unpacked so far and every place their targets pass. A link may
// neither pass through nor end at another link, nor be put where an earlier
// link's target passes: each link then resolves on its own, as its text
// reads, whatever order the entries come in.
class LinkCheck {
public:
  enum class Verdict { Inside, Outside, Chained };

  Verdict add(const Path& link, const std::string& target) {
    if (target.empty() || target.front() == '/') return Verdict::Outside;
    if (passed_.count(link)) return Verdict::Chained;
    Path at(link.begin(), link.end() - 1);
    std::vector<Path> visited;
    size_t start = 0;
    while (start <= target.size()) {
      const size_t end = std::min(target.find('/', start), target.size());
      const std::string part = target.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (at.empty()) return Verdict::Outside;
        at.pop_back();
      } else {
        at.push_back(part);
        if (links_.count(at)) return Verdict::Chained;
      }
      visited.push_back(at);
    }
    passed_.insert(visited.begin(), visited.end());
    links_.insert(link);
    return Verdict::Inside;
  }

  // Whether a proper ancestor of `path` is a link.
  bool behindLink(const Path& path) const {
    for (size_t n = 1; n < path.size(); ++n)
      if (links_.count(Path(path.begin(), path.begin() + std::ptrdiff_t(n)))) return true;
    return false;
  }

private:
  std::set<Path> links_;
  std::set<Path> passed_;
};

} // namespace

void unpackZip(const QString& zipPath, const QString& intoFolder, const UnpackLimits& limits) {
  // libarchive refuses any path that passes through a symbolic link; the
  // destination's own ancestors are resolved first so only entries count.
  const QString base = QFileInfo(intoFolder).canonicalFilePath();
  if (base.isEmpty()) throw UpdateError(UpdateMessages::otherPrefix + QStringLiteral("The staging folder is missing."));
  const std::string root = QFile::encodeName(base).toStdString();
  const QString unreadable = QStringLiteral("its archive couldn\u2019t be read as a zip file.");

  Reader in(archive_read_new(), &archive_read_free);
  archive_read_support_format_zip(in.get());
  if (archive_read_open_filename(in.get(), QFile::encodeName(zipPath).constData(), 1 << 16) != ARCHIVE_OK)
    refuse(unreadable);
  Writer out(archive_write_disk_new(), &archive_write_free);
  archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                ARCHIVE_EXTRACT_NO_OVERWRITE);
  auto writeFailed = [&](const QString& name) {
    const char* why = archive_error_string(out.get());
    refuse(QStringLiteral("its archive couldn\u2019t be unpacked at ") + name + QStringLiteral(" (") +
           QString::fromUtf8(why ? why : "unknown error") + QStringLiteral(")."));
  };

  LinkCheck links;
  std::int64_t entries = 0, bytes = 0;
  const QString tooLarge = QStringLiteral("its archive unpacks to more than %1 bytes.").arg(limits.maxBytes);
  archive_entry* entry = nullptr;
  for (;;) {
    const int r = archive_read_next_header(in.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) refuse(unreadable);
    if (++entries > limits.maxEntries)
      refuse(QStringLiteral("its archive holds more than %1 entries.").arg(limits.maxEntries));
    const char* name = archive_entry_pathname(entry);
    if (!name) refuse(unreadable);
    const QString shown = quoted(name);
    bool ok = false;
    const auto parts = components(name, ok);
    if (!ok) refuse(QStringLiteral("its archive holds ") + shown + QStringLiteral(", a path that leads outside the update."));
    if (links.behindLink(parts))
      refuse(QStringLiteral("its archive holds ") + shown + QStringLiteral(", which would be written through a link."));
    if (archive_entry_hardlink(entry)) refuse(QStringLiteral("its archive holds ") + shown + QStringLiteral(", a hard link."));
    const mode_t type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)
      refuse(QStringLiteral("its archive holds ") + shown + QStringLiteral(", which is not a file, folder or link."));
    if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink(entry);
      switch (links.add(parts, target ? target : "")) {
      case LinkCheck::Verdict::Inside:
        break;
      case LinkCheck::Verdict::Outside:
        refuse(QStringLiteral("its archive holds the link ") + shown + QStringLiteral(", which points outside the update."));
      case LinkCheck::Verdict::Chained:
        refuse(QStringLiteral("its archive holds the link ") + shown +
               QStringLiteral(", which leads to or through another link."));
      }
    }
    if (type == AE_IFREG && archive_entry_size_is_set(entry) && archive_entry_size(entry) > limits.maxBytes - bytes)
      refuse(tooLarge);

    std::string full = root;
    for (const auto& p : parts) full += '/' + p;
    archive_entry_set_pathname(entry, full.c_str());
    archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
    if (archive_write_header(out.get(), entry) != ARCHIVE_OK) writeFailed(shown);
    if (type == AE_IFREG) {
      const void* buf = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      for (;;) {
        const int rd = archive_read_data_block(in.get(), &buf, &size, &offset);
        if (rd == ARCHIVE_EOF) break;
        if (rd != ARCHIVE_OK) refuse(unreadable);
        bytes += std::int64_t(size);
        if (bytes > limits.maxBytes) refuse(tooLarge);
        if (archive_write_data_block(out.get(), buf, size, offset) != ARCHIVE_OK) writeFailed(shown);
      }
    }
    if (archive_write_finish_entry(out.get()) != ARCHIVE_OK) writeFailed(shown);
  }
  if (archive_write_close(out.get()) != ARCHIVE_OK) {
    const char* why = archive_error_string(out.get());
    refuse(QStringLiteral("its archive couldn\u2019t be unpacked (") + QString::fromUtf8(why ? why : "unknown error") +
           QStringLiteral(")."));
  }
}

} // namespace orrery
