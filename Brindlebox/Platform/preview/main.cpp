// brindlebox-preview: decodes one attachment for the preview dialog, in a
// process of its own, so that a hostile image or PDF can crash or stall only
// this process. The file comes on stdin; the pictures go to stdout as raw
// frames (see PreviewDecoder.h), never as an encoded format the application
// would have to decode again.
//
//   brindlebox-preview image|pdf WIDTH
//
// Exit codes: 0 pictures written, 2 bad arguments, 3 input too large,
// 4 the file could not be decoded.

#include "Platform/PreviewFrames.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace bx;

namespace {

bool readInput(QByteArray& out) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (out.size() + n > PreviewFrames::maxInputBytes) return false;
    out.append(chunk, n);
  }
}

bool writeAll(const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, size_t(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= n;
  }
  return true;
}

// Scales a picture down to the largest side the dialog shows.
QImage fitted(const QImage& image) {
  const int side = PreviewFrames::maxSide;
  if (image.width() <= side && image.height() <= side) return image;
  return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

int decodeImage(QByteArray& data) {
  QImageReader::setAllocationLimit(PreviewFrames::allocationLimitMB);
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAutoTransform(true);
  const QSize declared = reader.size();
  if (declared.isValid() && qint64(declared.width()) * declared.height() > PreviewFrames::maxSourcePixels) return 4;
  const QImage image = reader.read();
  if (image.isNull()) return 4;
  return writeAll(PreviewFrames::encode(fitted(image))) ? 0 : 4;
}

int decodePdf(QByteArray& data, int width) {
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QPdfDocument document;
  QEventLoop loop;
  QObject::connect(&document, &QPdfDocument::statusChanged, &loop, [&](QPdfDocument::Status s) {
    if (s == QPdfDocument::Status::Ready || s == QPdfDocument::Status::Error) loop.quit();
  });
  document.load(&buffer);
  if (document.status() != QPdfDocument::Status::Ready && document.status() != QPdfDocument::Status::Error) loop.exec();
  if (document.status() != QPdfDocument::Status::Ready || document.pageCount() < 1) return 4;
  qint64 budget = PreviewFrames::maxOutputBytes;
  const int pages = std::min(document.pageCount(), PreviewFrames::maxPages);
  for (int i = 0; i < pages; ++i) {
    const QSizeF points = document.pagePointSize(i);
    if (points.width() <= 0 || points.height() <= 0) return i > 0 ? 0 : 4;
    const double scale = width / points.width();
    const QSize size(width, std::clamp(int(points.height() * scale), 1, PreviewFrames::maxSide));
    const QImage drawn = document.render(i, size);
    if (drawn.isNull()) return i > 0 ? 0 : 4;
    // Pages come with a see-through ground; paper is white.
    QImage page(drawn.size(), QImage::Format_RGB32);
    page.fill(Qt::white);
    {
      QPainter painter(&page);
      painter.drawImage(0, 0, drawn);
    }
    const QByteArray frame = PreviewFrames::encode(page);
    if (frame.size() > budget) break;
    budget -= frame.size();
    if (!writeAll(frame)) return 4;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) return 2;
  const QByteArray kind = argv[1];
  bool ok = false;
  const int width = QByteArray(argv[2]).toInt(&ok);
  if (!ok || width < 16 || width > PreviewFrames::maxSide) return 2;
  QByteArray data;
  if (!readInput(data)) return 3;
  if (kind == "image") return decodeImage(data);
  if (kind == "pdf") return decodePdf(data, width);
  return 2;
}
