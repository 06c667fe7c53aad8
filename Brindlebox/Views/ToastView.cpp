#include "Views/ToastView.h"

#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/TextBlock.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

namespace bx {

namespace {
constexpr qreal kSymbolPixels = 14;
constexpr qreal kSpacing = 9;
constexpr int kPadX = 14;
constexpr int kPadY = 9;
constexpr int kMaxLines = 2;
} // namespace

ToastView::ToastView(const Toast& toast, QWidget* parent) : ThemedWidget(parent), toast_(toast), bouncePhase_(1) {
  setAttribute(Qt::WA_TranslucentBackground);
  setCursor(Qt::PointingHandCursor);
  connect(&bouncePhase_, &AnimatedValue::changed, this, [this] { update(); });
}

QFont ToastView::textFont() const { return Theme::Font::weighted(Theme::Font::callout(), QFont::Medium); }

QStringList ToastView::textLines(int maxWidth) const {
  const qreal side = Icons::boxSize(kSymbolPixels);
  const int textMax = std::max(1, int(maxWidth - 2 * kPadX - side - kSpacing));
  const int textW = std::min(textMax, qCeil(TextBlock::idealWidth(toast_.text, textFont())) + 1);
  return TextBlock::wrap(toast_.text, textFont(), textW, kMaxLines);
}

QSize ToastView::bannerSize(int maxWidth) const {
  const qreal side = Icons::boxSize(kSymbolPixels);
  QFontMetricsF fm(textFont());
  const QStringList lines = textLines(maxWidth);
  qreal textW = 0;
  for (const QString& l : lines) textW = std::max(textW, fm.horizontalAdvance(l));
  const qreal textH = fm.height() * std::max<qsizetype>(1, lines.size());
  const qreal w = 2 * kPadX + side + kSpacing + textW;
  const qreal h = 2 * kPadY + std::max(side, textH);
  return QSize(std::min(qCeil(w), maxWidth), qCeil(h));
}

void ToastView::setMaxBannerWidth(int width) {
  maxBannerWidth_ = width;
  updateGeometry();
  update();
}

QSize ToastView::sizeHint() const {
  return bannerSize(maxBannerWidth_) + QSize(2 * kShadowMargin, 2 * kShadowMargin);
}

QRect ToastView::bannerRect() const {
  return rect().adjusted(kShadowMargin, kShadowMargin, -kShadowMargin, -kShadowMargin);
}

void ToastView::setPresentationOpacity(qreal opacity) {
  opacity_ = opacity;
  update();
}

void ToastView::showEvent(QShowEvent* e) {
  ThemedWidget::showEvent(e);
  ++bounce_;
  bouncePhase_.setValue(0);
  bouncePhase_.animateTo(1, Animation::easeOut(0.5));
}

void ToastView::mousePressEvent(QMouseEvent* e) {
  pressInside_ = e->button() == Qt::LeftButton && bannerRect().contains(e->position().toPoint());
  if (!pressInside_) e->ignore();
}

void ToastView::mouseReleaseEvent(QMouseEvent* e) {
  const bool inside = bannerRect().contains(e->position().toPoint());
  if (pressInside_ && inside && e->button() == Qt::LeftButton) emit clicked();
  pressInside_ = false;
}

void ToastView::paintEvent(QPaintEvent*) {
  const qreal dpr = devicePixelRatioF();
  QImage layer((QSizeF(size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  layer.setDevicePixelRatio(dpr);
  const QRectF banner(bannerRect());
  const QPainterPath shape = Shapes::roundedRect(banner, kRadius);
  {
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    Shapes::drawShadow(p, shape, QColor(0, 0, 0, qRound(0.14 * 255)), 12, QPointF(0, 5));
    p.fillPath(shape, Theme::panel.resolved());
    const QColor tint = toast_.tint.resolved();
    p.save();
    p.setClipPath(shape);
    p.fillRect(QRectF(banner.left(), banner.top(), 3, banner.height()), tint);
    p.restore();
    Shapes::strokeInside(p, banner, kRadius, Theme::ruleStrong.resolved(), 1);

    const qreal side = Icons::boxSize(kSymbolPixels);
    QFontMetricsF fm(textFont());
    const QStringList lines = textLines(int(banner.width()) + 1);
    const qreal textH = fm.height() * std::max<qsizetype>(1, lines.size());
    const qreal contentH = std::max(side, textH);
    const qreal top = banner.top() + (banner.height() - contentH) / 2;
    QRectF box(banner.left() + kPadX, banner.center().y() - side / 2, side, side);
    const qreal bounceScale = 1 + 0.18 * std::sin(M_PI * std::clamp(bouncePhase_.value(), 0.0, 1.0));
    p.save();
    p.translate(box.center());
    p.scale(bounceScale, bounceScale);
    p.translate(-box.center());
    Icons::paint(p, box, toast_.symbol, tint);
    p.restore();
    p.setFont(textFont());
    p.setPen(Theme::ink.resolved());
    qreal y = top + (contentH - textH) / 2;
    for (const QString& line : lines) {
      p.drawText(QPointF(box.right() + kSpacing, y + fm.ascent()), line);
      y += fm.height();
    }
  }
  QPainter p(this);
  p.setOpacity(opacity_);
  p.drawImage(QPointF(0, 0), layer);
}

} // namespace bx
