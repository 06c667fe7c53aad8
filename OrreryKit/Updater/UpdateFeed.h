#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace orrery {

// The feed document the maker publishes: the newest version, its web page,
// optional notes, an optional lowest system version and an optional signed
// archive.
struct UpdateFeed {
  struct Download {
    QString url;
    qint64 length = 0;
    QString edSignature;
    bool operator==(const Download&) const = default;
  };

  QString version;
  QString url;
  std::optional<QString> notes;
  std::optional<QString> minimumSystemVersion;
  std::optional<Download> download;

  bool operator==(const UpdateFeed&) const = default;

  // Strict decode of the feed document; nullopt when anything required is
  // missing or mistyped, or the version cannot safely name a folder (then,
  // for a document that is otherwise sound, `unusableVersion` gets the
  // version as the feed wrote it).
  static std::optional<UpdateFeed> decode(const QByteArray& json, QString* unusableVersion = nullptr);
  QByteArray encode() const;
};

} // namespace orrery
