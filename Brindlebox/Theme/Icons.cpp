#include "Theme/Icons.h"

#include <QDir>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtMath>
#include <memory>

static void initIconResources() { Q_INIT_RESOURCE(bx_icons); }

namespace bx {

namespace {

QString resourcePath(const QString& symbol) { return QStringLiteral(":/icons/") + symbol + QStringLiteral(".svg"); }

void ensureResources() {
  static const bool done = [] {
    initIconResources();
    return true;
  }();
  (void)done;
}

QSvgRenderer* renderer(const QString& symbol) {
  ensureResources();
  static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
  auto it = cache.find(symbol);
  if (it == cache.end()) {
    std::shared_ptr<QSvgRenderer> r;
    const QString path = resourcePath(symbol);
    if (QFile::exists(path)) {
      r = std::make_shared<QSvgRenderer>(path);
      if (!r->isValid()) r.reset();
    }
    if (!r) qWarning("bx: no icon for symbol \"%s\"", qPrintable(symbol));
    it = cache.insert(symbol, r);
  }
  return it->get();
}

} // namespace

bool Icons::has(const QString& symbol) {
  ensureResources();
  return QFile::exists(resourcePath(symbol));
}

QStringList Icons::symbols() {
  ensureResources();
  QStringList out;
  for (const QString& f : QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")}, QDir::Files))
    out << f.chopped(4);
  return out;
}

qreal Icons::boxSize(qreal fontPixels) { return std::round(fontPixels * 1.2); }

void Icons::paint(QPainter& p, const QRectF& box, const QString& symbol, const QColor& color) {
  QSvgRenderer* r = renderer(symbol);
  if (!r || box.isEmpty() || color.alpha() == 0) return;
  const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
  const QSize px = (box.size() * dpr).toSize().expandedTo(QSize(1, 1));
  QImage img(px, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  {
    QPainter ip(&img);
    ip.setRenderHint(QPainter::Antialiasing);
    QSizeF s = r->defaultSize();
    s.scale(px, Qt::KeepAspectRatio);
    const QRectF target((px.width() - s.width()) / 2, (px.height() - s.height()) / 2, s.width(), s.height());
    r->render(&ip, target);
    ip.setCompositionMode(QPainter::CompositionMode_SourceIn);
    ip.fillRect(img.rect(), color);
  }
  img.setDevicePixelRatio(dpr);
  p.drawImage(box.topLeft(), img);
}

QPixmap Icons::pixmap(const QString& symbol, qreal fontPixels, const QColor& color, qreal dpr) {
  const qreal side = boxSize(fontPixels);
  QPixmap pm(QSize(qCeil(side * dpr), qCeil(side * dpr)));
  pm.setDevicePixelRatio(dpr);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  paint(p, QRectF(0, 0, side, side), symbol, color);
  return pm;
}

} // namespace bx
