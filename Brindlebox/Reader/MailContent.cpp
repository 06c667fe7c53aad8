#include "Reader/MailContent.h"

#include <QApplication>
#include <QBuffer>
#include <QRandomGenerator>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace bx {

class MailSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  void requestStarted(QWebEngineUrlRequestJob* job) override {
    auto& content = MailContent::shared();
    const QString token = job->requestUrl().host();
    auto it = content.documents_.find(token);
    // Each document is served once, to the load that asked for it; a frame
    // or a link pointing back at it gets nothing.
    if (it == content.documents_.end() || it->served || job->requestMethod() != "GET" ||
        job->requestUrl().path() != QLatin1String("/")) {
      job->fail(QWebEngineUrlRequestJob::RequestDenied);
      return;
    }
    it->served = true;
    auto* buffer = new QBuffer(job);
    buffer->setData(it->html);
    buffer->open(QIODevice::ReadOnly);
    it->html.clear();
    job->reply("text/html;charset=utf-8", buffer);
  }
};

class MailInterceptor : public QWebEngineUrlRequestInterceptor {
public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    auto& content = MailContent::shared();
    const bool allowed = content.allows(info.requestUrl(), info.firstPartyUrl(), info.resourceType());
    if (content.recording_)
      content.decisions_.append(
        {info.requestUrl(), info.firstPartyUrl(), RuleList::resourceType(info.resourceType()), allowed});
    if (!allowed) info.block(true);
  }
};

void MailContent::registerScheme() {
  QWebEngineUrlScheme mail(scheme);
  mail.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  // Not a secure scheme: the engine would upgrade http images to https.
  mail.setFlags(QWebEngineUrlScheme::LocalAccessAllowed);
  QWebEngineUrlScheme::registerScheme(mail);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

  // The engine phones home for components, safe-browsing lists and network
  // predictions on its own; none of that may happen from a mail reader.
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  for (const char* flag :
       {"--disable-background-networking", "--dns-prefetch-disable", "--no-pings", "--disable-component-update",
        "--disable-domain-reliability", "--disable-client-side-phishing-detection", "--disable-sync",
        "--no-default-browser-check", "--disable-features=NetworkPrediction,PreconnectToSearch,"
                                      "SpeculationRulesPrefetchProxy,Prerender2,LinkPreview"}) {
    if (!flags.contains(flag)) flags += QByteArray(" ") + flag;
  }
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

MailContent& MailContent::shared() {
  static MailContent* instance = new MailContent;
  return *instance;
}

MailContent::MailContent() = default;

QWebEngineProfile* MailContent::profile() {
  if (profile_) return profile_;
  profile_ = new QWebEngineProfile(qApp);  // no storage name: off the record
  profile_->setHttpCacheType(QWebEngineProfile::NoCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile_->setSpellCheckEnabled(false);
  profile_->cookieStore()->setCookieFilter([](const QWebEngineCookieStore::FilterRequest&) { return false; });
  auto* s = profile_->settings();
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
  s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
  s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
  s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
  // Schemes the engine does not handle itself (mailto:) reach the page's
  // navigation check only when a click asked for them; the page refuses every
  // one and hands the click to the link policy, so nothing opens behind it.
  s->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowUnknownUrlSchemesFromUserInteraction);
  profile_->installUrlSchemeHandler(scheme, new MailSchemeHandler(profile_));
  profile_->setUrlRequestInterceptor(new MailInterceptor(profile_));
  connect(profile_, &QWebEngineProfile::downloadRequested, profile_,
          [](QWebEngineDownloadRequest* download) { download->cancel(); });
  return profile_;
}

QUrl MailContent::publish(QByteArray html, RuleListPtr rules, QSet<QString> remoteImages) {
  QString token;
  do {
    const quint64 a = QRandomGenerator::system()->generate64(), b = QRandomGenerator::system()->generate64();
    token = QStringLiteral("m%1%2").arg(a, 16, 16, QLatin1Char('0')).arg(b, 16, 16, QLatin1Char('0'));
  } while (documents_.contains(token));
  documents_.insert(token, Document{std::move(html), std::move(rules), std::move(remoteImages), false});
  QUrl url;
  url.setScheme(scheme);
  url.setHost(token);
  url.setPath(QStringLiteral("/"));
  return url;
}

void MailContent::revoke(const QUrl& url) {
  if (url.scheme() == QLatin1String(scheme)) documents_.remove(url.host());
}

bool MailContent::isPublished(const QUrl& url) const {
  return url.scheme() == QLatin1String(scheme) && documents_.contains(url.host());
}

QString MailContent::imageKey(const QUrl& url) {
  // Decoded, so that the engine's spelling of an address and the one read
  // from the document meet however each encodes it.
  return QUrl::fromPercentEncoding(
      url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments).toString(QUrl::FullyEncoded).toUtf8());
}

void MailContent::allowImages(const QUrl& document, QSet<QString> images) {
  if (document.scheme() != QLatin1String(scheme)) return;
  auto it = documents_.find(document.host());
  if (it != documents_.end()) it->remoteImages = std::move(images);
}

bool MailContent::allows(const QUrl& request, const QUrl& firstParty,
                         QWebEngineUrlRequestInfo::ResourceType type) const {
  const QString requestScheme = request.scheme().toLower();
  if (requestScheme == QLatin1String(scheme))
    return documents_.contains(request.host()) && type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame;
  if (requestScheme == QLatin1String("data") || requestScheme == QLatin1String("about")) return true;
  if (requestScheme != QLatin1String("http") && requestScheme != QLatin1String("https")) return false;
  // A request belongs to the document that caused it; one that no live
  // document of ours caused (a late request of a replaced body) gets nothing.
  if (firstParty.scheme() != QLatin1String(scheme)) return false;
  auto it = documents_.constFind(firstParty.host());
  if (it == documents_.constEnd() || !it->rules) return false;
  const QString kind = RuleList::resourceType(type);
  if (it->rules->blocks(request, kind)) return false;
  return kind == QLatin1String("image") && it->remoteImages.contains(imageKey(request));
}

} // namespace bx
