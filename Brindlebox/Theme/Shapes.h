#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace bx {

// Rounded shapes with continuous corners: the curvature eases into the
// straight sides instead of meeting them at a circle's tangent.
struct Shapes {
  // A rounded rectangle of corner `radius` (0 gives square corners). When a
  // side is too short for the continuous corner, the corner falls back to a
  // circular arc of at most half that side.
  static QPainterPath roundedRect(const QRectF& rect, qreal radius);
  // Per-corner radii: top-left, top-right, bottom-right, bottom-left.
  static QPainterPath roundedRect(const QRectF& rect, qreal topLeft, qreal topRight, qreal bottomRight,
                                  qreal bottomLeft);
  // A capsule: a rounded rectangle whose short side is fully rounded.
  static QPainterPath capsule(const QRectF& rect);

  // Strokes `width` on the inside of a rounded rectangle: the stroke follows
  // the shape inset by half its width, so it never leaves `rect`.
  static void strokeInside(QPainter& p, const QRectF& rect, qreal radius, const QColor& color, qreal width = 1);
  static void strokeInsideCapsule(QPainter& p, const QRectF& rect, const QColor& color, qreal width = 1);

  // Draws a soft shadow of `shape` (in the painter's coordinates) in
  // `color`, blurred by `radius` and moved by `offset`.
  static void drawShadow(QPainter& p, const QPainterPath& shape, const QColor& color, qreal radius,
                         const QPointF& offset);
  // Draws a soft shadow of an image's opaque parts (image drawn at `topLeft`
  // in logical pixels).
  static void drawShadow(QPainter& p, const QImage& source, const QPointF& topLeft, const QColor& color,
                         qreal radius, const QPointF& offset);
};

} // namespace bx
