#include "Reader/ReaderText.h"

#include "Theme/Theme.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace bx {

namespace {
const char* const kChecks[] = {"spf", "dkim", "dmarc"};
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

std::vector<ReaderText::Check> ReaderText::checks(const std::map<std::string, std::string>& authResults) {
  std::vector<Check> out;
  for (const char* key : kChecks) {
    auto it = authResults.find(key);
    if (it == authResults.end()) continue;
    out.push_back({QString::fromLatin1(key).toUpper(), q(it->second), it->second == "pass"});
  }
  return out;
}

ReaderText::SealLook ReaderText::trustSeal(SenderTrust trust) {
  switch (trust) {
    case SenderTrust::verified: return {"checkmark.seal", Theme::seal};
    case SenderTrust::failed: return {"xmark.seal", Theme::danger};
    case SenderTrust::partial: return {"seal", Theme::caution};
    case SenderTrust::unknown: break;
  }
  return {"seal", Theme::ink3};
}

QStringList ReaderText::senderReasons(const OpenMessage& message) {
  QStringList reasons;
  if (message.trust == SenderTrust::failed) {
    QStringList failing;
    for (const auto& c : checks(message.authResults))
      if (!c.passes) failing << c.key;
    reasons << QStringLiteral("Failed ") + (failing.isEmpty() ? QStringLiteral("sender") : failing.join(", ")) +
                   QStringLiteral(" checks at your provider");
  }
  for (const auto& flag : message.senderFlags) reasons << q(flag.summary);
  if (message.replyTo) reasons << QStringLiteral("Replies would go to ") + q(message.replyTo->email);
  return reasons;
}

QString ReaderText::linksTitle(int n) {
  return QString::number(n) + QStringLiteral(" link") +
         (n == 1 ? QStringLiteral(" doesn’t") : QStringLiteral("s don’t")) + QStringLiteral(" go where ") +
         (n == 1 ? QStringLiteral("it says") : QStringLiteral("they say"));
}

ReaderText::TrackerCard ReaderText::trackerCard(const HTMLReport& report) {
  if (report.trackerCount >= 1) {
    QStringList hosts;
    for (size_t i = 0; i < report.trackerHosts.size() && i < 2; ++i) hosts << q(report.trackerHosts[i]);
    const QString joined = hosts.join(", ");
    return {QString::number(report.trackerCount) + QStringLiteral(" tracker") +
                (report.trackerCount == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" blocked"),
            joined.isEmpty() ? QStringLiteral("Hidden images that report when you open mail never load.")
                             : QStringLiteral("From ") + joined +
                                   QStringLiteral(". They never load, even if you show images.")};
  }
  return {QStringLiteral("Remote images are off"), QStringLiteral("Pictures from the web load only when you ask.")};
}

QString ReaderText::showImagesTitle(int n) {
  return QStringLiteral("Show ") + QString::number(n) + QStringLiteral(" image") + (n == 1 ? QString() : "s");
}

QString ReaderText::relativeName(const QString& path) {
  const QStringList pieces = path.split('/', Qt::SkipEmptyParts);
  if (pieces.size() < 3) return path;
  return pieces.mid(2).join('/');
}

QString ReaderText::grouped(int64_t n) {
  QLocale locale;
  locale.setNumberOptions(QLocale::DefaultNumberOptions);
  return locale.toString(qlonglong(n));
}

ReaderText::CopySeal ReaderText::copySeal(const CopyStatus& copy) {
  switch (copy.kind) {
    case CopyStatus::Kind::verified:
      return {"Verified copy", "checkmark.shield.fill", Theme::seal,
              "The file holds exactly the " + grouped(copy.serverSize) +
                  " bytes your server sent, and reads as a complete email."};
    case CopyStatus::Kind::differs:
      return {"Copy differs", "exclamationmark.shield.fill", Theme::caution,
              "The file is " + grouped(copy.local) + " bytes but the server sent " + grouped(copy.serverSize) +
                  ". Run a backup to fetch it again."};
    case CopyStatus::Kind::imported:
      return {"Imported", "square.and.arrow.down", Theme::ink2, "Imported from an .eml or .mbox file."};
    case CopyStatus::Kind::saved: break;
  }
  return {"Saved copy", "doc", Theme::ink2,
          "Saved before Brindlebox recorded server sizes; it will be verified after the next backup."};
}

QString ReaderText::headerDate(const OpenMessage& message) {
  const Date date = message.parsed.date ? *message.parsed.date : message.record.date;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
  const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
  // Day, short month and year, then the time as the locale writes it
  // (24-hour where that is the custom).
  // Hours and minutes only: a locale's short format may carry seconds.
  static const QRegularExpression seconds(QStringLiteral("[:.]?s+"));
  const QString time = QLocale().timeFormat(QLocale::ShortFormat).remove(seconds).trimmed();
  return QLocale().toString(when, QStringLiteral("d MMM yyyy, ")) + QLocale().toString(when.time(), time);
}

QString ReaderText::display(const MailAddress& address) {
  return q(address.name.empty() ? address.email : address.name);
}

} // namespace bx
