#pragma once

#include <QColor>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace bx {

// The application's symbols, looked up by their symbol names ("lock.fill",
// "checkmark.shield.fill"). The table (Resources/icons.tsv) maps each name to
// an SVG of the Bootstrap Icons set, compiled into the resources. Icons are
// single-colour shapes drawn tinted with a theme colour; the weight of a
// symbol font cannot be carried over to a drawing and is ignored.
struct Icons {
  // Whether the table has this symbol.
  static bool has(const QString& symbol);
  // Every symbol of the table.
  static QStringList symbols();

  // Side of the square an icon takes beside text of `fontPixels`.
  static qreal boxSize(qreal fontPixels);

  // Draws the symbol tinted `color`, fitted and centred in `box`. An
  // unknown symbol draws nothing.
  static void paint(QPainter& p, const QRectF& box, const QString& symbol, const QColor& color);
  // The symbol as a tinted pixmap for `fontPixels` text at `dpr`.
  static QPixmap pixmap(const QString& symbol, qreal fontPixels, const QColor& color, qreal dpr = 1.0);
};

} // namespace bx
