#pragma once
// Shared state of the message list and the timeline spine: the list writes
// the month at its top while it scrolls and follows scrub targets; the spine
// reads the month and asks the store to scrub.

#include "Store/StoreTypes.h"

#include <QObject>

#include <optional>

namespace bx {

struct ScrubTarget {
  MonthKey key;
  int token = 0;
  friend bool operator==(const ScrubTarget&, const ScrubTarget&) = default;
};

class TimelineModel : public QObject {
  Q_OBJECT
public:
  explicit TimelineModel(QObject* parent = nullptr) : QObject(parent) {}

  std::optional<MonthKey> currentMonth() const { return currentMonth_; }
  void setCurrentMonth(std::optional<MonthKey> m) {
    if (m == currentMonth_) return;
    currentMonth_ = m;
    emit currentMonthChanged();
  }

  // Highlighted and labelled by the spine while the pointer is elsewhere; set
  // only by the screenshot harness.
  std::optional<MonthKey> probe() const { return probe_; }
  void setProbe(std::optional<MonthKey> m) {
    if (m == probe_) return;
    probe_ = m;
    emit probeChanged();
  }

  // Every scrub is a new request (its token grows), even to the same month.
  std::optional<ScrubTarget> scrubTarget() const { return scrubTarget_; }
  void setScrubTarget(std::optional<ScrubTarget> t) {
    scrubTarget_ = t;
    emit scrubTargetChanged();
  }

signals:
  void currentMonthChanged();
  void probeChanged();
  void scrubTargetChanged();

private:
  std::optional<MonthKey> currentMonth_;
  std::optional<MonthKey> probe_;
  std::optional<ScrubTarget> scrubTarget_;
};

}  // namespace bx
