#include "Updater.h"

#include "CodeSeal.h"
#include "InstallScript.h"
#include "Unpack.h"
#include "UpdateError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace orrery {
namespace {

const QString autoUpdateKey = QStringLiteral("OrreryAutoUpdate");
const QString announcedPrefix = QStringLiteral("OrreryAnnounced-");
// Used when the app-info names no usable identifier.
const QString fallbackIdentifier = QStringLiteral("app.orrery.kit");
constexpr qint64 progressStep = 262144;
// In the staging folder: the feed of the staged update, so a later run can
// still install it, and the install script's note that it gave up because
// the application had not ended.
const QString stagedRecord = QStringLiteral("/staged.json");
const QString stillRunningNote = QStringLiteral("/still-running");

bool readBool(const QVariant& v, bool absent) {
  if (v.typeId() == QMetaType::Bool) return v.toBool();
  if (v.typeId() == QMetaType::QString) {
    if (v.toString() == u"true") return true;
    if (v.toString() == u"false") return false;
  }
  return absent;
}

QString errnoText(const QString& what) {
  return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

// Makes a private folder (and a private parent for it) for the staging area.
void makePrivateFolder(const QString& path) {
  if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error(errnoText(QStringLiteral("Couldn\u2019t create %1").arg(path)).toStdString());
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error(QStringLiteral("%1 is not a folder.").arg(path).toStdString());
  ::chmod(QFile::encodeName(path).constData(), 0700);
}

// Empties and removes a staging folder of ours. A link in its place (or in
// place of its parent) is refused before anything is removed: removing
// through it would empty whatever folder it points at.
void removeStagingFolder(const QString& path) {
  for (const QString& p : {QFileInfo(path).absolutePath(), path}) {
    struct stat st {};
    if (::lstat(QFile::encodeName(p).constData(), &st) != 0) {
      if (errno == ENOENT) return;
      throw std::runtime_error(errnoText(QStringLiteral("Couldn\u2019t read %1").arg(p)).toStdString());
    }
    if (!S_ISDIR(st.st_mode)) throw std::runtime_error(QStringLiteral("%1 is not a folder.").arg(p).toStdString());
  }
  // Links inside are removed, never followed.
  QDir(path).removeRecursively();
}

struct StageResult {
  QString app;
  QString launcher;
  QString error; // empty on success
};

// The app at the top of the version folder, with its launcher, when it is
// this app at `version` under an intact seal; throws the matching
// UpdateError otherwise.
StageResult findValidApp(const QString& versionFolder, const QString& version, const std::optional<QString>& identifier,
                         const QString& fallbackLauncher) {
  const QDir dir(versionFolder);
  QString app;
  for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                  QDir::Unsorted)) {
    if (entry.suffix() == u"app") {
      app = entry.absoluteFilePath();
      break;
    }
  }
  if (app.isEmpty()) throw UpdateError(UpdateMessages::noApp);

  struct stat st {};
  const bool isFolder = ::lstat(QFile::encodeName(app).constData(), &st) == 0 && S_ISDIR(st.st_mode);
  const auto bundle = isFolder ? Bundle::open(app) : std::nullopt;
  if (!bundle || bundle->identifier() != identifier || bundle->shortVersion() != version)
    throw UpdateError(UpdateMessages::mismatch);
  if (!CodeSeal::verify(app)) throw UpdateError(UpdateMessages::sealDamaged);
  return {app, bundle->launcher(fallbackLauncher), {}};
}

// Runs one staging step; its failure becomes the result's message.
template <typename F>
StageResult guarded(F&& step) {
  try {
    return step();
  } catch (const UpdateError& e) {
    return {{}, {}, e.message};
  } catch (const std::exception& e) {
    return {{}, {}, UpdateMessages::otherPrefix + QString::fromUtf8(e.what())};
  }
}

