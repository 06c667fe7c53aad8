#include "Reader/MailWebView.h"

#include "Mime/HTMLText.h"
#include "Reader/MailContent.h"
#include "Reader/MailDocument.h"
#include "Reader/ReaderPage.h"
#include "Reader/RemoteBlocker.h"
#include "Safety/Domains.h"
#include "Safety/HTMLInspector.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineHistory>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>

#include <utility>

namespace bx {

namespace {

std::function<void(const QUrl&)>& opener() {
  static std::function<void(const QUrl&)> f = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  return f;
}

QString ace(const QString& host) {
  if (host.isEmpty()) return host;
  const QByteArray a = QUrl::toAce(host, QUrl::AceTransitionalProcessing);
  return a.isEmpty() ? host.toLower() : QString::fromLatin1(a).toLower();
}

} // namespace

MailPage::MailPage(MailWebView* view) : QWebEnginePage(MailContent::shared().profile(), view), view_(view) {
  // A target=_blank link or form asks for a new window: it goes through the
  // link policy and never makes a view.
  connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
    const QUrl url = request.requestedUrl();
    // Only a link of the message may go on; a form aimed at a new window is
    // a submission and is dropped like any other.
    if (request.isUserInitiated() && view_->isLinkTarget(url))
      QTimer::singleShot(0, view_, [v = QPointer<MailWebView>(view_), url] {
        if (v) v->activateLink(url);
      });
  });
}

bool MailPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  if (type == NavigationTypeLinkClicked) {
    // Refused at once; the policy (and its alert) runs after the engine's
    // callback has returned.
    if (!url.isEmpty())
      QTimer::singleShot(0, view_, [v = QPointer<MailWebView>(view_), url] {
        if (v) v->activateLink(url);
      });
    return false;
  }
  if (type == NavigationTypeBackForward) return false;
  const QString scheme = url.isEmpty() || url.scheme().isEmpty() ? QStringLiteral("about") : url.scheme().toLower();
  if (scheme == QLatin1String("about") || scheme == QLatin1String("data")) return true;
  return isMainFrame && url == view_->documentUrl() && MailContent::shared().isPublished(url);
}

MailWebView::MailWebView(QWidget* parent) : QWebEngineView(parent) {
  setPage(new MailPage(this));
  setAcceptDrops(false);
  setMinimumHeight(120);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  // The plain-text page draws in the reader's appearance: a switch loads it
  // again in the other one.
  connect(&Appearance::shared(), &Appearance::changed, this, [this] {
    if (plainText_) update(plainText_, false, true, warnings_);
  });
  connect(page(), &QWebEnginePage::loadFinished, this, [this](bool ok) {
    // No way back into another message's body.
    page()->history()->clear();
    if (ok) measureImages();
    emit documentLoaded(ok);
  });
}

MailWebView::~MailWebView() {
  if (!documentUrl_.isEmpty()) MailContent::shared().revoke(documentUrl_);
}

