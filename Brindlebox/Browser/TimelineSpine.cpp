#include "Browser/TimelineSpine.h"

#include "Browser/SpineAccessible.h"
#include "Demo/DemoAnchors.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"

#include <QAccessible>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace bx {

TimelineSpine::TimelineSpine(QWidget* parent) : ThemedWidget(parent) {
  SpineAccessible::install();
  setFixedWidth(spineWidth);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setToolTip(QStringLiteral("Timeline — hover a month, click or drag to travel through the years"));
  setAccessibleName(QStringLiteral("Timeline"));
  orrery::demoAnchor(this, QStringLiteral("spine"));
  hairline(this, Qt::RightEdge, Theme::rule);
}

TimelineSpine::~TimelineSpine() {
  if (tip_) delete tip_.data();
}

void TimelineSpine::setMonths(const std::vector<std::pair<int, int>>& monthCounts) {
  counts_.clear();
  hasMonths_ = !monthCounts.empty();
  topCount_ = 1;
  if (hasMonths_) {
    newest_ = monthCounts.front().first;
    const int oldest = monthCounts.back().first;
    if (oldest > newest_) {
      hasMonths_ = false;
    } else {
      counts_.assign(size_t(newest_ - oldest + 1), 0);
      for (const auto& [m, c] : monthCounts) {
        const long long row = (long long)newest_ - m;
        if (row < 0 || row >= (long long)counts_.size()) continue;
        counts_[size_t(row)] = c;
        topCount_ = std::max(topCount_, c);
      }
    }
  }
  relayout();
}

void TimelineSpine::setCurrentMonth(std::optional<int> monthIndex) {
  if (current_ == monthIndex) return;
  current_ = monthIndex;
  update();
  emit currentMonthChanged();
  if (QAccessible::isActive()) {
    QAccessibleValueChangeEvent ev(this, current_ ? QVariant(*current_) : QVariant());
    QAccessible::updateAccessibility(&ev);
  }
}

void TimelineSpine::setProbe(std::optional<int> monthIndex) {
  if (probe_ == monthIndex) return;
  probe_ = monthIndex;
  update();
  updateTip();
}

void TimelineSpine::setTitleProvider(std::function<QString(int)> title) {
  title_ = std::move(title);
  updateTip();
}

int TimelineSpine::count(int monthIndex) const {
  const long long row = (long long)newest_ - monthIndex;
  if (!hasMonths_ || row < 0 || row >= (long long)counts_.size()) return 0;
  return counts_[size_t(row)];
}

QString TimelineSpine::monthTitle(int monthIndex) const {
  if (title_) return title_(monthIndex);
  return QLocale().monthName(SpineGeometry::monthOf(monthIndex)) + QLatin1Char(' ') +
         QString::number(SpineGeometry::yearOf(monthIndex));
}

QFont TimelineSpine::yearFont(bool current) const {
  QFont f = Theme::Font::system(9.5, current ? QFont::DemiBold : QFont::Normal, true);
  // The theme rounds to whole pixels; at 10 px four digits reach the marker.
  f.setPointSizeF(9.5 * 72.0 / logicalDpiY());
  f.setLetterSpacing(QFont::AbsoluteSpacing, -0.3);
  return f;
}

QRectF TimelineSpine::yearLabelRect(int year, qreal y, bool current) const {
  const QFontMetricsF fm(yearFont(current));
  const qreal w = fm.horizontalAdvance(QString::number(year));
  // 6 px in from the edge, moved left as far as needed to keep 2 px clear
  // of the marker's flat side at labelWidth − 7.
  const qreal x = std::max<qreal>(2, std::min<qreal>(6, labelWidth - 7 - 2 - w));
  return QRectF(x, y - 2, w, fm.height());
}

QString TimelineSpine::accessibleValue() const {
  if (!current_) return QStringLiteral("Empty");
  return monthTitle(*current_) + QStringLiteral(", ") + QLocale().toString(count(*current_)) +
         QStringLiteral(" messages");
}

void TimelineSpine::stepMonth(int direction) {
  if (!current_ || geometry_.isEmpty() || direction == 0) return;
  int row = geometry_.rowOf(*current_);
  if (row < 0) return;
  // Rows run newest first, so a step newer goes up a row. Months without
  // messages are passed over: a scrub there would land back on the month
  // it started from.
  const int step = direction > 0 ? -1 : 1;
  for (row += step; row >= 0 && row < int(counts_.size()); row += step) {
    if (counts_[size_t(row)] > 0) {
      emit scrubRequested(geometry_.monthAt(row));
      return;
    }
  }
}

QRect TimelineSpine::frameInWindow() const {
  if (!window()) return {};
  return QRect(mapTo(window(), QPoint(0, 0)), size());
}

