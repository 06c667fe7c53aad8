#pragma once

#include "Theme/AnimatedValue.h"
#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <QFont>

namespace bx {

// The numbered step markers at the head of a multi-step sheet, joined by
// 22 × 1 px rules. A step before `index` is done (seal circle, white check),
// the step at `index` current (focus circle, white number, semibold title),
// a step after it ahead (outlined circle, number and title in ink3). Index
// changes animate with Motion::spring (the fade under Reduce Motion).
//
// An empty step list draws nothing; a negative index shows every step ahead;
// an index past the end shows every step done.
class StepRail : public ThemedWidget {
  Q_OBJECT
public:
  StepRail(const QStringList& steps, int index, QWidget* parent = nullptr);

  enum class StepState { Done, Current, Ahead };

  QStringList steps() const { return steps_; }
  int index() const { return index_; }
  void setIndex(int index);
  void setSteps(const QStringList& steps);

  static StepState stateOf(int step, int index);

  struct MarkerLook {
    ThemeColor fill;
    ThemeColor stroke;
    ThemeColor glyphColor;
    bool checkmark;      // the "checkmark" symbol, else the number
    ThemeColor title;
    bool semiboldTitle;
  };
  static MarkerLook markerLook(StepState state);
  // Colour of the rule after step i.
  static ThemeColor ruleColor(int step, int index);

  // "Step <index + 1> of <n>: <title of step min(n − 1, index)>"; the title
  // index never leaves the list (empty text for an empty list).
  static QString accessibilityLabel(const QStringList& steps, int index);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  static QFont titleFont(bool semibold);

  QStringList steps_;
  int index_;
  int fromIndex_;
  AnimatedValue change_;  // 0 = look of fromIndex_, 1 = look of index_
};

} // namespace bx
