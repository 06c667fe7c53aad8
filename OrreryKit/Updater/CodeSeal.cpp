#include "CodeSeal.h"

#include "Bundle.h"
#include "UpdateLogic.h"

#include <QFile>
#include <QSaveFile>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace orrery::CodeSeal {
namespace {

constexpr char header[] = "orrery-seal 1\n";
constexpr qint64 maxSealBytes = 64LL << 20;

// Names are kept byte for byte: every byte outside printable ASCII, the
// space and "%" are written as %XX so a line holds exactly one entry.
QByteArray escape(const std::string& bytes) {
  QByteArray out;
  for (unsigned char c : bytes) {
    if (c <= 0x20 || c >= 0x7f || c == '%') {
      static const char hex[] = "0123456789ABCDEF";
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

bool sha256File(const std::string& path, QByteArray& hexOut, qint64& sizeOut) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  std::vector<unsigned char> buf(1 << 20);
  qint64 total = 0;
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    EVP_DigestUpdate(ctx.get(), buf.data(), size_t(n));
    total += n;
  }
  ::close(fd);
  unsigned char md[32];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx.get(), md, &len);
  hexOut = QByteArray(reinterpret_cast<const char*>(md), 32).toHex();
  sizeOut = total;
  return ok;
}

struct Signing {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, &EVP_PKEY_free};
};

Signing privateKey(const QByteArray& raw) {
  Signing s;
  if (raw.size() == 32)
    s.key.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                             reinterpret_cast<const unsigned char*>(raw.constData()), 32));
  return s;
}

} // namespace

QByteArray describe(const QString& folder, QString* error) {
  const fs::path root(folder.toStdString());
  std::vector<std::pair<std::string, QByteArray>> lines;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
  if (ec) {
    if (error) *error = QStringLiteral("cannot read %1").arg(folder);
    return {};
  }
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& p = it->path();
    const std::string rel = p.lexically_relative(root).native();
    if (rel == Bundle::sealFileName) continue;
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      ec = std::error_code(errno, std::generic_category());
      break;
    }
    const QByteArray mode = QByteArray::number(st.st_mode & 07777, 8).rightJustified(4, '0');
    QByteArray line;
    if (S_ISDIR(st.st_mode)) {
      line = "d " + mode + " 0 - " + escape(rel);
    } else if (S_ISREG(st.st_mode)) {
      QByteArray hex;
      qint64 size = 0;
      if (!sha256File(p.native(), hex, size)) {
        if (error) *error = QStringLiteral("cannot read %1").arg(QString::fromStdString(rel));
        return {};
      }
      line = "f " + mode + " " + QByteArray::number(size) + " " + hex + " " + escape(rel);
    } else if (S_ISLNK(st.st_mode)) {
      std::string target(size_t(st.st_size) + 1, '\0');
      const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
      if (n < 0 || size_t(n) >= target.size()) {
        if (error) *error = QStringLiteral("cannot read link %1").arg(QString::fromStdString(rel));
        return {};
      }
      target.resize(size_t(n));
      line = "l " + mode + " 0 - " + escape(rel) + " " + escape(target);
    } else {
      if (error) *error = QStringLiteral("%1 is not a file, folder or link").arg(QString::fromStdString(rel));
      return {};
    }
    lines.emplace_back(rel, line + "\n");
  }
  if (ec) {
    if (error) *error = QStringLiteral("cannot read %1: %2").arg(folder, QString::fromStdString(ec.message()));
    return {};
  }
  std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  QByteArray out;
  for (const auto& l : lines) out += l.second;
  return out;
}

bool write(const QString& folder, const QByteArray& key, QString* error) {
  const QByteArray pub = publicKeyFor(key);
  if (pub.isEmpty()) {
    if (error) *error = QStringLiteral("the private key is not a 32-byte Ed25519 key");
    return false;
  }
  QString why;
  const QByteArray body = describe(folder, &why);
  if (!why.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  const QByteArray signedPart = QByteArray(header) + "key " + pub.toBase64() + "\n" + body;
  const QByteArray sig = sign(signedPart, key);
  QSaveFile file(folder + u'/' + QLatin1String(Bundle::sealFileName));
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  file.write(signedPart + "signature " + sig.toBase64() + "\n");
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther);
  if (!file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

bool verify(const QString& folder, QString* why) {
  auto fail = [&](const QString& text) {
    if (why) *why = text;
    return false;
  };
  QFile file(folder + u'/' + QLatin1String(Bundle::sealFileName));
  if (!file.open(QIODevice::ReadOnly)) return fail(QStringLiteral("no seal"));
  const QByteArray seal = file.read(maxSealBytes + 1);
  if (seal.size() > maxSealBytes) return fail(QStringLiteral("seal too large"));
  if (!seal.startsWith(header)) return fail(QStringLiteral("not a seal"));
  const qsizetype sigAt = seal.lastIndexOf("\nsignature ");
  if (sigAt < 0 || !seal.endsWith('\n')) return fail(QStringLiteral("unsigned seal"));
  const QByteArray signedPart = seal.left(sigAt + 1);
  const QByteArray signature = seal.mid(sigAt + 11, seal.size() - sigAt - 12);
  const qsizetype keyEnd = signedPart.indexOf('\n', qsizetype(sizeof(header) - 1));
  const QByteArray keyLine = signedPart.mid(sizeof(header) - 1, keyEnd - qsizetype(sizeof(header) - 1));
  if (keyEnd < 0 || !keyLine.startsWith("key ")) return fail(QStringLiteral("seal names no key"));
  if (!UpdateLogic::verify(signedPart, QString::fromLatin1(signature), QString::fromLatin1(keyLine.mid(4))))
    return fail(QStringLiteral("signature does not verify"));
  QString error;
  const QByteArray actual = describe(folder, &error);
  if (!error.isEmpty()) return fail(error);
  if (actual != signedPart.mid(keyEnd + 1)) return fail(QStringLiteral("contents differ from the seal"));
  return true;
}

QByteArray sign(const QByteArray& data, const QByteArray& raw) {
  const Signing s = privateKey(raw);
  if (!s.key) return {};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, s.key.get()) != 1) return {};
  QByteArray sig(64, '\0');
  size_t len = 64;
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &len,
                     reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size())) != 1)
    return {};
  return sig;
}

QByteArray publicKeyFor(const QByteArray& raw) {
  const Signing s = privateKey(raw);
  if (!s.key) return {};
  QByteArray pub(32, '\0');
  size_t len = 32;
  if (EVP_PKEY_get_raw_public_key(s.key.get(), reinterpret_cast<unsigned char*>(pub.data()), &len) != 1 || len != 32)
    return {};
  return pub;
}

QByteArray newPrivateKey() {
  QByteArray key(32, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), 32) != 1) return {};
  return key;
}

} // namespace orrery::CodeSeal
