#pragma once

#include "Browser/SpineGeometry.h"
#include "Views/ThemedWidget.h"

#include <QPointer>
#include <functional>
#include <optional>
#include <vector>

namespace bx {

class SpineTip;

// The narrow month strip left of the message list: one bar per calendar
// month from the newest (top) to the oldest, its length by the month's
// count, year labels on the left, the list's current month marked. Hovering
// shows a tip with the month and its count; a press or drag asks for a scrub
// to the month under the pointer (`scrubRequested`). Everything it shows is
// given to it; it never changes what it is given.
class TimelineSpine : public ThemedWidget {
  Q_OBJECT
public:
  static constexpr int spineWidth = 84;
  static constexpr qreal labelWidth = 34;

  explicit TimelineSpine(QWidget* parent = nullptr);
  ~TimelineSpine() override;

  // The month groups as (month index, count), newest first, each month once.
  void setMonths(const std::vector<std::pair<int, int>>& monthCounts);
  void setCurrentMonth(std::optional<int> monthIndex);
  void setProbe(std::optional<int> monthIndex);
  // How a month is titled ("March 2024"); the tip and the accessible value.
  void setTitleProvider(std::function<QString(int monthIndex)> title);

  std::optional<int> currentMonth() const { return current_; }
  std::optional<int> hoverMonth() const { return hover_; }
  std::optional<int> probe() const { return probe_; }
  bool isDragging() const { return dragging_; }
  // The layout for the present size, and the one last kept for the demo
  // recorder with the spine's frame in window coordinates.
  const SpineGeometry& geometryNow() const { return geometry_; }
  QRect frameInWindow() const;
  int count(int monthIndex) const;
  int topCount() const { return topCount_; }
  QString monthTitle(int monthIndex) const;

  // The month to mark: the hovered month, else the probe.
  std::optional<int> highlight() const { return hover_ ? hover_ : probe_; }

  // Accessible value: "March 2024, 12 messages", or "Empty".
  QString accessibleValue() const;
  // Steps the current month by whole months with messages: +1 newer, −1
  // older. Nothing when there is no current month or no such month.
  void stepMonth(int direction);

  // The font of a year label, and where the label of `year` stands when
  // its row starts at `y`: never touching the current-month marker.
  QFont yearFont(bool current) const;
  QRectF yearLabelRect(int year, qreal y, bool current) const;

  SpineTip* tip() const { return tip_; }
  // Where the tip stands, in the spine's coordinates, for a month.
  QPoint tipPosition(int monthIndex, const QSize& tipSize) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

signals:
  void scrubRequested(int monthIndex);
  void currentMonthChanged();

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void moveEvent(QMoveEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

private:
  void relayout();
  void setHover(std::optional<int> month);
  void dragTo(qreal y);
  void updateTip();

  std::vector<int> counts_;  // by row, newest first
  int newest_ = 0;
  bool hasMonths_ = false;
  int topCount_ = 1;
  std::optional<int> current_;
  std::optional<int> probe_;
  std::optional<int> hover_;
  bool dragging_ = false;
  SpineGeometry geometry_;
  std::function<QString(int)> title_;
  QPointer<SpineTip> tip_;
};

// The small label beside the spine: "March 2024 · 12 messages" on a panel
// with a border and a soft shadow. Never takes the pointer.
class SpineTip : public ThemedWidget {
  Q_OBJECT
public:
  explicit SpineTip(QWidget* parent = nullptr);
  void setMonth(const QString& title, int count);
  QString title() const { return title_; }
  QString countText() const;
  QSize sizeHint() const override;

  static constexpr int shadowMargin = 12;  // room around the card for its shadow

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString title_;
  int count_ = 0;
};

} // namespace bx