QSize TimelineSpine::sizeHint() const { return QSize(spineWidth, 400); }
QSize TimelineSpine::minimumSizeHint() const { return QSize(spineWidth, 80); }

void TimelineSpine::relayout() {
  geometry_ = SpineGeometry::layout(hasMonths_, newest_, newest_ - int(counts_.size()) + 1, height());
  if (hover_ && !geometry_.hasPosition(*hover_)) hover_.reset();
  update();
  updateTip();
}

void TimelineSpine::resizeEvent(QResizeEvent*) { relayout(); }
void TimelineSpine::moveEvent(QMoveEvent*) { updateTip(); }
void TimelineSpine::showEvent(QShowEvent*) {
  // A probe set before the spine was on screen shows its tip now.
  QTimer::singleShot(0, this, [this] { updateTip(); });
}
void TimelineSpine::hideEvent(QHideEvent*) {
  if (tip_) tip_->hide();
}

void TimelineSpine::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  p.fillRect(rect(), Theme::paper.resolved());
  if (geometry_.isEmpty()) return;
  p.setRenderHint(QPainter::Antialiasing);

  const std::optional<int> currentYear =
      current_ ? std::optional<int>(SpineGeometry::yearOf(*current_)) : std::nullopt;
  for (const auto& label : geometry_.years) {
    const bool isCurrent = currentYear && *currentYear == label.year;
    p.setFont(yearFont(isCurrent));
    p.setPen((isCurrent ? Theme::ink : Theme::ink3).resolved());
    const QRectF at = yearLabelRect(label.year, label.y, isCurrent);
    p.drawText(QPointF(at.left(), at.top() + QFontMetricsF(p.font()).ascent()), QString::number(label.year));
  }

  const qreal barH = geometry_.barHeight();
  const qreal radius = std::min(barH / 2, 1.5);
  const qreal room = width() - labelWidth - 8;
  const std::optional<int> hl = highlight();
  const QColor seal = Theme::seal.resolved();
  const QColor ink = Theme::ink.resolved();
  const QColor empty = Theme::ink3.opacity(0.22).resolved();
  const QColor ink2 = Theme::ink2.resolved();
  auto barLength = [&](int c) { return c == 0 ? 2.0 : std::max(3.0, room * c / topCount_); };
  auto barColor = [&](int m, int c) {
    if (current_ && *current_ == m) return seal;
    if (hl && *hl == m) return ink;
    if (c == 0) return empty;
    QColor k = ink2;
    k.setAlphaF(k.alphaF() * (0.35 + 0.55 * c / topCount_));
    return k;
  };

  // Only rows inside the exposed area are drawn; where rows are thinner
  // than a pixel, each pixel row draws its longest bar once.
  const QRect clip = e->rect();
  const int first = int(std::lower_bound(geometry_.tops.begin(), geometry_.tops.end(), clip.top() - barH - 1) -
                        geometry_.tops.begin());
  const bool dense = geometry_.rowHeight < 1.0;
  int lastPixel = INT_MIN;
  qreal lastLength = 0;
  for (int row = first; row < geometry_.monthCount(); ++row) {
    const qreal top = geometry_.tops[size_t(row)];
    if (top > clip.bottom() + 1) break;
    if (top + barH < clip.top() - 1) continue;
    const int m = geometry_.monthAt(row);
    const int c = counts_[size_t(row)];
    const bool marked = (current_ && *current_ == m) || (hl && *hl == m);
    const qreal len = barLength(c);
    if (dense && !marked) {
      const int pixel = int(std::floor(top));
      if (pixel == lastPixel && len <= lastLength) continue;
      if (pixel != lastPixel) lastLength = 0;
      lastPixel = pixel;
      lastLength = std::max(lastLength, len);
    }
    const QRectF bar(labelWidth, top, len, barH);
    if (radius < 0.75) p.fillRect(bar, barColor(m, c));
    else p.fillPath(Shapes::roundedRect(bar, radius), barColor(m, c));
  }
  // Marked bars are drawn again on top so a neighbour in the same pixel row
  // never hides them.
  for (const std::optional<int>& m : {hl, current_}) {
    if (!m || !geometry_.hasPosition(*m)) continue;
    const QRectF bar(labelWidth, geometry_.top(*m), barLength(count(*m)), barH);
    p.fillPath(Shapes::roundedRect(bar, radius), barColor(*m, count(*m)));
  }

  if (current_ && geometry_.hasPosition(*current_)) {
    const qreal mid = geometry_.top(*current_) + barH / 2;
    QPainterPath tri;
    tri.moveTo(labelWidth - 7, mid - 4);
    tri.lineTo(labelWidth - 2, mid);
    tri.lineTo(labelWidth - 7, mid + 4);
    tri.closeSubpath();
    p.fillPath(tri, seal);
  }
}

