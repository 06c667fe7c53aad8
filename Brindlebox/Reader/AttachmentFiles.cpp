#include "Reader/AttachmentFiles.h"

#include "Util/AtomicFile.h"
#include "Vault/FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QHash>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bx {

namespace {

AttachmentFiles::Chooser& chooser() {
  static AttachmentFiles::Chooser c;
  return c;
}

// A folder of ours: made 0700, and refused when it is a link or someone
// else's.
void ensurePrivateFolder(const fs::path& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::system_error(errno, std::generic_category(), dir.string());
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) throw std::system_error(errno, std::generic_category(), dir.string());
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    throw std::system_error(EPERM, std::generic_category(), dir.string());
  if ((st.st_mode & 0777) != 0700) ::chmod(dir.c_str(), 0700);
}

QString hexHash(const QString& text) {
  static const size_t seed = QRandomGenerator::system()->generate64();
  const qint64 h = qint64(qHash(text, seed));
  return h < 0 ? QStringLiteral("-") + QString::number(-(h + 1) + 1ull, 16) : QString::number(h, 16);
}

void writeExclusiveThenRename(const fs::path& target, const std::string& data) {
  const fs::path dir = target.parent_path();
  fs::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = dir / (".part-" + QString::number(QRandomGenerator::system()->generate64(), 16).toStdString());
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) throw std::system_error(errno, std::generic_category(), temp.string());
  }
  if (fd < 0) throw std::system_error(EEXIST, std::generic_category(), temp.string());
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp.c_str());
      throw std::system_error(e, std::generic_category(), target.string());
    }
    written += size_t(n);
  }
  ::close(fd);
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    throw std::system_error(e, std::generic_category(), target.string());
  }
}

bool processAlive(long pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

} // namespace

QString AttachmentFiles::cleanName(const std::string& filename) {
  QString name = QString::fromStdString(FileNames::sanitize(filename, -1, std::numeric_limits<int>::max()));
  // Direction controls make "gpj.exe" read as "exe.jpg".
  name.remove(QRegularExpression(QStringLiteral("[\\x{200E}\\x{200F}\\x{061C}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
  name = QString::fromStdString(FileNames::sanitize(name.toStdString(), -1, std::numeric_limits<int>::max()));
  if (name.isEmpty()) return QStringLiteral("attachment");

  // A long name loses its middle, never its end: the extension says what
  // the file is.
  constexpr int maxCharacters = 120, maxBytes = 150;
  QStringList chars;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, name);
  for (qsizetype at = 0, next; (next = finder.toNextBoundary()) > 0; at = next) chars << name.mid(at, next - at);
  auto bytes = [](const QString& s) { return s.toUtf8().size(); };
  if (chars.size() <= maxCharacters && bytes(name) <= maxBytes) return name;
  const int dot = int(chars.lastIndexOf(QStringLiteral(".")));
  const int extLength = dot > 0 && chars.size() - dot <= 16 ? int(chars.size()) - dot : 0;
  const QString ext = extLength ? QStringList(chars.mid(dot)).join(QString()) : QString();
  const QStringList stem = chars.mid(0, chars.size() - extLength);
  qsizetype keep = std::min<qsizetype>(stem.size(), maxCharacters - extLength - 1);
  for (; keep > 1; --keep) {
    const qsizetype tail = keep / 2, head = keep - tail;
    const QString cut = QStringList(stem.mid(0, head)).join(QString()).trimmed() + QStringLiteral("…") +
                        QStringList(stem.mid(stem.size() - tail)).join(QString()).trimmed() + ext;
    if (bytes(cut) <= maxBytes) return cut;
  }
  return QString::fromStdString(FileNames::sanitize(name.toStdString(), maxCharacters, maxBytes));
}

fs::path AttachmentFiles::attachmentsRoot() {
  const fs::path root = privateTempDirectory() / "Brindlebox-attachments";
  ensurePrivateFolder(root);
  return root;
}

fs::path AttachmentFiles::runFolder() {
  static fs::path folder;
  if (!folder.empty() && fs::is_directory(folder)) return folder;
  const fs::path root = attachmentsRoot();
  folder = root / ("run-" + std::to_string(::getpid()));
  ensurePrivateFolder(folder);
  static bool hooked = false;
  if (!hooked && QCoreApplication::instance()) {
    hooked = true;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] { removeRunFolder(); });
  }
  return folder;
}

void AttachmentFiles::removeRunFolder() {
  std::error_code ec;
  const fs::path root = privateTempDirectory() / "Brindlebox-attachments";
  fs::remove_all(root / ("run-" + std::to_string(::getpid())), ec);
}

void AttachmentFiles::removeLeftovers() {
  std::error_code ec;
  fs::path root;
  try {
    root = attachmentsRoot();
  } catch (const std::exception&) {
    return;
  }
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("run-", 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + 4, nullptr, 10);
    if (pid == ::getpid() || processAlive(pid)) continue;
    fs::remove_all(entry.path(), ec);
  }
}

std::optional<fs::path> AttachmentFiles::temporaryURL(const MailAttachment& attachment,
                                                      const std::string& messagePath) {
  try {
    const fs::path folder = runFolder() / hexHash(QString::fromStdString(messagePath)).toStdString();
    ensurePrivateFolder(folder);
    const fs::path file = folder / cleanName(attachment.filename).toStdString();
    writeExclusiveThenRename(file, attachment.data);
    return file;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void AttachmentFiles::setChooser(Chooser c) { chooser() = std::move(c); }

std::optional<QString> AttachmentFiles::save(const MailAttachment& attachment, QWidget* parent) {
  const QString suggested = cleanName(attachment.filename);
  std::optional<QString> chosen;
  if (chooser()) {
    chosen = chooser()(suggested);
  } else {
    // Downloads when it exists, else the home folder; never the working
    // directory the application happened to start in.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) dir = QDir::homePath();
    const QString path = QFileDialog::getSaveFileName(parent, QString(), QDir(dir).filePath(suggested));
    if (!path.isEmpty()) chosen = path;
  }
  if (!chosen || chosen->isEmpty()) return std::nullopt;
  try {
    writeFileAtomically(chosen->toStdString(), attachment.data);
  } catch (const std::system_error& error) {
    auto* box = new QMessageBox(QMessageBox::Warning, QString(),
                                QStringLiteral("Couldn’t save “") + cleanName(attachment.filename) +
                                    QStringLiteral("”"),
                                QMessageBox::Ok, parent ? parent->window() : nullptr);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(QString::fromLocal8Bit(std::strerror(error.code().value())) +
                            QStringLiteral("\n\nTry another folder, such as Downloads or your Desktop."));
    for (auto* label : box->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("saveFailedAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
    return std::nullopt;
  }
  return QFileInfo(*chosen).fileName();
}

} // namespace bx
