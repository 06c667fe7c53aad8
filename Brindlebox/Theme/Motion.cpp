#include "Theme/Motion.h"

#include "Platform/ReduceMotion.h"

#include <algorithm>
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
  const double s = w0 * std::sqrt(z * z - 1);
  const double r1 = -z * w0 + s, r2 = -z * w0 - s;
  const double c2 = r1 / (r2 - r1);
  const double c1 = -1 - c2;
  return c1 * r1 * std::exp(r1 * t) + c2 * r2 * std::exp(r2 * t);
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

double SpringCurve::progress(double fraction) const {
  if (fraction <= 0) return 0;
  if (fraction >= 1) return 1;
  return value(fraction * settleTime());
}

int Animation::durationMs() const {
  const double seconds = isSpring() ? SpringCurve{response, dampingFraction}.settleTime() : duration;
  return std::max(1, int(std::lround(seconds * 1000)));
}

double Animation::progress(double fraction) const {
  const double u = std::clamp(fraction, 0.0, 1.0);
  switch (kind) {
  case Kind::Spring:
    return SpringCurve{response, dampingFraction}.progress(u);
  case Kind::EaseOut:
    return 1 - (1 - u) * (1 - u);
  case Kind::EaseInOut:
    break;
  }
  return u < 0.5 ? 2 * u * u : 1 - 2 * (1 - u) * (1 - u);
}

void Motion::setInstant(bool instant) { gInstant = instant; }
bool Motion::isInstant() { return gInstant; }

Animation motion(const Animation& animation) {
  return MotionAnimation{ReduceMotion::isOn(), animation}.effective();
}

} // namespace bx
