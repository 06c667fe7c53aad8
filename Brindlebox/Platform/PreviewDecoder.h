#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QTimer>

namespace bx {

// What the preview helper may spend on one file.
struct PreviewLimits {
  int seconds = 15;                            // wall clock, and CPU time
  qint64 memoryBytes = 2048ll * 1024 * 1024;  // address space of the helper
};

// Decodes an image or a PDF for the preview dialog in the helper process
// brindlebox-preview, never in the application: a hostile file can crash,
// stall or exhaust only the helper, which runs under a time and a memory
// limit and is killed when it overruns. Asynchronous; `finished` comes once.
class PreviewDecoder : public QObject {
  Q_OBJECT
public:
  enum class Kind { Image, Pdf };
  using Limits = PreviewLimits;

  explicit PreviewDecoder(QObject* parent = nullptr);
  ~PreviewDecoder() override;

  // `width` is the width in pixels to render PDF pages at.
  void start(Kind kind, const QString& path, int width, Limits limits = {});
  bool isRunning() const { return running_; }
  // The pictures once `finished(true)`: one image, or the PDF's pages.
  const QList<QImage>& pictures() const { return pictures_; }

  // Beside the application's executable, unless BRINDLEBOX_PREVIEW_HELPER
  // names it.
  static QString helperPath();

signals:
  void finished(bool ok);

private:
  void finish(bool ok);

  QProcess process_;
  QTimer deadline_;
  QByteArray output_;
  QList<QImage> pictures_;
  bool running_ = false;
  bool overflow_ = false;
};

} // namespace bx
