#include "Reader/MailDocument.h"

#include "Reader/MailContent.h"
#include "Safety/HTMLInspector.h"

#include <QRegularExpression>
#include <QUrl>

namespace bx {

QSet<QString> MailDocument::remoteImageSources(std::string_view html) {
  static const QRegularExpression img(QStringLiteral("<img\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
  QSet<QString> sources;
  const QString text = QString::fromUtf8(html.data(), qsizetype(html.size()));
  for (auto it = img.globalMatch(text); it.hasNext();) {
    const QByteArray tag = it.next().captured(0).toUtf8();
    const auto attributes = HTMLInspector::attributes(std::string_view(tag.constData(), size_t(tag.size())));
    auto src = attributes.find("src");
    if (src == attributes.end()) continue;
    const QString value = QString::fromStdString(src->second).trimmed();
    if (!value.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) continue;
    if (HTMLInspector::isTracker(attributes)) continue;
    const QUrl url(value);
    if (!url.isValid()) continue;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) continue;
    sources.insert(MailContent::imageKey(url));
  }
  return sources;
}

QSet<QString> MailDocument::linkTargets(std::string_view html) {
  static const QRegularExpression anchor(QStringLiteral("<a\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
  QSet<QString> targets;
  const QString text = QString::fromUtf8(html.data(), qsizetype(html.size()));
  for (auto it = anchor.globalMatch(text); it.hasNext();) {
    const auto attributes = HTMLInspector::attributes(it.next().captured(0).toStdString());
    auto href = attributes.find("href");
    if (href == attributes.end()) continue;
    const QUrl url(QString::fromStdString(href->second).trimmed());
    if (url.isValid() && !url.isRelative())
      targets.insert(url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded));
  }
  return targets;
}

std::string MailDocument::neutraliseHints(std::string_view html) {
  static const QRegularExpression link(QStringLiteral("<link\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression hint(
      QStringLiteral("\\b(preconnect|dns-prefetch|prefetch|preload|modulepreload|prerender|next)\\b"),
      QRegularExpression::CaseInsensitiveOption);
  const QString text = QString::fromUtf8(html.data(), qsizetype(html.size()));
  QString out;
  out.reserve(text.size() + 96);
  qsizetype last = 0;
  for (auto it = link.globalMatch(text); it.hasNext();) {
    const auto m = it.next();
    const auto attributes = HTMLInspector::attributes(m.captured(0).toStdString());
    auto rel = attributes.find("rel");
    if (rel == attributes.end() || !hint.match(QString::fromStdString(rel->second)).hasMatch()) continue;
    out += QStringView(text).mid(last, m.capturedStart() - last);
    out += QLatin1String("<!-- hint removed -->");
    last = m.capturedEnd();
  }
  out += QStringView(text).mid(last);
  static const QString meta = QStringLiteral("<meta http-equiv=\"x-dns-prefetch-control\" content=\"off\">");
  // After our own head's charset line, so a doctype stays first.
  const qsizetype at = out.indexOf(QLatin1String("<meta charset=\"utf-8\">"));
  if (at >= 0)
    out.insert(at + qsizetype(sizeof("<meta charset=\"utf-8\">") - 1), meta);
  else
    out.prepend(meta);
  return out.toStdString();
}

} // namespace bx
