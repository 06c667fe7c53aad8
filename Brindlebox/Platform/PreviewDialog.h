#pragma once

#include "Platform/PreviewDecoder.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QVBoxLayout;

namespace bx {

// The in-app preview of a file: images, text and PDF are drawn here; any
// other kind, and any file the helper cannot decode, shows its name, size
// and a Save… button. It never hands the file to another program. Images and
// PDFs are decoded in the helper process (PreviewDecoder). Escape closes it.
class PreviewDialog : public QDialog {
  Q_OBJECT
public:
  enum class Kind { Image, Text, Pdf, Other };

  PreviewDialog(const QString& path, std::function<void()> save, QWidget* parent = nullptr,
                PreviewDecoder::Limits limits = {});

  QString path() const { return path_; }
  // What is shown: the kind by the file's name, until decoding fails.
  Kind kind() const { return kind_; }
  bool isDecoding() const { return decoder_ && decoder_->isRunning(); }
  static Kind kindOf(const QString& path);

signals:
  // The content is in place (after decoding, or at once).
  void ready();

private:
  void showPictures(const QList<QImage>& pictures);
  void showOther();

  QString path_;
  Kind kind_;
  std::function<void()> save_;
  QVBoxLayout* layout_;
  QPointer<PreviewDecoder> decoder_;
};

} // namespace bx
