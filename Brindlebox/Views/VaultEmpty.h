#pragma once

#include "Views/ThemedWidget.h"

class QHBoxLayout;

namespace bx {

class TextBlock;
class SymbolView;

// The centred empty state: the symbol (28 px, light, Theme::ink3) in a
// 58 × 58 frame with a dashed rounded border, the title (headline,
// Theme::ink), the text (callout, Theme::ink2, centred, at most 280 px wide)
// and optional actions, 10 px apart, padded 24 px, centred in whatever space
// the widget is given.
class VaultEmpty : public ThemedWidget {
  Q_OBJECT
public:
  VaultEmpty(const QString& symbol, const QString& title, const QString& text, QList<QWidget*> actions = {},
             QWidget* parent = nullptr);

  TextBlock* titleBlock() const { return title_; }
  TextBlock* textBlock() const { return text_; }
  // Adds an action at the end of the centred row under the text.
  void addAction(QWidget* action);

private:
  TextBlock* title_;
  TextBlock* text_;
  QHBoxLayout* actions_;
};

} // namespace bx
