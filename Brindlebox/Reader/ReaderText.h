#pragma once

#include "Store/StoreTypes.h"
#include "Theme/ThemeColor.h"

#include <QString>
#include <QStringList>

#include <map>
#include <string>
#include <vector>

namespace bx {

// The reader's words and choices, derived from the opened message only.
struct ReaderText {
  // One recorded provider check, in the fixed order spf, dkim, dmarc.
  struct Check {
    QString key;    // "SPF", "DKIM", "DMARC"
    QString value;  // as recorded, e.g. "softfail"
    bool passes;
  };
  static std::vector<Check> checks(const std::map<std::string, std::string>& authResults);

  struct SealLook {
    QString symbol;
    ThemeColor tint;
  };
  static SealLook trustSeal(SenderTrust trust);

  // The sender card's lines.
  static QStringList senderReasons(const OpenMessage& message);

  // "1 link doesn’t go where it says", "3 links don’t go where they say".
  static QString linksTitle(int count);

  struct TrackerCard {
    QString title;
    QString text;
  };
  static TrackerCard trackerCard(const HTMLReport& report);
  // "Show 1 image", "Show 12 images".
  static QString showImagesTitle(int count);

  // The path from its third piece on ("year/file"), or unchanged when it
  // has fewer than three pieces.
  static QString relativeName(const QString& path);

  struct CopySeal {
    QString text;
    QString symbol;
    ThemeColor tint;
    QString tooltip;
  };
  static CopySeal copySeal(const CopyStatus& copy);

  // Whole numbers with the locale's digit grouping ("48,213").
  static QString grouped(int64_t n);

  // The header's date line: day, abbreviated month, year, hour and minute.
  static QString headerDate(const OpenMessage& message);
  // Display form of an address: the name when not empty, else the address.
  static QString display(const MailAddress& address);
};

} // namespace bx
