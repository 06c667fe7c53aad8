#pragma once

#include "Views/ThemedWidget.h"

namespace bx {

// The dotted leader between a label and its value in ledger rows: a 1 px
// line of 1 px dots 3 px apart in Theme::ruleStrong, 3 px above the bottom
// of a 10 px tall strip that takes all the width offered.
class Leader : public ThemedWidget {
  Q_OBJECT
public:
  explicit Leader(QWidget* parent = nullptr);

  static constexpr int kHeight = 10;

  QSize sizeHint() const override { return QSize(0, kHeight); }
  QSize minimumSizeHint() const override { return QSize(0, kHeight); }

protected:
  void paintEvent(QPaintEvent*) override;
};

} // namespace bx