void TimelineSpine::setHover(std::optional<int> month) {
  if (hover_ == month) return;
  hover_ = month;
  update();
  updateTip();
}

void TimelineSpine::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_) {
    dragTo(e->position().y());
    return;
  }
  int m = 0;
  setHover(geometry_.month(e->position().y(), &m) ? std::optional<int>(m) : std::nullopt);
}

void TimelineSpine::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = true;
  dragTo(e->position().y());
}

void TimelineSpine::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  setHover(std::nullopt);
  // The pointer may still be over the spine: hovering resumes on its next move.
}

void TimelineSpine::leaveEvent(QEvent*) {
  if (!dragging_) setHover(std::nullopt);
}

void TimelineSpine::dragTo(qreal y) {
  int m = 0;
  if (!geometry_.month(y, &m)) return;
  setHover(m);
  if (!current_ || *current_ != m) emit scrubRequested(m);
}

QPoint TimelineSpine::tipPosition(int monthIndex, const QSize& tipSize) const {
  Q_UNUSED(tipSize);
  qreal y = geometry_.top(monthIndex) + geometry_.rowHeight / 2 - 14;
  y = std::min(y, qreal(height() - 34));
  y = std::max(y, qreal(4));
  return QPoint(spineWidth + 6, int(std::round(y)));
}

void TimelineSpine::updateTip() {
  const std::optional<int> m = highlight();
  if (!m || !geometry_.hasPosition(*m) || !isVisible()) {
    if (tip_) tip_->hide();
    return;
  }
  // The tip stands over the message list, so it is a child of the window,
  // not of the spine, which would clip it.
  QWidget* host = window();
  if (!tip_ || tip_->parentWidget() != host) {
    if (tip_) delete tip_.data();
    tip_ = new SpineTip(host);
  }
  tip_->setMonth(monthTitle(*m), count(*m));
  tip_->resize(tip_->sizeHint());
  const QPoint local = tipPosition(*m, tip_->size());
  tip_->move(mapTo(host, local) - QPoint(SpineTip::shadowMargin, SpineTip::shadowMargin));
  tip_->show();
  tip_->raise();
}

// MARK: tip

SpineTip::SpineTip(QWidget* parent) : ThemedWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
}

void SpineTip::setMonth(const QString& title, int count) {
  title_ = title;
  count_ = count;
  updateGeometry();
  update();
}

QString SpineTip::countText() const {
  return QLocale().toString(count_) + QStringLiteral(" message") + (count_ == 1 ? QString() : QStringLiteral("s"));
}

namespace {
QFont tipTitleFont() { return Theme::Font::weighted(Theme::Font::callout(), QFont::DemiBold); }
QFont tipCountFont() { return Theme::Font::system(10.5, QFont::Normal, true); }
} // namespace

QSize SpineTip::sizeHint() const {
  const QFontMetricsF a(tipTitleFont()), b(Theme::Font::callout()), c(tipCountFont());
  const qreal w = a.horizontalAdvance(title_) + 6 + b.horizontalAdvance(QStringLiteral("·")) + 6 +
                  c.horizontalAdvance(countText());
  const qreal h = std::max({a.height(), b.height(), c.height()});
  return QSize(int(std::ceil(w + 20)) + 2 * shadowMargin, int(std::ceil(h + 12)) + 2 * shadowMargin);
}

void SpineTip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF card = QRectF(rect()).adjusted(shadowMargin, shadowMargin, -shadowMargin, -shadowMargin);
  const QPainterPath shape = Shapes::roundedRect(card, 7);
  Shapes::drawShadow(p, shape, QColor(0, 0, 0, int(0.12 * 255)), 8, QPointF(0, 3));
  p.fillPath(shape, Theme::panel.resolved());
  Shapes::strokeInside(p, card, 7, Theme::ruleStrong.resolved(), 1);

  const QFontMetricsF a(tipTitleFont()), b(Theme::Font::callout()), c(tipCountFont());
  const qreal mid = card.center().y();
  qreal x = card.left() + 10;
  auto draw = [&](const QFont& f, const QFontMetricsF& fm, const ThemeColor& color, const QString& text) {
    p.setFont(f);
    p.setPen(color.resolved());
    p.drawText(QPointF(x, mid + (fm.ascent() - fm.descent()) / 2), text);
    x += fm.horizontalAdvance(text) + 6;
  };
  draw(tipTitleFont(), a, Theme::ink, title_);
  draw(Theme::Font::callout(), b, Theme::ink3, QStringLiteral("·"));
  draw(tipCountFont(), c, Theme::ink2, countText());
}

} // namespace bx
