#pragma once

#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <optional>

namespace bx {

// A tinted badge: the symbol (at size + 1, semibold) and, when there is a
// word, the word (at size, semibold) 4 px apart, in a capsule of the tint at
// 10 % with a 1 px inner border of the tint at 25 % and 7 × 2 px padding.
// Without a word it is the bare tinted symbol: no padding, fill or border.
class Seal : public ThemedWidget {
  Q_OBJECT
public:
  Seal(std::optional<QString> text, qreal size, const ThemeColor& tint, const QString& symbol,
       QWidget* parent = nullptr);

  std::optional<QString> text() const { return text_; }
  qreal textSize() const { return size_; }
  ThemeColor tint() const { return tint_; }
  QString symbol() const { return symbol_; }
  void setText(std::optional<QString> text);
  void setTint(const ThemeColor& tint);
  void setSymbol(const QString& symbol);

  // Padding around the content (7 × 2 with a word, none without).
  QSize padding() const;
  // Scale of the symbol, for a bounce effect.
  void setSymbolScale(qreal scale);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QFont textFont() const;

  std::optional<QString> text_;
  qreal size_;
  ThemeColor tint_;
  QString symbol_;
  qreal symbolScale_ = 1;
};

} // namespace bx
