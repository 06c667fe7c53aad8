#pragma once
// Qt's animations on a clock that moves only when the test moves it, so a
// state part-way through an animation is the same however loaded the
// machine is. While one is alive, every QAbstractAnimation of the thread
// (QVariantAnimation, AnimatedValue, …) runs on it.

#include <QAnimationDriver>
#include <QCoreApplication>
#include <QVariantAnimation>

#include <algorithm>

namespace bx::test {

class SteppedClock : public QAnimationDriver {
public:
  SteppedClock() {
    install();
    // Qt stops its clock whenever no animation runs and, starting it again,
    // adds the real time that went by meanwhile. One endless animation
    // keeps it going, so only the steps count.
    keepGoing_.setStartValue(0.0);
    keepGoing_.setEndValue(1.0);
    keepGoing_.setDuration(1000);
    keepGoing_.setLoopCount(-1);
    keepGoing_.start();
  }
  ~SteppedClock() override {
    keepGoing_.stop();
    uninstall();
  }
  SteppedClock(const SteppedClock&) = delete;
  SteppedClock& operator=(const SteppedClock&) = delete;

  // Lets animations started since the last step join the clock (Qt starts
  // them from the event loop), then moves time on by `ms`.
  void step(int ms) {
    // Qt hands a new animation to the clock in two queued steps.
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    now_ += ms;
    advance();
    QCoreApplication::processEvents();
  }
  // Steps in frames of about 16 ms until `ms` have gone by.
  void run(int ms) {
    for (int left = ms; left > 0; left -= 16) step(std::min(left, 16));
  }

  qint64 elapsed() const override { return now_ - startedAt_; }

protected:
  void start() override {
    // Qt adds this clock's time to the moment it started it.
    startedAt_ = now_;
    QAnimationDriver::start();
  }

private:
  QVariantAnimation keepGoing_;
  qint64 now_ = 0;
  qint64 startedAt_ = 0;
};

}  // namespace bx::test
