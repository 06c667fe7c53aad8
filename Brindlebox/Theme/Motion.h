#pragma once

namespace bx {

// A damped spring of unit mass moving from 0 to 1 from rest, described the
// way designers give it: `response` is the period of the undamped spring in
// seconds, `dampingFraction` the ratio to critical damping (1 = no overshoot).
struct SpringCurve {
  double response = 0.35;
  double dampingFraction = 0.85;

  // Position at time t seconds (0 at t = 0, tends to 1).
  double value(double t) const;
  // Velocity at time t seconds.
  double velocity(double t) const;
  // Time after which the spring stays within 0.1 % of its target.
  double settleTime() const;
  // Position at `fraction` (0…1) of `settleTime()`; exactly 1 at the end.
  double progress(double fraction) const;
};

// One animation: a spring or a timed curve.
struct Animation {
  enum class Kind { Spring, EaseInOut, EaseOut };
  Kind kind = Kind::EaseInOut;
  double response = 0;         // springs
  double dampingFraction = 1;  // springs
  double duration = 0;         // timed curves, seconds

  static Animation spring(double response, double dampingFraction) {
    return {Kind::Spring, response, dampingFraction, 0};
  }
  static Animation easeInOut(double seconds) { return {Kind::EaseInOut, 0, 1, seconds}; }
  static Animation easeOut(double seconds) { return {Kind::EaseOut, 0, 1, seconds}; }

  bool isSpring() const { return kind == Kind::Spring; }
  // How long it runs, in milliseconds (a spring until it settles).
  int durationMs() const;
  // How far the change is at `fraction` (0…1) of the duration: 0 at the
  // start, 1 at the end, possibly past 1 on the way for a bouncy spring.
  double progress(double fraction) const;

  friend bool operator==(const Animation& a, const Animation& b) {
    return a.kind == b.kind && a.response == b.response && a.dampingFraction == b.dampingFraction &&
           a.duration == b.duration;
  }
  friend bool operator!=(const Animation& a, const Animation& b) { return !(a == b); }
};

// The application's named animations.
struct Motion {
  static const Animation spring;  // response 0.35 s, damping 0.85
  static const Animation snappy;  // response 0.25 s, damping 0.85
  static const Animation fade;    // ease-in-out 0.18 s

  // Animations jump straight to their end while this is on. For offscreen
  // rendering (the gallery) and tests; the application never sets it.
  static void setInstant(bool instant);
  static bool isInstant();
};

// The rule as a value: `reduce` read from the Reduce Motion setting, the
// animation the view asks for. `effective()` is what actually runs.
struct MotionAnimation {
  bool reduce = false;
  Animation animation;

  Animation effective() const { return reduce ? Motion::fade : animation; }
};

// The animation for a state change of a view: `animation`, or the fade under
// Reduce Motion (read now), so every animated change, spring or not, becomes
// the fade; never none.
Animation motion(const Animation& animation);

} // namespace bx
