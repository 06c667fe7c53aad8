#pragma once

#include "Reader/RuleList.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;
class QWebEnginePage;

namespace bx {

// Where message bodies come from and what they may load. Every body is a
// document of our own scheme served once under a random name; every request
// the engine makes for it is judged by the document it belongs to (its first
// party): http(s) only for the images the inspector counted, and only while
// the document's rule list lets images through. Everything that is not ours,
// data: or about: is refused.
class MailContent : public QObject {
  Q_OBJECT
public:
  static constexpr const char* scheme = "bx-mail";

  // Registers our scheme and the engine switches that stop background
  // networking. Must run before the QApplication is created.
  static void registerScheme();

  static MailContent& shared();

  // The one profile every message view uses: off the record, no cache, no
  // cookies, scripts off, our scheme handler and request interceptor.
  QWebEngineProfile* profile();

  struct Document {
    QByteArray html;
    RuleListPtr rules;           // the list in force; never null
    QSet<QString> remoteImages;  // fully encoded http(s) image addresses that may load
    bool served = false;
  };

  // Makes `html` available once under a fresh address and returns it.
  QUrl publish(QByteArray html, RuleListPtr rules, QSet<QString> remoteImages);
  // Replaces the images a published document may load.
  void allowImages(const QUrl& document, QSet<QString> images);
  // Forgets a document: its later requests are refused.
  void revoke(const QUrl& url);
  bool isPublished(const QUrl& url) const;

  // The decision for one request; true = let it load.
  bool allows(const QUrl& request, const QUrl& firstParty, QWebEngineUrlRequestInfo::ResourceType type) const;

  // Every request the engine asked about, with the decision (tests).
  struct Decision {
    QUrl url;
    QUrl firstParty;
    QString type;
    bool allowed;
  };
  const QList<Decision>& decisions() const { return decisions_; }
  void clearDecisions() { decisions_.clear(); }
  // Whether decisions are kept; off unless a test turns it on.
  void setRecording(bool on) { recording_ = on; }
  // Number of documents waiting or shown (leak checks).
  int documentCount() const { return documents_.size(); }

  // An http(s) image address as both the engine's requests and the
  // inspector's sources read: resolved, without fragment, percent-decoded.
  static QString imageKey(const QUrl& url);

private:
  MailContent();
  friend class MailSchemeHandler;
  friend class MailInterceptor;

  QWebEngineProfile* profile_ = nullptr;
  QHash<QString, Document> documents_;  // by token
  QList<Decision> decisions_;
  bool recording_ = false;
};

} // namespace bx
