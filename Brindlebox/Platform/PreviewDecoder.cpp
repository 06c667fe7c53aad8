#include "Platform/PreviewDecoder.h"

#include "Platform/PreviewFrames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <sys/resource.h>

namespace bx {

PreviewDecoder::PreviewDecoder(QObject* parent) : QObject(parent) {
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, [this] { process_.kill(); });
  connect(&process_, &QProcess::readyReadStandardOutput, this, [this] {
    output_ += process_.readAllStandardOutput();
    if (output_.size() > PreviewFrames::maxOutputBytes + PreviewFrames::headerBytes) {
      overflow_ = true;
      process_.kill();
    }
  });
  connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
    output_ += process_.readAllStandardOutput();
    if (overflow_ || status != QProcess::NormalExit || code != 0) return finish(false);
    auto pictures = PreviewFrames::decode(output_);
    if (!pictures) return finish(false);
    pictures_ = std::move(*pictures);
    finish(true);
  });
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) finish(false);
  });
}

PreviewDecoder::~PreviewDecoder() {
  if (process_.state() != QProcess::NotRunning) {
    process_.disconnect(this);
    process_.kill();
    process_.waitForFinished(2000);
  }
}

QString PreviewDecoder::helperPath() {
  const QString named = qEnvironmentVariable("BRINDLEBOX_PREVIEW_HELPER");
  if (!named.isEmpty()) return named;
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("brindlebox-preview"));
}

void PreviewDecoder::start(Kind kind, const QString& path, int width, Limits limits) {
  running_ = true;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > PreviewFrames::maxInputBytes) {
    QMetaObject::invokeMethod(this, [this] { finish(false); }, Qt::QueuedConnection);
    return;
  }
  const QByteArray input = file.readAll();
  const rlim_t memory = rlim_t(limits.memoryBytes);
  const rlim_t cpu = rlim_t(limits.seconds);
  // Runs in the child between fork and exec: only async-signal-safe calls.
  process_.setChildProcessModifier([memory, cpu] {
#if !defined(__SANITIZE_ADDRESS__)
    // (A sanitizer build of the helper reserves terabytes of address space
    // for its shadow memory and could not start under this limit.)
    const rlimit as{memory, memory};
    setrlimit(RLIMIT_AS, &as);
#else
    (void)memory;
#endif
    const rlimit seconds{cpu, cpu + 1};
    setrlimit(RLIMIT_CPU, &seconds);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    setrlimit(RLIMIT_FSIZE, &none);
  });
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // The helper draws nothing on screen.
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  process_.setProcessEnvironment(env);
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.setStandardErrorFile(QProcess::nullDevice());
  process_.start(helperPath(), {kind == Kind::Image ? QStringLiteral("image") : QStringLiteral("pdf"),
                                QString::number(width)});
  deadline_.start(std::max(1, limits.seconds) * 1000);
  if (!running_) return;  // failed to start
  process_.write(input);
  process_.closeWriteChannel();
}

void PreviewDecoder::finish(bool ok) {
  if (!running_) return;
  running_ = false;
  deadline_.stop();
  if (!ok) pictures_.clear();
  output_.clear();
  emit finished(ok);
}

} // namespace bx
