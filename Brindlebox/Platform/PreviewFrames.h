#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QtEndian>

#include <cstring>
#include <optional>

namespace bx {

// What the preview helper sends back: raw pixels, one frame per picture
// (an image, or one PDF page): "BXPF", width and height as big-endian 32-bit
// numbers, then width × height × 4 bytes of ARGB32. Raw on purpose: the
// application copies pixels and never runs a decoder on what a process that
// read a hostile file produced.
struct PreviewFrames {
  static constexpr qint64 maxInputBytes = 64ll * 1024 * 1024;
  static constexpr qint64 maxOutputBytes = 192ll * 1024 * 1024;
  static constexpr int maxSide = 4096;
  static constexpr int maxPages = 50;
  static constexpr qint64 maxSourcePixels = 64ll * 1000 * 1000;
  static constexpr int allocationLimitMB = 256;
  static constexpr int headerBytes = 12;

  static QByteArray encode(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    QByteArray out(headerBytes, Qt::Uninitialized);
    std::memcpy(out.data(), "BXPF", 4);
    qToBigEndian<quint32>(quint32(image.width()), out.data() + 4);
    qToBigEndian<quint32>(quint32(image.height()), out.data() + 8);
    const qsizetype row = qsizetype(image.width()) * 4;
    out.reserve(headerBytes + row * image.height());
    for (int y = 0; y < image.height(); ++y) out.append(reinterpret_cast<const char*>(image.constScanLine(y)), row);
    return out;
  }

  // The pictures in `bytes`, or nothing when any frame is malformed.
  static std::optional<QList<QImage>> decode(const QByteArray& bytes) {
    QList<QImage> out;
    qsizetype at = 0;
    while (at < bytes.size()) {
      if (bytes.size() - at < headerBytes || std::memcmp(bytes.constData() + at, "BXPF", 4) != 0) return std::nullopt;
      const quint32 w = qFromBigEndian<quint32>(bytes.constData() + at + 4);
      const quint32 h = qFromBigEndian<quint32>(bytes.constData() + at + 8);
      if (w == 0 || h == 0 || w > quint32(maxSide) || h > quint32(maxSide)) return std::nullopt;
      const qsizetype row = qsizetype(w) * 4;
      const qsizetype size = row * qsizetype(h);
      at += headerBytes;
      if (bytes.size() - at < size) return std::nullopt;
      QImage image(int(w), int(h), QImage::Format_ARGB32);
      if (image.isNull()) return std::nullopt;
      for (quint32 y = 0; y < h; ++y) std::memcpy(image.scanLine(int(y)), bytes.constData() + at + row * y, size_t(row));
      out << image;
      at += size;
    }
    if (out.isEmpty()) return std::nullopt;
    return out;
  }
};

} // namespace bx
