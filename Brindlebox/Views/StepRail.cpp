#include "Views/StepRail.h"

#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace bx {

namespace {
constexpr qreal kMarker = 18;
constexpr qreal kMarkerToTitle = 6;
constexpr qreal kSpacing = 10;
constexpr qreal kRuleWidth = 22;
} // namespace

StepRail::StepRail(const QStringList& steps, int index, QWidget* parent)
    : ThemedWidget(parent), steps_(steps), index_(index), fromIndex_(index), change_(1) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAccessibleName(accessibilityLabel(steps_, index_));
  connect(&change_, &AnimatedValue::changed, this, [this] { update(); });
}

void StepRail::setIndex(int index) {
  if (index == index_) return;
  fromIndex_ = index_;
  index_ = index;
  setAccessibleName(accessibilityLabel(steps_, index_));
  change_.setValue(0);
  change_.animateTo(1, motion(Motion::spring));
  updateGeometry();
  update();
}

void StepRail::setSteps(const QStringList& steps) {
  steps_ = steps;
  setAccessibleName(accessibilityLabel(steps_, index_));
  updateGeometry();
  update();
}

StepRail::StepState StepRail::stateOf(int step, int index) {
  if (step < index) return StepState::Done;
  if (step == index) return StepState::Current;
  return StepState::Ahead;
}

StepRail::MarkerLook StepRail::markerLook(StepState state) {
  switch (state) {
  case StepState::Done: return {Theme::seal, ThemeColor::clear(), Theme::white, true, Theme::ink, false};
  case StepState::Current: return {Theme::focus, ThemeColor::clear(), Theme::white, false, Theme::ink, true};
  case StepState::Ahead: break;
  }
  return {ThemeColor::clear(), Theme::ruleStrong, Theme::ink3, false, Theme::ink3, false};
}

ThemeColor StepRail::ruleColor(int step, int index) {
  return step < index ? Theme::seal.opacity(0.6) : Theme::ruleStrong;
}

QString StepRail::accessibilityLabel(const QStringList& steps, int index) {
  if (steps.isEmpty()) return QString();
  const int titleIndex = std::clamp<int>(index, 0, int(steps.size()) - 1);
  return QStringLiteral("Step ") + QString::number(index + 1) + QStringLiteral(" of ") +
         QString::number(steps.size()) + QStringLiteral(": ") + steps[titleIndex];
}

QFont StepRail::titleFont(bool semibold) {
  return Theme::Font::weighted(Theme::Font::callout(), semibold ? QFont::DemiBold : QFont::Normal);
}

QSize StepRail::sizeHint() const {
  qreal w = 0;
  for (int i = 0; i < steps_.size(); ++i) {
    const bool semibold = markerLook(stateOf(i, index_)).semiboldTitle;
    w += kMarker + kMarkerToTitle + QFontMetricsF(titleFont(semibold)).horizontalAdvance(steps_[i]);
    if (i < steps_.size() - 1) w += kSpacing + kRuleWidth + kSpacing;
  }
  const qreal h = std::max(kMarker, QFontMetricsF(titleFont(true)).height());
  return QSize(qCeil(w), qCeil(h));
}

void StepRail::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal t = std::clamp(change_.value(), 0.0, 1.0);
  const ColorScheme scheme = Appearance::shared().scheme();
  auto blend = [&](const ThemeColor& from, const ThemeColor& to) {
    return mixColors(from.resolve(scheme), to.resolve(scheme), t);
  };
  const qreal cy = height() / 2.0;
  qreal x = 0;
  for (int i = 0; i < steps_.size(); ++i) {
    const MarkerLook was = markerLook(stateOf(i, fromIndex_));
    const MarkerLook now = markerLook(stateOf(i, index_));
    const QRectF marker(x, cy - kMarker / 2, kMarker, kMarker);
    p.setPen(Qt::NoPen);
    p.setBrush(blend(was.fill, now.fill));
    p.drawEllipse(marker);
    const QColor stroke = blend(was.stroke, now.stroke);
    if (stroke.alpha() > 0) {
      p.setPen(QPen(stroke, 1));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(marker.adjusted(0.5, 0.5, -0.5, -0.5));
    }
    // Glyph: the old one fades out while the new one fades in.
    auto drawGlyph = [&](const MarkerLook& look, qreal opacity) {
      if (opacity <= 0) return;
      p.save();
      p.setOpacity(opacity);
      const QColor c = look.glyphColor.resolve(scheme);
      if (look.checkmark) {
        const qreal side = Icons::boxSize(9);
        Icons::paint(p, QRectF(marker.center().x() - side / 2, marker.center().y() - side / 2, side, side),
                     QStringLiteral("checkmark"), c);
      } else {
        p.setFont(Theme::Font::system(10, QFont::DemiBold, true));
        p.setPen(c);
        p.drawText(marker, Qt::AlignCenter, QString::number(i + 1));
      }
      p.restore();
    };
    if (was.checkmark == now.checkmark && was.glyphColor == now.glyphColor) {
      drawGlyph(now, 1);
    } else {
      drawGlyph(was, 1 - t);
      drawGlyph(now, t);
    }
    x += kMarker + kMarkerToTitle;
    const QFont f = titleFont(now.semiboldTitle);
    QFontMetricsF fm(f);
    p.setFont(f);
    p.setPen(blend(was.title, now.title));
    p.drawText(QPointF(x, cy - fm.height() / 2 + fm.ascent()), steps_[i]);
    x += fm.horizontalAdvance(steps_[i]);
    if (i < steps_.size() - 1) {
      x += kSpacing;
      p.fillRect(QRectF(x, std::floor(cy), kRuleWidth, 1), blend(ruleColor(i, fromIndex_), ruleColor(i, index_)));
      x += kRuleWidth + kSpacing;
    }
  }
}

} // namespace bx