// Off the GUI thread: write, unpack, find the app, check it is this app at
// the announced version under an intact seal.
StageResult stageAndValidate(const QByteArray& zip, const QString& version, const QString& staging,
                             const std::optional<QString>& identifier, const QString& fallbackLauncher) {
  return guarded([&] {
    removeStagingFolder(staging);
    const QString parent = QFileInfo(staging).absolutePath();
    QDir().mkpath(QFileInfo(parent).absolutePath());
    makePrivateFolder(parent);
    makePrivateFolder(staging);
    const QString versionFolder = staging + u'/' + version;
    makePrivateFolder(versionFolder);

    const QString zipPath = staging + QStringLiteral("/update.zip");
    {
      QFile file(zipPath);
      if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(zip) != zip.size() || !file.flush())
        throw std::runtime_error(
            QStringLiteral("Couldn\u2019t write %1: %2").arg(zipPath, file.errorString()).toStdString());
      file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    unpackZip(zipPath, versionFolder);
    QFile::remove(zipPath);
    return findValidApp(versionFolder, version, identifier, fallbackLauncher);
  });
}

} // namespace

std::optional<QUrl> httpsURL(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.scheme() != u"https" || url.host().isEmpty()) return std::nullopt;
  return url;
}

Updater::Updater(const Bundle& bundle, QObject* parent) : QObject(parent) {
  if (const auto feed = bundle.string(QStringLiteral("OrreryUpdateFeedURL"))) feedURL_ = httpsURL(*feed);
  publicKey_ = bundle.string(QStringLiteral("OrreryUpdatePublicKey"));
  currentVersion_ = bundle.shortVersion().value_or(QStringLiteral("1.0"));
  appName_ = bundle.string(QStringLiteral("CFBundleName")).value_or(QStringLiteral("App"));
  bundlePath_ = bundle.path;
  identifier_ = bundle.identifier();
  // The running program, as a path inside the install folder (bin/ in the
  // installed layout).
  launcher_ = bundle.launcher(QDir(bundle.path).relativeFilePath(QCoreApplication::applicationFilePath()));
  automaticallyDownloads_ = readBool(QSettings().value(autoUpdateKey), true);
  system_ = UpdateLogic::runningSystem();
}

Updater::~Updater() = default;

QNetworkAccessManager& Updater::network() {
  if (!network_) {
    network_ = new QNetworkAccessManager(this);
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
  }
  return *network_;
}

QNetworkRequest Updater::makeRequest(const QUrl& url) {
  QNetworkRequest request(url);
  // The feed and the download also trust the certificates in the file
  // SSL_CERT_FILE names, as OpenSSL does for the application's mail
  // connections: one setting covers the whole application.
  static const QList<QSslCertificate> named = [] {
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    return file.isEmpty() ? QList<QSslCertificate>() : QSslCertificate::fromPath(file, QSsl::Pem);
  }();
  if (!named.isEmpty()) {
    QSslConfiguration conf = request.sslConfiguration();
    conf.addCaCertificates(named);
    request.setSslConfiguration(conf);
  }
  return request;
}

QString Updater::stagingFolder() const {
  QString id = identifier_.value_or(fallbackIdentifier);
  if (!UpdateLogic::isSafeName(id)) id = fallbackIdentifier;
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u'/' + id +
         QStringLiteral("/OrreryUpdate");
}

void Updater::setPhase(Phase p) {
  phase_ = std::move(p);
  emit phaseChanged();
}

void Updater::setAutomaticallyDownloads(bool on) {
  automaticallyDownloads_ = on;
  QSettings().setValue(autoUpdateKey, on);
  emit automaticallyDownloadsChanged();
}

void Updater::start() {
  if (!feedURL_ || armed_) return;
  armed_ = true;
  connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &Updater::installOnQuit);
  QTimer::singleShot(8000, Qt::PreciseTimer, this, [this] { check(false); });
  timer_ = new QTimer(this);
  timer_->setInterval(6 * 60 * 60 * 1000);
  connect(timer_, &QTimer::timeout, this, [this] { check(false); });
  timer_->start();
  recoverStaged();
}

