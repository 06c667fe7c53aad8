#include "Reader/MailDocument.h"

#include "Reader/MailContent.h"

namespace bx {

MailDocument MailDocument::read(std::string_view document) {
  MailDocument out;
  HTMLInspector::Shown shown = HTMLInspector::shown(document);
  for (const std::string& src : shown.images) out.images.insert(MailContent::imageKey(QUrl(QString::fromStdString(src))));
  for (HTMLInspector::Link& link : shown.links) {
    const QUrl target(QString::fromStdString(link.target));
    if (!target.isValid() || target.isRelative()) continue;
    out.links[linkKey(target)].push_back(std::move(link));
  }
  return out;
}

QString MailDocument::linkKey(const QUrl& url) {
  return QUrl::fromPercentEncoding(
      url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments).toString(QUrl::FullyEncoded).toUtf8());
}

} // namespace bx
