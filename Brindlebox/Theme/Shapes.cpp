#include "Theme/Shapes.h"

#include <QPainter>
#include <QtMath>
#include <algorithm>
#include <vector>

namespace bx {

namespace {

// A continuous corner starts this many radii away from the corner.
constexpr qreal kSpan = 1.52866483;

// One corner, from the point on the edge before it to the point on the edge
// after it. `c` is the corner point, `a` the unit vector from the corner back
// along the incoming edge, `b` the unit vector along the outgoing edge.
void addCorner(QPainterPath& path, QPointF c, QPointF a, QPointF b, qreal r, bool continuous) {
  auto at = [&](qreal along, qreal across) { return c + a * along + b * across; };
  if (r <= 0) {
    path.lineTo(c);
    return;
  }
  if (!continuous) {
    constexpr qreal k = 0.55228475;
    path.lineTo(at(r, 0));
    path.cubicTo(at(r - r * k, 0), at(0, r - r * k), at(0, r));
    return;
  }
  path.lineTo(at(kSpan * r, 0));
  path.cubicTo(at(1.08849323 * r, 0), at(0.86840689 * r, 0.02050518 * r), at(0.63149399 * r, 0.07491100 * r));
  path.cubicTo(at(0.37282392 * r, 0.16905899 * r), at(0.16905899 * r, 0.37282392 * r),
               at(0.07491100 * r, 0.63149399 * r));
  path.cubicTo(at(0.02050518 * r, 0.86840689 * r), at(0, 1.08849323 * r), at(0, kSpan * r));
}

// Box blur of the alpha channel (premultiplied image), three passes giving a
// close match to a Gaussian of the given sigma.
void blurAlpha(QImage& img, qreal sigma) {
  if (sigma < 0.3) return;
  const int w = img.width(), h = img.height();
  const int box = std::max(1, int(std::lround(std::sqrt(12.0 * sigma * sigma / 3 + 1))) / 2);
  std::vector<int> alpha(size_t(w) * h), tmp(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < w; ++x) alpha[size_t(y) * w + x] = qAlpha(line[x]);
  }
  auto pass = [&](std::vector<int>& src, std::vector<int>& dst, bool horizontal) {
    const int n = horizontal ? w : h, lines = horizontal ? h : w;
    const int div = 2 * box + 1;
    for (int l = 0; l < lines; ++l) {
      auto idx = [&](int i) { return horizontal ? size_t(l) * w + i : size_t(i) * w + l; };
      int sum = 0;
      for (int i = -box; i <= box; ++i) sum += (i >= 0 && i < n) ? src[idx(i)] : 0;
      for (int i = 0; i < n; ++i) {
        dst[idx(i)] = sum / div;
        const int out = i - box, in = i + box + 1;
        if (out >= 0) sum -= src[idx(out)];
        if (in < n) sum += src[idx(in)];
      }
    }
  };
  for (int k = 0; k < 3; ++k) {
    pass(alpha, tmp, true);
    pass(tmp, alpha, false);
  }
  for (int y = 0; y < h; ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < w; ++x) {
      const int a = alpha[size_t(y) * w + x];
      line[x] = qRgba(0, 0, 0, a);
    }
  }
}

} // namespace

QPainterPath Shapes::roundedRect(const QRectF& rect, qreal radius) {
  return roundedRect(rect, radius, radius, radius, radius);
}

QPainterPath Shapes::roundedRect(const QRectF& r, qreal tl, qreal tr, qreal br, qreal bl) {
  QPainterPath path;
  if (r.isEmpty()) return path;
  const qreal half = std::min(r.width(), r.height()) / 2;
  auto fit = [&](qreal radius, bool& continuous) {
    radius = std::max<qreal>(0, radius);
    continuous = radius * kSpan <= half;
    return continuous ? radius : std::min(radius, half);
  };
  bool ctl, ctr, cbr, cbl;
  tl = fit(tl, ctl);
  tr = fit(tr, ctr);
  br = fit(br, cbr);
  bl = fit(bl, cbl);
  const QPointF right(1, 0), down(0, 1);
  const qreal startOffset = ctl ? kSpan * tl : tl;
  path.moveTo(r.left() + startOffset, r.top());
  addCorner(path, r.topRight(), -right, down, tr, ctr);
  addCorner(path, r.bottomRight(), -down, -right, br, cbr);
  addCorner(path, r.bottomLeft(), right, -down, bl, cbl);
  addCorner(path, r.topLeft(), down, right, tl, ctl);
  path.closeSubpath();
  return path;
}

QPainterPath Shapes::capsule(const QRectF& rect) {
  QPainterPath path;
  if (rect.isEmpty()) return path;
  const qreal r = std::min(rect.width(), rect.height()) / 2;
  path.addRoundedRect(rect, r, r);
  return path;
}

void Shapes::strokeInside(QPainter& p, const QRectF& rect, qreal radius, const QColor& color, qreal width) {
  if (color.alpha() == 0 || rect.isEmpty()) return;
  const qreal inset = width / 2;
  p.save();
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(color, width));
  p.drawPath(roundedRect(rect.adjusted(inset, inset, -inset, -inset), std::max<qreal>(0, radius - inset)));
  p.restore();
}

void Shapes::strokeInsideCapsule(QPainter& p, const QRectF& rect, const QColor& color, qreal width) {
  if (color.alpha() == 0 || rect.isEmpty()) return;
  const qreal inset = width / 2;
  p.save();
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(color, width));
  p.drawPath(capsule(rect.adjusted(inset, inset, -inset, -inset)));
  p.restore();
}

void Shapes::drawShadow(QPainter& p, const QPainterPath& shape, const QColor& color, qreal radius,
                        const QPointF& offset) {
  if (color.alpha() == 0 || shape.isEmpty()) return;
  const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
  const qreal margin = std::ceil(radius * 1.5) + 1;
  const QRectF bounds = shape.boundingRect().adjusted(-margin, -margin, margin, margin);
  QImage img((bounds.size() * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  {
    QPainter ip(&img);
    ip.setRenderHint(QPainter::Antialiasing);
    ip.scale(dpr, dpr);
    ip.translate(-bounds.topLeft());
    ip.fillPath(shape, Qt::black);
  }
  img.setDevicePixelRatio(dpr);
  drawShadow(p, img, bounds.topLeft(), color, radius, offset);
}

void Shapes::drawShadow(QPainter& p, const QImage& source, const QPointF& topLeft, const QColor& color,
                        qreal radius, const QPointF& offset) {
  if (color.alpha() == 0 || source.isNull()) return;
  const qreal dpr = source.devicePixelRatio();
  // The toolkit's shadow radius is about two standard deviations of blur.
  const qreal sigma = radius / 2 * dpr;
  const int pad = int(std::ceil(sigma * 3)) + 1;
  QImage img(source.width() + 2 * pad, source.height() + 2 * pad, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  {
    QPainter ip(&img);
    QImage src = source;
    src.setDevicePixelRatio(1);
    ip.drawImage(pad, pad, src);
  }
  blurAlpha(img, sigma);
  {
    QPainter ip(&img);
    ip.setCompositionMode(QPainter::CompositionMode_SourceIn);
    ip.fillRect(img.rect(), color);
  }
  img.setDevicePixelRatio(dpr);
  p.drawImage(topLeft + offset - QPointF(pad / dpr, pad / dpr), img);
}

} // namespace bx
