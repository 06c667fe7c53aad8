#pragma once
// How long the GUI thread was kept busy: the longest gap between ticks of a
// 1 ms timer, including the gap still open when the meter stops.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

namespace bx::bench {

struct BlockMeter {
  QTimer timer;
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  BlockMeter() {
    timer.setInterval(1);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const qint64 now = clock.nsecsElapsed();
      longest = std::max(longest, now - last);
      last = now;
    });
  }
  void start() {
    clock.start();
    last = 0;
    longest = 0;
    timer.start();
  }
  double stopMs() {
    timer.stop();
    return double(std::max(longest, clock.nsecsElapsed() - last)) / 1e6;
  }
};

} // namespace bx::bench