void MailWebView::setOpener(std::function<void(const QUrl&)> f) {
  opener() = f ? std::move(f) : [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

void MailWebView::openExternally(const QUrl& url) { opener()(url); }

void MailWebView::update(std::string html, bool allowRemote, bool transparent, std::vector<LinkWarning> warnings) {
  update(std::make_shared<const std::string>(std::move(html)), allowRemote, transparent, std::move(warnings));
}

void MailWebView::update(std::shared_ptr<const std::string> html, bool allowRemote, bool transparent,
                         std::vector<LinkWarning> warnings) {
  warnings_ = std::move(warnings);
  page()->setBackgroundColor(transparent ? QColor(Qt::transparent) : QColor(Qt::white));
  // A page over the reader's own background takes its colours from the
  // appearance; one on white is always drawn light.
  const ColorScheme scheme = transparent ? Appearance::shared().scheme() : ColorScheme::Light;
  const QString key = QString::number(qHash(QByteArrayView(html->data(), qsizetype(html->size())))) +
                      (allowRemote ? "-true" : "-false") + (scheme == ColorScheme::Dark ? "-dark" : "");
  if (transparent)
    plainText_ = html;
  else
    plainText_.reset();
  if (key == loadedKey_) return;
  loadedKey_ = key;
  const quint64 generation = ++generation_;
  QPointer<MailWebView> self(this);
  RemoteBlocker::shared().both([self, generation, html, allowRemote, transparent, scheme](RuleListPtr list,
                                                                                        RuleListPtr imagesOnly) {
    // Loads run in order; one that a later update overtook is dropped, so
    // the last one stays on screen.
    if (!self || generation != self->generation_) return;
    RuleListPtr chosen = allowRemote ? imagesOnly : list;
    // The document is made ready off the GUI thread (a body with inlined
    // images runs to tens of megabytes), then published and loaded here.
    QThreadPool::globalInstance()->start([self, generation, html, allowRemote, transparent, scheme, chosen] {
      struct Ready {
        QByteArray document;
        MailDocument facts;
      };
      auto ready = std::make_shared<Ready>();
      // Without a rule list nothing remote may load: the text alone.
      ready->document =
          chosen ? ReaderPage::withSheet(*html, transparent, scheme)
                 : ReaderPage::withSheet(HTMLInspector::plainTextDocument(HTMLText::toPlain(*html)), true, scheme);
      // What the engine is given is what is read: links and images come
      // from a parse of exactly this text.
      ready->facts = MailDocument::read(std::string_view(ready->document.constData(), size_t(ready->document.size())));
      QMetaObject::invokeMethod(qApp, [self, generation, chosen, allowRemote, ready] {
        if (!self || generation != self->generation_) return;
        auto& content = MailContent::shared();
        if (!self->documentUrl_.isEmpty()) content.revoke(self->documentUrl_);
        self->ruleList_ = chosen ? chosen->identifier() : QString();
        self->links_ = std::move(ready->facts.links);
        // Images wait until the engine has laid the page out and shown
        // which of them a person could see.
        self->visibleImages_.clear();
        self->pendingImages_ = allowRemote && chosen ? std::move(ready->facts.images) : QSet<QString>();
        self->documentUrl_ = content.publish(std::move(ready->document), chosen, {});
        ++self->loadsStarted_;
        self->page()->load(self->documentUrl_);
      }, Qt::QueuedConnection);
    });
  });
}

namespace {

// Runs in a world of its own, apart from the page (whose scripts are off
// anyway): every http(s) image is taken off the network and given a box of
// 100 x 100 that only the page's own rules can shrink or hide; what the
// layout then makes of it says whether a person could see it. The images
// stay parked until the second script puts back the visible ones.
const char* const measureScript = R"JS((function () {
  var out = [], parked = [];
  var imgs = Array.prototype.slice.call(document.images);
  imgs.forEach(function (el) {
    if (el.getAttribute('src') === null || !/^https?:/i.test(el.src)) return;
    el.__bx = { src: el.getAttribute('src'), srcset: el.getAttribute('srcset'),
                width: el.getAttribute('width'), height: el.getAttribute('height'), url: el.src };
    el.removeAttribute('srcset');
    el.removeAttribute('src');
    el.setAttribute('width', '100');
    el.setAttribute('height', '100');
    parked.push(el);
  });
  parked.forEach(function (el) {
    var r = el.getBoundingClientRect(), visible = el.getClientRects().length > 0 && r.width > 2 && r.height > 2;
    if (r.right + window.scrollX <= 0 || r.bottom + window.scrollY <= 0) visible = false;
    for (var p = el; visible && p && p.nodeType === 1; p = p.parentElement) {
      var s = getComputedStyle(p);
      if (parseFloat(s.opacity) === 0) visible = false;
      if (p === el) {
        if (s.visibility !== 'visible') visible = false;
      } else if (s.overflowX !== 'visible' || s.overflowY !== 'visible') {
        var pr = p.getBoundingClientRect();
        if (pr.width <= 2 || pr.height <= 2) visible = false;
      }
    }
    el.__bx.visible = visible;
    out.push([el.__bx.url, visible]);
  });
  return out;
})())JS";

const char* const restoreScript = R"JS((function () {
  Array.prototype.slice.call(document.images).forEach(function (el) {
    var b = el.__bx;
    if (!b) return;
    delete el.__bx;
    if (b.width === null) el.removeAttribute('width'); else el.setAttribute('width', b.width);
    if (b.height === null) el.removeAttribute('height'); else el.setAttribute('height', b.height);
    if (!b.visible) return;
    if (b.srcset !== null) el.setAttribute('srcset', b.srcset);
    el.setAttribute('src', b.src);
  });
  return true;
})())JS";

} // namespace

void MailWebView::measureImages() {
  if (pendingImages_.isEmpty()) return;
  const QSet<QString> counted = std::exchange(pendingImages_, {});
  const QUrl document = documentUrl_;
  QPointer<MailWebView> self(this);
  page()->runJavaScript(QString::fromLatin1(measureScript), QWebEngineScript::ApplicationWorld,
                        [self, counted, document](const QVariant& result) {
    if (!self || self->documentUrl_ != document) return;
    QSet<QString> visible;
    for (const QVariant& entry : result.toList()) {
      const QVariantList pair = entry.toList();
      if (pair.size() != 2 || !pair[1].toBool()) continue;
      const QString key = MailContent::imageKey(QUrl(pair[0].toString()));
      if (counted.contains(key)) visible.insert(key);
    }
    self->visibleImages_ = visible;
    MailContent::shared().allowImages(document, std::move(visible));
    self->page()->runJavaScript(QString::fromLatin1(restoreScript), QWebEngineScript::ApplicationWorld,
                                [self, document](const QVariant&) {
      if (self && self->documentUrl_ == document) emit self->imagesMeasured();
    });
  });
}

bool MailWebView::isLinkTarget(const QUrl& url) const {
  return links_.contains(MailDocument::linkKey(url));
}