void Updater::recoverStaged() {
  const QString staging = stagingFolder();
  QFile record(staging + stagedRecord);
  if (!record.open(QIODevice::ReadOnly)) return;
  const auto feed = UpdateFeed::decode(record.read(maxFeedBytes));
  // Installed meanwhile (or older than what runs): nothing to keep.
  if (!feed || !UpdateLogic::isNewer(feed->version, currentVersion_)) return;
  const bool interrupted = QFile::exists(staging + stillRunningNote);
  QPointer<Updater> self(this);
  const auto identifier = identifier_;
  const QString launcher = launcher_;
  // The seal is checked again, off the GUI thread: the folder sat in the
  // caches while nothing ran.
  QThreadPool::globalInstance()->start([self, feed = *feed, staging, identifier, launcher, interrupted] {
    const StageResult r =
        guarded([&] { return findValidApp(staging + u'/' + feed.version, feed.version, identifier, launcher); });
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, r, feed, staging, interrupted] {
          if (!self || !r.error.isEmpty()) return;
          if (self->phase_.kind == Phase::Kind::Downloading || self->phase_.kind == Phase::Kind::Ready) return;
          QFile::remove(staging + stillRunningNote);
          self->installInterrupted_ = interrupted;
          self->stagedApp_ = r.app;
          self->stagedLauncher_ = r.launcher;
          self->setPhase(Phase::ready(feed));
          if (interrupted) emit self->windowRequested();
        },
        Qt::QueuedConnection);
  });
}

void Updater::check(bool userInitiated) {
  if (!feedURL_ && userInitiated) {
    // Asked by the user: say why nothing happens rather than nothing.
    setPhase(Phase::failed(UpdateMessages::noFeed(appName_)));
    emit windowRequested();
    emit checkFinished();
    return;
  }
  if (!feedURL_ || phase_.kind == Phase::Kind::Downloading) {
    emit checkFinished();
    return;
  }
  if (phase_.kind == Phase::Kind::Ready) {
    if (userInitiated) emit windowRequested();
    emit checkFinished();
    return;
  }
  setPhase(Phase::checking());
  if (userInitiated) emit windowRequested();

  QNetworkRequest request = makeRequest(*feedURL_);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setTransferTimeout(20000);
  request.setHeader(QNetworkRequest::UserAgentHeader, appName_ + u'/' + currentVersion_);
  QNetworkReply* reply = network().get(request);
  auto body = std::make_shared<QByteArray>();
  auto overCap = std::make_shared<bool>(false);
  connect(reply, &QNetworkReply::readyRead, this, [reply, body, overCap] {
    if (*overCap) return;
    body->append(reply->read(maxFeedBytes + 1 - body->size()));
    if (body->size() > maxFeedBytes) {
      *overCap = true;
      QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }
  });
  connect(reply, &QNetworkReply::finished, this, [this, reply, body, overCap, userInitiated] {
    reply->deleteLater();
    if (!*overCap && reply->isReadable()) body->append(reply->read(maxFeedBytes + 1 - body->size()));
    feedAnswered(reply, userInitiated, *overCap || body->size() > maxFeedBytes, *body);
  });
}

