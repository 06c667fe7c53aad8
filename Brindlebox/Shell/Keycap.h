#pragma once

#include "Views/ThemedWidget.h"

namespace bx {

// A key combination as a small badge, e.g. "⇧⌘B" (shown as it reads here,
// through PlatformText): 12 px semibold text, padded 7 × 3, at least 26 wide,
// on a faint rounded fill with a faint inner border in the label colour.
class Keycap : public ThemedWidget {
  Q_OBJECT
public:
  explicit Keycap(const QString& keys, QWidget* parent = nullptr);

  QString keys() const { return keys_; }
  // The text drawn.
  QString displayText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString keys_;
};

} // namespace bx
