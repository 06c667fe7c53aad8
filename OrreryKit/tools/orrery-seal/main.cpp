// orrery-seal: the maker's side of the updater's checks.
//
//   orrery-seal keygen KEYFILE          new private key (base64, mode 0600); prints the public key
//   orrery-seal public KEYFILE          prints the public key for the app-info
//   orrery-seal seal KEYFILE FOLDER     writes FOLDER's code seal
//   orrery-seal verify FOLDER           exit 0 when FOLDER is intact under its seal
//   orrery-seal zip FOLDER OUT.zip      zips FOLDER (as its top entry) keeping modes and links
//   orrery-seal sign KEYFILE FILE       prints the Ed25519 signature of FILE for the feed

#include "Updater/CodeSeal.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const usageLine = "usage: orrery-seal keygen KEY | public KEY | seal KEY FOLDER | verify FOLDER |"
                              " zip FOLDER OUT.zip | sign KEY FILE\n";

int usage() {
  std::fputs(usageLine, stderr);
  return 2;
}

int help() {
  std::fputs(usageLine, stdout);
  std::fputs("\n"
             "  keygen KEY          new private key (base64, mode 0600); prints the public key\n"
             "  public KEY          prints the public key for the app-info (OrreryUpdatePublicKey)\n"
             "  seal KEY FOLDER     writes FOLDER's code seal; seal after the app-info is final\n"
             "  verify FOLDER       exit 0 when FOLDER is intact under its seal\n"
             "  zip FOLDER OUT.zip  zips FOLDER (as its top entry, named NAME.app) keeping modes and links\n"
             "  sign KEY FILE       prints the Ed25519 signature of FILE for the feed's \"edSignature\"\n"
             "\n"
             "The feed's \"minimumSystemVersion\" is compared with the version of the GNU C library\n"
             "on the user's system (as `ldd --version` prints it, for example 2.36 on Debian 12),\n"
             "not with a distribution or kernel version. Leave it out when any system will do.\n",
             stdout);
  return 0;
}

int fail(const QString& text) {
  std::fprintf(stderr, "orrery-seal: %s\n", qPrintable(text));
  return 1;
}

QByteArray readKey(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray key = QByteArray::fromBase64(f.readAll().trimmed());
  return key.size() == 32 ? key : QByteArray();
}

int zipFolder(const QString& folder, const QString& out) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(QFile::encodeName(QFileInfo(folder).absoluteFilePath()).toStdString());
  std::vector<fs::path> entries{root};
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    entries.push_back(it->path());
  std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), &archive_write_free);
  archive_write_set_format_zip(a.get());
  if (archive_write_open_filename(a.get(), QFile::encodeName(out).constData()) != ARCHIVE_OK)
    return fail(QString::fromUtf8(archive_error_string(a.get())));
  const fs::path base = root.parent_path();
  for (const fs::path& p : entries) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return fail(QStringLiteral("cannot read %1").arg(p.c_str()));
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> e(archive_entry_new(), &archive_entry_free);
    archive_entry_copy_stat(e.get(), &st);
    archive_entry_set_pathname(e.get(), p.lexically_relative(base).c_str());
    std::string target;
    if (S_ISLNK(st.st_mode)) {
      target = fs::read_symlink(p).native();
      archive_entry_set_symlink(e.get(), target.c_str());
      archive_entry_set_size(e.get(), 0);
    } else if (!S_ISREG(st.st_mode)) {
      archive_entry_set_size(e.get(), 0);
    }
    if (archive_write_header(a.get(), e.get()) != ARCHIVE_OK) return fail(QString::fromUtf8(archive_error_string(a.get())));
    if (S_ISREG(st.st_mode)) {
      QFile f(QString::fromStdString(p.native()));
      if (!f.open(QIODevice::ReadOnly)) return fail(f.errorString());
      while (!f.atEnd()) {
        const QByteArray chunk = f.read(1 << 20);
        if (archive_write_data(a.get(), chunk.constData(), size_t(chunk.size())) < 0)
          return fail(QString::fromUtf8(archive_error_string(a.get())));
      }
    }
  }
  if (archive_write_close(a.get()) != ARCHIVE_OK) return fail(QString::fromUtf8(archive_error_string(a.get())));
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.isEmpty()) return usage();
  const QString cmd = args[0];
  if (cmd == u"--help" || cmd == u"-h" || cmd == u"help") return help();
  using namespace orrery;
  if (cmd == u"keygen" && args.size() == 2) {
    const QByteArray key = CodeSeal::newPrivateKey();
    QFile f(args[1]);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return fail(f.errorString());
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(key.toBase64() + "\n");
    std::printf("%s\n", CodeSeal::publicKeyFor(key).toBase64().constData());
    return 0;
  }
  if (cmd == u"public" && args.size() == 2) {
    const QByteArray key = readKey(args[1]);
    if (key.isEmpty()) return fail(QStringLiteral("%1 holds no private key").arg(args[1]));
    std::printf("%s\n", CodeSeal::publicKeyFor(key).toBase64().constData());
    return 0;
  }
  if (cmd == u"seal" && args.size() == 3) {
    const QByteArray key = readKey(args[1]);
    if (key.isEmpty()) return fail(QStringLiteral("%1 holds no private key").arg(args[1]));
    QString error;
    if (!CodeSeal::write(args[2], key, &error)) return fail(error);
    return 0;
  }
  if (cmd == u"verify" && args.size() == 2) {
    QString why;
    if (!CodeSeal::verify(args[1], &why)) return fail(why);
    return 0;
  }
  if (cmd == u"zip" && args.size() == 3) return zipFolder(args[1], args[2]);
  if (cmd == u"sign" && args.size() == 3) {
    const QByteArray key = readKey(args[1]);
    if (key.isEmpty()) return fail(QStringLiteral("%1 holds no private key").arg(args[1]));
    QFile f(args[2]);
    if (!f.open(QIODevice::ReadOnly)) return fail(f.errorString());
    std::printf("%s\n", CodeSeal::sign(f.readAll(), key).toBase64().constData());
    return 0;
  }
  return usage();
}
