#pragma once

#include "Bundle.h"
#include "UpdateFeed.h"
#include "UpdateLogic.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QNetworkRequest>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace orrery {

// Where the application stands with updates, and the one object that checks
// the feed, downloads, stages and installs. Main thread only.
class Updater : public QObject {
  Q_OBJECT
public:
  struct Phase {
    enum class Kind { Idle, Checking, UpToDate, Available, Downloading, Ready, Failed };
    Kind kind = Kind::Idle;
    std::optional<UpdateFeed> feed; // available, downloading, ready
    double progress = 0;            // downloading
    QString message;                // failed

    static Phase idle() { return {}; }
    static Phase checking() { return {Kind::Checking, {}, 0, {}}; }
    static Phase upToDate() { return {Kind::UpToDate, {}, 0, {}}; }
    static Phase available(UpdateFeed f) { return {Kind::Available, std::move(f), 0, {}}; }
    static Phase downloading(UpdateFeed f, double p) { return {Kind::Downloading, std::move(f), p, {}}; }
    static Phase ready(UpdateFeed f) { return {Kind::Ready, std::move(f), 0, {}}; }
    static Phase failed(QString m) { return {Kind::Failed, {}, 0, std::move(m)}; }
    bool operator==(const Phase&) const = default;
  };

  // Largest archive the updater fetches; the whole file is held in memory.
  static constexpr qint64 maxDownloadBytes = 512LL << 20;
  // Largest feed document read.
  static constexpr qint64 maxFeedBytes = 1LL << 20;

  explicit Updater(const Bundle& bundle, QObject* parent = nullptr);
  ~Updater() override;

  // Arms the schedule (first check 8 s later, then every 6 hours) and the
  // install on quit, and takes up an update staged by an earlier run that
  // was not installed. Does nothing without a feed.
  void start();
  // One check of the feed; emits checkFinished() when it (and any download
  // it started) is over.
  void check(bool userInitiated);
  // Downloads, verifies, stages and validates; emits downloadFinished().
  void download(const UpdateFeed& feed);
  // Marks the install as one that reopens the application, then quits.
  void installAndRelaunch();
  // Whether the running install folder can be replaced where it stands.
  bool canInstallInPlace() const;

  const Phase& phase() const { return phase_; }
  bool automaticallyDownloads() const { return automaticallyDownloads_; }
  void setAutomaticallyDownloads(bool on);
  std::optional<QDateTime> lastChecked() const { return lastChecked_; }
  std::optional<QUrl> feedURL() const { return feedURL_; }
  std::optional<QString> publicKey() const { return publicKey_; }
  QString currentVersion() const { return currentVersion_; }
  QString appName() const { return appName_; }
  QString bundlePath() const { return bundlePath_; }
  // $XDG_CACHE_HOME/<identifier>/OrreryUpdate
  QString stagingFolder() const;
  std::optional<QString> stagedApp() const { return stagedApp_; }
  // The staged update was found again at start because the install script
  // gave up at the last quit (the application was still running).
  bool installWasInterrupted() const { return installInterrupted_; }

  // Idle time after which a stalled archive transfer is given up (60 s).
  void setIdleTimeout(int ms) { idleTimeoutMs_ = ms; }
  // The system version the feed's minimum is compared with.
  void setSystemVersion(SystemVersion v) { system_ = v; }

  // Shows a phase as it is, for view previews (screenshots, view tests).
  void setPhaseForPreview(Phase p) { setPhase(std::move(p)); }

  // Runs from QCoreApplication::aboutToQuit once start() has armed it.
  void installOnQuit();

signals:
  void phaseChanged();
  void automaticallyDownloadsChanged();
  void lastCheckedChanged();
  // The update window should come up (id "update").
  void windowRequested();
  void checkFinished();
  void downloadFinished();

private:
  void setPhase(Phase p);
  QNetworkAccessManager& network();
  static QNetworkRequest makeRequest(const QUrl& url);
  void feedAnswered(QNetworkReply* reply, bool userInitiated, bool overCap, const QByteArray& body);
  bool announce(const QString& version);
  void fetch(const UpdateFeed& feed);
  void downloadFailed(const QString& message);
  void staged(const UpdateFeed& feed, const QString& app, const QString& launcher);
  void recoverStaged();

  Phase phase_;
  bool automaticallyDownloads_ = true;
  std::optional<QDateTime> lastChecked_;
  std::optional<QUrl> feedURL_;
  std::optional<QString> publicKey_;
  QString currentVersion_;
  QString appName_;
  QString bundlePath_;
  std::optional<QString> identifier_;
  QString launcher_;
  std::optional<QString> stagedApp_;
  QString stagedLauncher_;
  bool relaunchAfterInstall_ = false;
  bool installInterrupted_ = false;
  bool armed_ = false;
  int idleTimeoutMs_ = 60000;
  SystemVersion system_;
  QNetworkAccessManager* network_ = nullptr;
  QTimer* timer_ = nullptr;
};

// Turns a feed address into a URL the updater may fetch: https only.
std::optional<QUrl> httpsURL(const QString& text);

} // namespace orrery
