#pragma once

#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

namespace bx {

// The eyebrow caption above sections and fields: the text upper-cased
// (locale-independent, never looked up as a translation key), in the label
// font (10 px semibold) with 0.9 px letter tracking, in `color`. No padding.
class SmallCaps : public ThemedWidget {
  Q_OBJECT
public:
  SmallCaps(const QString& text, const ThemeColor& color, QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  // The text as shown.
  QString displayText() const { return text_.toUpper(); }
  ThemeColor color() const { return color_; }
  void setColor(const ThemeColor& color);
  QFont displayFont() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString text_;
  ThemeColor color_;
};

} // namespace bx
