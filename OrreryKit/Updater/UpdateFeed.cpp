#include "UpdateFeed.h"

#include "UpdateLogic.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace orrery {
namespace {

// Required string: present and a string.
bool requiredString(const QJsonObject& o, const char* key, QString& out) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (!v.isString()) return false;
  out = v.toString();
  return true;
}

// Optional value: missing or null means absent; otherwise it must be a string.
bool optionalString(const QJsonObject& o, const char* key, std::optional<QString>& out) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isUndefined() || v.isNull()) return true;
  if (!v.isString()) return false;
  out = v.toString();
  return true;
}

// A JSON number with a whole value that fits 64 bits (1.0 reads as 1, as a
// number-to-integer decode does; 1.5 or 1e30 does not).
bool wholeNumber(const QJsonValue& v, qint64& out) {
  if (!v.isDouble()) return false;
  const qint64 a = v.toInteger(0), b = v.toInteger(1);
  if (a != b) return false;
  out = a;
  return true;
}

} // namespace

std::optional<UpdateFeed> UpdateFeed::decode(const QByteArray& json, QString* unusableVersion) {
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  UpdateFeed feed;
  if (!requiredString(o, "version", feed.version) || !requiredString(o, "url", feed.url)) return std::nullopt;
  if (!optionalString(o, "notes", feed.notes) || !optionalString(o, "minimumSystemVersion", feed.minimumSystemVersion))
    return std::nullopt;
  const QJsonValue d = o.value(QLatin1String("download"));
  if (!d.isUndefined() && !d.isNull()) {
    if (!d.isObject()) return std::nullopt;
    const QJsonObject dl = d.toObject();
    Download download;
    if (!requiredString(dl, "url", download.url) || !requiredString(dl, "edSignature", download.edSignature) ||
        !wholeNumber(dl.value(QLatin1String("length")), download.length))
      return std::nullopt;
    feed.download = download;
  }
  // The version names a staging folder, a settings key and an install
  // script argument, and nothing in the feed is signed: refuse anything but
  // a plain version text.
  if (!UpdateLogic::isSafeName(feed.version)) {
    if (unusableVersion) *unusableVersion = feed.version;
    return std::nullopt;
  }
  return feed;
}

QByteArray UpdateFeed::encode() const {
  QJsonObject o;
  o.insert(QStringLiteral("version"), version);
  o.insert(QStringLiteral("url"), url);
  if (notes) o.insert(QStringLiteral("notes"), *notes);
  if (minimumSystemVersion) o.insert(QStringLiteral("minimumSystemVersion"), *minimumSystemVersion);
  if (download) {
    QJsonObject d;
    d.insert(QStringLiteral("url"), download->url);
    d.insert(QStringLiteral("length"), download->length);
    d.insert(QStringLiteral("edSignature"), download->edSignature);
    o.insert(QStringLiteral("download"), d);
  }
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace orrery