void Updater::feedAnswered(QNetworkReply* reply, bool userInitiated, bool overCap, const QByteArray& body) {
  // One update at a time: an answer that arrives while another check's
  // download runs or its update is staged changes nothing.
  if (phase_.kind == Phase::Kind::Downloading || phase_.kind == Phase::Kind::Ready) {
    emit checkFinished();
    return;
  }
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  std::optional<UpdateFeed> feed;
  QString unusableVersion;
  if (!overCap && reply->error() == QNetworkReply::NoError && status.isValid() && status.toInt() == 200)
    feed = UpdateFeed::decode(body, &unusableVersion);
  if (!feed) {
    const QString message =
        unusableVersion.isEmpty() ? UpdateMessages::checkFailed : UpdateMessages::unusableVersion(unusableVersion);
    setPhase(userInitiated ? Phase::failed(message) : Phase::idle());
    emit checkFinished();
    return;
  }
  lastChecked_ = QDateTime::currentDateTime();
  emit lastCheckedChanged();

  if (UpdateLogic::isNewer(feed->version, currentVersion_) &&
      UpdateLogic::systemSupports(feed->minimumSystemVersion, system_)) {
    if (automaticallyDownloads_ && feed->download && publicKey_ && canInstallInPlace()) {
      connect(this, &Updater::downloadFinished, this, &Updater::checkFinished, Qt::SingleShotConnection);
      download(*feed);
      return;
    }
    setPhase(Phase::available(*feed));
    if (!userInitiated && announce(feed->version)) emit windowRequested();
  } else {
    setPhase(Phase::upToDate());
  }
  emit checkFinished();
}

bool Updater::announce(const QString& version) {
  QSettings settings;
  const QString key = announcedPrefix + version;
  if (readBool(settings.value(key), false)) return false;
  settings.setValue(key, true);
  return true;
}

void Updater::download(const UpdateFeed& feed) {
  if (phase_.kind == Phase::Kind::Downloading) return; // one download at a time
  if (!feed.download || !httpsURL(feed.download->url) || !publicKey_) {
    setPhase(Phase::available(feed));
    emit downloadFinished();
    return;
  }
  if (feed.download->length > maxDownloadBytes) {
    setPhase(Phase::failed(UpdateMessages::tooLarge));
    emit downloadFinished();
    return;
  }
  setPhase(Phase::downloading(feed, 0.0));
  fetch(feed);
}

