#pragma once

#include <QSet>
#include <QString>

#include <string>
#include <string_view>

namespace bx {

// What the reader does to a prepared body before the engine sees it.
struct MailDocument {
  // The addresses of the http(s) images the inspector counts as remote
  // images (not tracking pixels), in the form the engine asks for them.
  static QSet<QString> remoteImageSources(std::string_view html);

  // The absolute targets of the document's <a href> links, in the form the
  // engine reports them.
  static QSet<QString> linkTargets(std::string_view html);

  // Removes <link> hints that would open connections outside any request
  // (preconnect, dns-prefetch, prefetch, preload, prerender) and asks the
  // engine not to resolve host names ahead.
  static std::string neutraliseHints(std::string_view html);
};

} // namespace bx
