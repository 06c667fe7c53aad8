#include "UpdateLogic.h"

#include <QStringList>

#include <gnu/libc-version.h>
#include <openssl/evp.h>

#include <charconv>
#include <memory>

namespace orrery::UpdateLogic {
namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Compares two runs of decimal digits by value, whatever their length.
int compareDigitRuns(QStringView a, QStringView b) {
  while (a.size() > 1 && a.front() == u'0') a = a.mid(1);
  while (b.size() > 1 && b.front() == u'0') b = b.mid(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int base64Value(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c - u'A';
  if (c >= u'a' && c <= u'z') return c - u'a' + 26;
  if (c >= u'0' && c <= u'9') return c - u'0' + 52;
  if (c == u'+') return 62;
  if (c == u'/') return 63;
  return -1;
}

} // namespace

bool isNewer(const QString& candidate, const QString& current) {
  qsizetype i = 0, j = 0;
  const qsizetype n = candidate.size(), m = current.size();
  while (i < n && j < m) {
    if (isDigit(candidate[i]) && isDigit(current[j])) {
      qsizetype ei = i, ej = j;
      while (ei < n && isDigit(candidate[ei])) ++ei;
      while (ej < m && isDigit(current[ej])) ++ej;
      const int c = compareDigitRuns(QStringView(candidate).mid(i, ei - i), QStringView(current).mid(j, ej - j));
      if (c != 0) return c > 0;
      i = ei;
      j = ej;
      continue;
    }
    if (candidate[i] != current[j]) return candidate[i].unicode() > current[j].unicode();
    ++i;
    ++j;
  }
  // Everything compared was equal: the one with more left orders after.
  return (n - i) > (m - j);
}

bool systemSupports(const std::optional<QString>& minimum, SystemVersion system) {
  if (!minimum || minimum->isEmpty()) return true;
  qint64 required[3] = {0, 0, 0};
  int count = 0;
  for (const QString& piece : minimum->split(u'.', Qt::SkipEmptyParts)) {
    if (count == 3) break;
    const QByteArray text = piece.toLatin1();
    const char* begin = text.constData();
    const char* end = begin + text.size();
    if (piece.toLatin1() != piece.toUtf8()) continue; // non-ASCII never parses
    bool plus = false;
    if (begin != end && *begin == '+') { ++begin; plus = true; }
    if (begin == end || (plus && (*begin == '-' || *begin == '+'))) continue;
    qint64 value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end) continue; // not a whole number, or it overflows
    required[count++] = value;
  }
  const qint64 have[3] = {system.major, system.minor, system.patch};
  for (int k = 0; k < 3; ++k)
    if (required[k] != have[k]) return required[k] < have[k];
  return true;
}

std::optional<QByteArray> decodeBase64Strict(const QString& text) {
  const qsizetype n = text.size();
  if (n % 4 != 0) return std::nullopt;
  qsizetype pad = 0;
  if (n >= 1 && text[n - 1] == u'=') ++pad;
  if (n >= 2 && text[n - 2] == u'=') ++pad;
  QByteArray out;
  out.reserve(n / 4 * 3);
  quint32 acc = 0;
  for (qsizetype k = 0; k < n; ++k) {
    int v = 0;
    if (k >= n - pad) {
      v = 0;
    } else {
      v = base64Value(text[k].unicode());
      if (v < 0) return std::nullopt;
    }
    acc = (acc << 6) | quint32(v);
    if (k % 4 == 3) {
      out.append(char((acc >> 16) & 0xff));
      out.append(char((acc >> 8) & 0xff));
      out.append(char(acc & 0xff));
      acc = 0;
    }
  }
  out.chop(pad);
  return out;
}

bool verify(const QByteArray& data, const QString& signature, const QString& publicKey) {
  const auto sig = decodeBase64Strict(signature);
  if (!sig) return false;
  const auto key = decodeBase64Strict(publicKey);
  if (!key || key->size() != 32) return false;
  if (sig->size() != 64) return false;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                  reinterpret_cast<const unsigned char*>(key->constData()), 32),
      &EVP_PKEY_free);
  if (!pkey) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig->constData()), 64,
                          reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size())) == 1;
}

bool isSafeName(const QString& name) {
  if (name.isEmpty() || name.size() > 64 || name == u"." || name == u"..") return false;
  for (QChar c : name) {
    const char16_t u = c.unicode();
    const bool ok = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || u == u'.' ||
                    u == u'+' || u == u'-';
    if (!ok) return false;
  }
  return true;
}

SystemVersion runningSystem() {
  SystemVersion v;
  qint64* parts[3] = {&v.major, &v.minor, &v.patch};
  const QStringList pieces = QString::fromLatin1(gnu_get_libc_version()).split(u'.');
  for (int k = 0; k < 3 && k < pieces.size(); ++k) *parts[k] = pieces[k].toLongLong();
  return v;
}

} // namespace orrery::UpdateLogic
