#include "Platform/PreviewDialog.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMimeDatabase>
#include <QPdfDocument>
#include <QPdfView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace bx {

namespace {
// More than this is not laid out as text: a long line alone can hold the
// GUI thread for minutes.
constexpr qint64 kMaxTextBytes = 512 * 1024;
constexpr int kMaxImageMegabytes = 256;
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

PreviewDialog::PreviewDialog(const QString& path, std::function<void()> save, QWidget* parent)
    : QDialog(parent), path_(path), kind_(kindOf(path)) {
  setAttribute(Qt::WA_DeleteOnClose);
  const QFileInfo info(path);
  setWindowTitle(info.fileName());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  resize(720, 560);

  auto other = [&] {
    kind_ = Kind::Other;
    auto* name = new QLabel(info.fileName(), this);
    name->setTextFormat(Qt::PlainText);
    auto* size = new QLabel(QLocale().formattedDataSize(info.size()), this);
    size->setTextFormat(Qt::PlainText);
    auto* button = new QPushButton(QStringLiteral("Save…"), this);
    connect(button, &QPushButton::clicked, this, [save] {
      if (save) save();
    });
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(name);
    layout->addWidget(size);
    layout->addWidget(button, 0, Qt::AlignLeft);
    layout->addStretch();
    resize(360, 160);
  };

  switch (kind_) {
    case Kind::Image: {
      QImageReader::setAllocationLimit(kMaxImageMegabytes);
      QImageReader reader(path);
      reader.setAutoTransform(true);
      const QImage image = reader.read();
      if (image.isNull()) {
        other();
        break;
      }
      auto* label = new QLabel(this);
      label->setPixmap(QPixmap::fromImage(image));
      label->setAlignment(Qt::AlignCenter);
      auto* scroll = new QScrollArea(this);
      scroll->setWidget(label);
      scroll->setAlignment(Qt::AlignCenter);
      layout->addWidget(scroll);
      break;
    }
    case Kind::Text: {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly)) {
        other();
        break;
      }
      auto* text = new QPlainTextEdit(this);
      text->setReadOnly(true);
      text->setPlainText(QString::fromUtf8(file.read(kMaxTextBytes)));
      if (file.size() > kMaxTextBytes) text->appendPlainText(QStringLiteral("…"));
      layout->addWidget(text);
      break;
    }
    case Kind::Pdf: {
      auto* document = new QPdfDocument(this);
      if (document->load(path) != QPdfDocument::Error::None) {
        other();
        break;
      }
      auto* view = new QPdfView(this);
      view->setDocument(document);
      view->setPageMode(QPdfView::PageMode::MultiPage);
      view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
      layout->addWidget(view);
      break;
    }
    case Kind::Other: other(); break;
  }
}

} // namespace bx