std::optional<LinkWarning> MailWebView::warningForClick(const QUrl& url) const {
  const auto it = links_.constFind(MailDocument::linkKey(url));
  if (it == links_.constEnd()) return std::nullopt;
  // Decided from the clicked link's own text, now; any link to this target
  // whose text names another site is reason enough.
  for (const auto& link : *it)
    if (auto w = HTMLInspector::linkWarning(link.href, link.text)) return w;
  return matchingWarning(warnings_, url);
}

QString MailWebView::displayHost(const std::string& host) {
  const QString h = QString::fromStdString(host);
  const QString a = ace(h);
  return a.startsWith(QLatin1String("xn--")) || a.contains(QLatin1String(".xn--")) ? a : h;
}

QString MailWebView::confirmationSite(const std::string& host) {
  const QString full = displayHost(host);
  const QString site = QString::fromStdString(Domains::registrable(full.toStdString()));
  if (full == site || !full.endsWith(QLatin1Char('.') + site)) return full;
  // The registrable domain is who runs the site; what comes before it is
  // theirs to choose ("bank.example.login.evil.example"), so it comes second
  // and a long one loses its middle.
  QString sub = full.left(full.size() - site.size() - 1);
  constexpr int keep = 14;
  if (sub.size() > 2 * keep + 1) sub = sub.left(keep) + QStringLiteral("…") + sub.right(keep);
  return site + QStringLiteral(" (") + sub + QLatin1Char('.') + site + QLatin1Char(')');
}

std::optional<LinkWarning> MailWebView::matchingWarning(const std::vector<LinkWarning>& warnings, const QUrl& url) {
  const QString absolute = url.toString(QUrl::FullyEncoded);
  const QString urlHost = ace(url.host(QUrl::FullyEncoded));
  for (const auto& w : warnings) {
    const QString href = QString::fromStdString(w.href);
    if (href == absolute || QUrl(href).toString(QUrl::FullyEncoded) == absolute) return w;
    const auto host = Domains::host(w.href);
    const QString warned = host ? ace(QString::fromStdString(*host)) : QString();
    if (warned == urlHost) return w;
  }
  return std::nullopt;
}

QUrl MailWebView::sanitizedMailto(const QUrl& url) {
  QUrl out;
  out.setScheme(QStringLiteral("mailto"));
  out.setPath(url.path(QUrl::FullyDecoded));
  QUrlQuery in(url), kept;
  for (const auto& [key, value] : in.queryItems(QUrl::FullyDecoded)) {
    const QString k = key.toLower();
    if (k == QLatin1String("to") || k == QLatin1String("cc") || k == QLatin1String("subject") ||
        k == QLatin1String("body"))
      kept.addQueryItem(k, QString(value).replace(QLatin1Char('+'), QLatin1String("%2B")));
  }
  if (!kept.isEmpty()) out.setQuery(kept);
  return out;
}

void MailWebView::activateLink(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("mailto")) return;
  // Only the document's own links go anywhere: an address that none of them
  // holds is not something the person was shown.
  if (!isLinkTarget(url)) return;
  const QUrl target = scheme == QLatin1String("mailto") ? sanitizedMailto(url) : url;
  const auto warning = warningForClick(url);
  if (!warning) {
    openExternally(target);
    return;
  }
  if (alert_) alert_->close();
  const QString site = confirmationSite(warning->actualHost);
  const QString host = QString::fromStdString(Domains::registrable(displayHost(warning->actualHost).toStdString()));
  auto* box = new QMessageBox(QMessageBox::Warning, QString(),
                              QStringLiteral("This link doesn’t go to ") + QString::fromStdString(warning->shownDomain),
                              QMessageBox::NoButton, window());
  box->setTextFormat(Qt::PlainText);
  box->setInformativeText(QStringLiteral("It opens ") + site + QStringLiteral(". Only continue if you trust that site."));
  // The informative text is shown as plain text as well.
  for (auto* label : box->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  QPushButton* open = box->addButton(QStringLiteral("Open ") + host, QMessageBox::AcceptRole);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::buttonClicked, this, [box, open, target](QAbstractButton* clicked) {
    if (clicked == open && box->clickedButton() == open) openExternally(target);
  });
  alert_ = box;
  box->open();
}

void MailWebView::contextMenuEvent(QContextMenuEvent* event) {
  QWebEngineContextMenuRequest* request = lastContextMenuRequest();
  QMenu menu(this);
  QAction* copy = menu.addAction(QStringLiteral("Copy"), this, [this] { triggerPageAction(QWebEnginePage::Copy); });
  copy->setEnabled(request && !request->selectedText().isEmpty());
  menu.addAction(QStringLiteral("Select All"), this, [this] { triggerPageAction(QWebEnginePage::SelectAll); });
  if (request && request->linkUrl().isValid() && !request->linkUrl().isEmpty()) {
    const QUrl link = request->linkUrl();
    menu.addAction(QStringLiteral("Copy Link Address"), this,
                   [link] { QApplication::clipboard()->setText(link.toString(QUrl::FullyEncoded)); });
  }
  menu.exec(event->globalPos());
}

} // namespace bx
