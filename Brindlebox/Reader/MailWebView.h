#pragma once

#include "Safety/HTMLInspector.h"
#include "Safety/LinkWarning.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMessageBox>

namespace bx {

class MailWebView;

// The page of one message view: it never follows a link itself. Clicks go
// to the view's link policy after the engine's callback has returned; any
// other navigation is allowed only for about:, data: and the view's own
// current document.
class MailPage : public QWebEnginePage {
  Q_OBJECT
public:
  explicit MailPage(MailWebView* view);

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
  MailWebView* view_;
};

// A message body in the web engine: scripts off, the shared off-the-record
// profile, the document served from our scheme under the rule list chosen
// by `allowRemote`.
class MailWebView : public QWebEngineView {
  Q_OBJECT
public:
  explicit MailWebView(QWidget* parent = nullptr);
  ~MailWebView() override;

  // Hands over the link warnings (always) and loads `html` when it or
  // `allowRemote` changed since the last load.
  // `html` is shared, not copied: a body runs to tens of megabytes.
  void update(std::shared_ptr<const std::string> html, bool allowRemote, bool transparent,
              std::vector<LinkWarning> warnings);
  void update(std::string html, bool allowRemote, bool transparent, std::vector<LinkWarning> warnings);

  const std::vector<LinkWarning>& warnings() const { return warnings_; }
  QString loadedKey() const { return loadedKey_; }
  // The document the view shows or is loading (empty before the first load).
  QUrl documentUrl() const { return documentUrl_; }
  // Which rule list the last load used: "brindlebox-block-remote",
  // "brindlebox-images-only-2", or empty for the plain-text fallback.
  QString ruleListInForce() const { return ruleList_; }
  int loadsStarted() const { return loadsStarted_; }

  // The link policy for a click on `url`: nothing for schemes other than
  // http, https and mailto; the warning alert for a deceptive link; else
  // the system opens it.
  void activateLink(const QUrl& url);
  // The warning a click on `url` matches, if any; hosts compare in ACE.
  static std::optional<LinkWarning> matchingWarning(const std::vector<LinkWarning>& warnings, const QUrl& url);
  // A mailto: address cut down to its addresses, cc, subject and body.
  static QUrl sanitizedMailto(const QUrl& url);
  // A host as the alert names it: ACE when it is an internationalised name.
  static QString displayHost(const std::string& host);
  // The site a confirmation names: the registrable domain first, then the
  // whole host in brackets with a long beginning cut in the middle.
  static QString confirmationSite(const std::string& host);

  // Whether `url` is the target of one of the shown document's links.
  bool isLinkTarget(const QUrl& url) const;
  // The warning a click on `url` gets: from the text of the document's own
  // link to it, else the Part's match on the message's warnings; nothing
  // for an address that is no link of the document.
  std::optional<LinkWarning> warningForClick(const QUrl& url) const;
  // The images a person could see once laid out, that now may load (keys
  // of MailContent::imageKey); empty until measured.
  const QSet<QString>& visibleImages() const { return visibleImages_; }

  // The open alert for a deceptive link, if one is showing (tests).
  QMessageBox* linkAlert() const { return alert_; }

  // What opens a URL outside; QDesktopServices by default (tests replace it).
  static void setOpener(std::function<void(const QUrl&)> opener);
  static void openExternally(const QUrl& url);

signals:
  void documentLoaded(bool ok);
  // The images of a document shown with images allowed were measured and
  // the visible ones asked for.
  void imagesMeasured();

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  friend class MailPage;
  void measureImages();

  std::vector<LinkWarning> warnings_;
  QString loadedKey_;
  QUrl documentUrl_;
  QString ruleList_;
  int loadsStarted_ = 0;
  quint64 generation_ = 0;
  QPointer<QMessageBox> alert_;
  QHash<QString, std::vector<HTMLInspector::Link>> links_;
  QSet<QString> pendingImages_;
  QSet<QString> visibleImages_;
  std::shared_ptr<const std::string> plainText_;  // the page on the reader's background, for an appearance switch
};

} // namespace bx
