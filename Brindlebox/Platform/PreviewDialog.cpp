#include "Platform/PreviewDialog.h"

#include "Store/ByteCountText.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace bx {

namespace {
// More than this is not laid out as text: a long line alone can hold the
// GUI thread for minutes.
constexpr qint64 kMaxTextBytes = 512 * 1024;
constexpr int kPdfPageWidth = 680;
}  // namespace

PreviewDialog::Kind PreviewDialog::kindOf(const QString& path) {
  QMimeDatabase db;
  // The name decides when it names a kind; the content (its first bytes)
  // only when the name says nothing. Random bytes often sniff as text.
  QMimeType type = db.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
  if (type.isDefault()) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Kind::Other;
    type = db.mimeTypeForData(file.read(4096));
    if (type.inherits(QStringLiteral("text/plain")) && file.size() > kMaxTextBytes) return Kind::Other;
  }
  if (type.inherits(QStringLiteral("application/pdf"))) return Kind::Pdf;
  if (type.name().startsWith(QLatin1String("image/")) &&
      QImageReader::supportedMimeTypes().contains(type.name().toLatin1()))
    return Kind::Image;
  if (type.inherits(QStringLiteral("text/plain"))) return Kind::Text;
  return Kind::Other;
}

PreviewDialog::PreviewDialog(const QString& path, std::function<void()> save, QWidget* parent,
                             PreviewDecoder::Limits limits)
    : QDialog(parent), path_(path), kind_(kindOf(path)), save_(std::move(save)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QFileInfo(path).fileName());
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  resize(720, 560);

  switch (kind_) {
    case Kind::Image:
    case Kind::Pdf: {
      decoder_ = new PreviewDecoder(this);
      connect(decoder_, &PreviewDecoder::finished, this, [this](bool ok) {
        if (ok)
          showPictures(decoder_->pictures());
        else
          showOther();
        decoder_->deleteLater();
        emit ready();
      });
      // PDF pages are drawn at twice the page area's width, for sharp text.
      decoder_->start(kind_ == Kind::Image ? PreviewDecoder::Kind::Image : PreviewDecoder::Kind::Pdf, path,
                      kPdfPageWidth * 2, limits);
      break;
    }
    case Kind::Text: {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly)) {
        showOther();
        break;
      }
      auto* text = new QPlainTextEdit(this);
      text->setReadOnly(true);
      text->setPlainText(QString::fromUtf8(file.read(kMaxTextBytes)));
      if (file.size() > kMaxTextBytes) text->appendPlainText(QStringLiteral("…"));
      layout_->addWidget(text);
      break;
    }
    case Kind::Other: showOther(); break;
  }
  if (!decoder_) QMetaObject::invokeMethod(this, &PreviewDialog::ready, Qt::QueuedConnection);
}

void PreviewDialog::showPictures(const QList<QImage>& pictures) {
  auto* column = new QWidget(this);
  auto* stack = new QVBoxLayout(column);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(kind_ == Kind::Pdf ? 8 : 0);
  for (const QImage& picture : pictures) {
    QPixmap pixmap = QPixmap::fromImage(picture);
    if (kind_ == Kind::Pdf) pixmap.setDevicePixelRatio(2.0);
    auto* label = new QLabel(column);
    label->setObjectName(QStringLiteral("previewPicture"));
    label->setPixmap(pixmap);
    label->setAlignment(Qt::AlignCenter);
    stack->addWidget(label);
  }
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(column);
  scroll->setAlignment(Qt::AlignCenter);
  layout_->addWidget(scroll);
  scroll->verticalScrollBar()->setValue(0);
  QMetaObject::invokeMethod(scroll, [scroll] { scroll->verticalScrollBar()->setValue(0); }, Qt::QueuedConnection);
}

void PreviewDialog::showOther() {
  kind_ = Kind::Other;
  const QFileInfo info(path_);
  auto* name = new QLabel(info.fileName(), this);
  name->setTextFormat(Qt::PlainText);
  auto* size = new QLabel(ByteCountText::file(info.size()), this);
  size->setTextFormat(Qt::PlainText);
  auto* button = new QPushButton(QStringLiteral("Save…"), this);
  connect(button, &QPushButton::clicked, this, [this] {
    if (save_) save_();
  });
  layout_->setContentsMargins(24, 24, 24, 24);
  layout_->addWidget(name);
  layout_->addWidget(size);
  layout_->addWidget(button, 0, Qt::AlignLeft);
  layout_->addStretch();
  resize(360, 160);
}

} // namespace bx
