#pragma once

#include "Safety/HTMLInspector.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QUrl>

#include <string_view>
#include <vector>

namespace bx {

// What a document shown in the reader can reach, read from exactly the text
// the engine is given, by the same parser the checks use.
struct MailDocument {
  // The http(s) images the inspector judged visible, as image keys
  // (MailContent::imageKey).
  QSet<QString> images;
  // Every link of the document by its target's key (linkKey).
  QHash<QString, std::vector<HTMLInspector::Link>> links;

  static MailDocument read(std::string_view document);

  // A link target as the engine reports a click on it: without fragment,
  // dot segments resolved, percent-decoded so that the engine's and our
  // spelling of one address meet.
  static QString linkKey(const QUrl& url);
};

} // namespace bx
