#pragma once

#include <QString>

#include <exception>
#include <string>

namespace orrery {

// A failure of the updater's own steps. The message is a finished sentence
// that the interface shows unchanged.
struct UpdateError : std::exception {
  explicit UpdateError(QString text) : message(std::move(text)), utf8(message.toStdString()) {}
  const char* what() const noexcept override { return utf8.c_str(); }

  QString message;

private:
  std::string utf8;
};

namespace UpdateMessages {
inline const QString downloadFailed = QStringLiteral("The update file couldn\u2019t be downloaded.");
inline const QString tooLarge = QStringLiteral("The download was larger than expected.");
inline const QString incomplete = QStringLiteral("The download was incomplete.");
inline const QString badSignature =
    QStringLiteral("The update\u2019s signature didn\u2019t match, so it wasn\u2019t installed.");
inline const QString noApp = QStringLiteral("The update didn\u2019t contain an app.");
inline const QString mismatch = QStringLiteral("The downloaded update didn\u2019t match this app.");
inline const QString sealDamaged = QStringLiteral("The downloaded app\u2019s code signature is damaged.");
inline const QString otherPrefix = QStringLiteral("The update couldn\u2019t be downloaded. ");
inline const QString checkFailed =
    QStringLiteral("Couldn\u2019t check for updates. Check your internet connection and try again.");
// A user-initiated check of a copy built without a feed.
inline QString noFeed(const QString& appName) {
  return QStringLiteral("This copy of ") + appName +
         QStringLiteral(" doesn\u2019t get updates: it was built without an update feed.");
}
// A feed whose version cannot name a folder (a path, a key, a script
// argument): the network was fine, the feed is not.
inline QString unusableVersion(const QString& version) {
  QString shown = version.left(80);
  for (QChar& c : shown)
    if (!c.isPrint()) c = u'?';
  return QStringLiteral("The update feed names the version \u201C") + shown +
         QStringLiteral("\u201D, which can\u2019t be used as a version number.");
}
// The unpacker's refusals: this prefix, then what the archive holds and why
// it was refused ("its archive holds the link …, which points outside the
// update.").
inline const QString unpackRefused = QStringLiteral("The update wasn\u2019t installed: ");
} // namespace UpdateMessages

} // namespace orrery
