#include "Theme/Motion.h"

#include "Platform/ReduceMotion.h"

#include <QPointF>
#include <cmath>

namespace bx {

namespace {
bool gInstant = false;
constexpr double kSettleTolerance = 1e-3;
} // namespace

const Animation Motion::spring = Animation::spring(0.35, 0.85);
const Animation Motion::snappy = Animation::spring(0.25, 0.85);
const Animation Motion::fade = Animation::easeInOut(0.18);

double SpringCurve::value(double t) const {
  if (t <= 0) return 0;
  const double w0 = 2 * M_PI / response;
  const double z = dampingFraction;
  if (z < 1) {
    const double wd = w0 * std::sqrt(1 - z * z);
    return 1 - std::exp(-z * w0 * t) * (std::cos(wd * t) + (z * w0 / wd) * std::sin(wd * t));
  }
  if (z == 1) return 1 - std::exp(-w0 * t) * (1 + w0 * t);
  // Over-damped: sum of two decaying exponentials.
  const double s = w0 * std::sqrt(z * z - 1);
  const double r1 = -z * w0 + s, r2 = -z * w0 - s;
  // x = 1 + c1 e^{r1 t} + c2 e^{r2 t} with x(0) = 0 and v(0) = 0.
  const double c2 = r1 / (r2 - r1);
  const double c1 = -1 - c2;
  return 1 + c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
}

double SpringCurve::velocity(double t) const {
  if (t < 0) return 0;
  const double w0 = 2 * M_PI / response;
  const double z = dampingFraction;
  if (z < 1) {
    const double wd = w0 * std::sqrt(1 - z * z);
    // d/dt of 1 - e^{-a t}(cos + k sin) with a = z w0, k = a / wd
    return std::exp(-z * w0 * t) * (w0 * w0 / wd) * std::sin(wd * t);
  }
  if (z == 1) return std::exp(-w0 * t) * w0 * w0 * t;
  const double h = 1e-5;
  return (value(t + h) - value(std::max(0.0, t - h))) / (t > h ? 2 * h : h + t);
}

double SpringCurve::settleTime() const {
  const double w0 = 2 * M_PI / response;
  const double z = dampingFraction;
  if (z < 1) {
    // The distance to the target never exceeds this envelope.
    const double wd = w0 * std::sqrt(1 - z * z);
    const double amplitude = std::sqrt(1 + (z * w0 / wd) * (z * w0 / wd));
    return std::log(amplitude / kSettleTolerance) / (z * w0);
  }
  // Critically or over-damped: monotonic, so walk until close enough.
  double t = 0;
  while (1 - value(t) > kSettleTolerance && t < 60) t += 0.001;
  return t;
}

QEasingCurve SpringCurve::easing() const {
  const double total = settleTime();
  QEasingCurve curve(QEasingCurve::BezierSpline);
  constexpr int kSegments = 48;
  double u0 = 0, y0 = 0, d0 = 0;  // progress, value, dvalue/dprogress
  for (int i = 1; i <= kSegments; ++i) {
    const double u1 = double(i) / kSegments;
    const double t1 = u1 * total;
    double y1 = value(t1);
    double d1 = velocity(t1) * total;
    if (i == kSegments) {
      y1 = 1;
      d1 = 0;
    }
    const double h = u1 - u0;
    // Hermite to Bézier: control points a third of the way along each tangent.
    curve.addCubicBezierSegment(QPointF(u0 + h / 3, y0 + d0 * h / 3), QPointF(u1 - h / 3, y1 - d1 * h / 3),
                                QPointF(u1, y1));
    u0 = u1;
    y0 = y1;
    d0 = d1;
  }
  return curve;
}

int Animation::durationMs() const {
  const double seconds = isSpring() ? SpringCurve{response, dampingFraction}.settleTime() : duration;
  return std::max(1, int(std::lround(seconds * 1000)));
}

QEasingCurve Animation::easing() const {
  switch (kind) {
  case Kind::Spring:
    return SpringCurve{response, dampingFraction}.easing();
  case Kind::EaseOut:
    return QEasingCurve(QEasingCurve::OutQuad);
  case Kind::EaseInOut:
    break;
  }
  return QEasingCurve(QEasingCurve::InOutQuad);
}

Animation Motion::current(const Animation& animation) {
  return MotionAnimation{ReduceMotion::isOn(), animation}.effective();
}

void Motion::setInstant(bool instant) { gInstant = instant; }
bool Motion::isInstant() { return gInstant; }

Animation motion(const Animation& animation) { return Motion::current(animation); }

} // namespace bx