void Updater::fetch(const UpdateFeed& feed) {
  const qint64 expected = feed.download->length;
  QNetworkReply* reply = network().get(makeRequest(*httpsURL(feed.download->url)));
  // Keep Qt's own buffer small: the bytes live in one buffer of ours.
  reply->setReadBufferSize(1 << 18);

  struct State {
    QByteArray buffer;
    qint64 limit = 0;
    double divisor = 1;
    qint64 lastReport = 0;
    bool done = false;
    bool timedOut = false;
  };
  auto st = std::make_shared<State>();
  st->buffer.reserve(qsizetype(std::max<qint64>(expected, 0)));
  st->limit = expected + 1024;
  st->divisor = double(std::max<qint64>(expected, 1));

  auto idle = new QTimer(reply);
  idle->setSingleShot(true);
  idle->setInterval(idleTimeoutMs_);
  connect(idle, &QTimer::timeout, reply, [reply, st] {
    st->timedOut = true;
    reply->abort();
  });
  idle->start();

  auto report = [this, feed](double progress) {
    // A report that arrives after the phase moved on is dropped.
    if (phase_.kind == Phase::Kind::Downloading && phase_.feed == feed)
      setPhase(Phase::downloading(feed, std::min(progress, 1.0)));
  };
  auto finish = [this, st, reply](const QString& message) {
    st->done = true;
    // Not from inside the reply's own signal: Qt reports the error twice.
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    downloadFailed(message);
  };
  auto consume = [st, report, finish, reply] {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) {
      finish(UpdateMessages::downloadFailed);
      return;
    }
    const QByteArray data = reply->readAll();
    // The size checks and progress points are taken byte by byte, so the
    // result does not depend on how the server cut its chunks.
    qsizetype pos = 0;
    while (pos < data.size() && !st->done) {
      const qint64 size = st->buffer.size();
      const qint64 nextReport = st->lastReport + progressStep + 1;
      const qint64 stopAt = std::min(nextReport, st->limit + 1);
      const qsizetype take = qsizetype(std::clamp<qint64>(stopAt - size, 1, data.size() - pos));
      st->buffer.append(data.constData() + pos, take);
      pos += take;
      const qint64 now = st->buffer.size();
      if (now - st->lastReport > progressStep) {
        report(double(now) / st->divisor);
        st->lastReport = now;
      }
      if (now > st->limit) finish(UpdateMessages::tooLarge);
    }
  };
  connect(reply, &QNetworkReply::readyRead, this, [st, consume, idle] {
    if (st->done) return;
    idle->start();
    consume();
  });
  connect(reply, &QNetworkReply::finished, this, [this, st, reply, consume, report, feed, expected] {
    reply->deleteLater();
    if (st->done) return;
    if (reply->isReadable() && reply->bytesAvailable() > 0) consume();
    if (st->done) return;
    st->done = true;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (st->timedOut) {
      downloadFailed(UpdateMessages::otherPrefix + QStringLiteral("The server stopped sending data."));
      return;
    }
    if (status.isValid() && status.toInt() != 200) {
      downloadFailed(UpdateMessages::downloadFailed);
      return;
    }
    if (reply->error() != QNetworkReply::NoError || !status.isValid()) {
      downloadFailed(UpdateMessages::otherPrefix + reply->errorString());
      return;
    }
    report(1.0);
    QByteArray bytes = std::move(st->buffer);
    if (bytes.size() != expected) {
      downloadFailed(UpdateMessages::incomplete);
      return;
    }
    if (!UpdateLogic::verify(bytes, feed.download->edSignature, publicKey_.value_or(QString()))) {
      downloadFailed(UpdateMessages::badSignature);
      return;
    }
    QPointer<Updater> self(this);
    const QString staging = stagingFolder();
    const auto identifier = identifier_;
    const QString launcher = launcher_;
    QThreadPool::globalInstance()->start([self, bytes = std::move(bytes), feed, staging, identifier, launcher] {
      const StageResult r = stageAndValidate(bytes, feed.version, staging, identifier, launcher);
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [self, r, feed] {
            if (!self) return;
            if (!r.error.isEmpty()) self->downloadFailed(r.error);
            else self->staged(feed, r.app, r.launcher);
          },
          Qt::QueuedConnection);
    });
  });
}

void Updater::downloadFailed(const QString& message) {
  setPhase(Phase::failed(message));
  emit downloadFinished();
}

void Updater::staged(const UpdateFeed& feed, const QString& app, const QString& launcher) {
  stagedApp_ = app;
  stagedLauncher_ = launcher;
  installInterrupted_ = false;
  QFile record(stagingFolder() + stagedRecord);
  if (record.open(QIODevice::WriteOnly | QIODevice::Truncate)) record.write(feed.encode());
  setPhase(Phase::ready(feed));
  if (announce(feed.version)) emit windowRequested();
  emit downloadFinished();
}

bool Updater::canInstallInPlace() const {
  if (bundlePath_.isEmpty()) return false;
  const QByteArray bundle = QFile::encodeName(bundlePath_);
  const QByteArray parent = QFile::encodeName(QFileInfo(bundlePath_).absolutePath());
  struct statvfs fs {};
  if (::statvfs(bundle.constData(), &fs) != 0 || (fs.f_flag & ST_RDONLY)) return false; // on a read-only mount
  if (::access(parent.constData(), W_OK) != 0) return false;
  return ::access(bundle.constData(), W_OK) == 0;
}

void Updater::installAndRelaunch() {
  relaunchAfterInstall_ = true;
  QCoreApplication::quit();
}

void Updater::installOnQuit() {
  if (phase_.kind != Phase::Kind::Ready || !stagedApp_ || !canInstallInPlace()) return;
  startInstallScript(QCoreApplication::applicationPid(), *stagedApp_, bundlePath_, relaunchAfterInstall_,
                     stagedLauncher_, stagingFolder());
}

} // namespace orrery
