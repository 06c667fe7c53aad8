#pragma once

#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <QFont>

namespace bx {

// Plain text (never rich text) in one font and theme colour, wrapped at word
// boundaries to the width it is given, cut to `maxLines` lines with an
// ellipsis (0 = no limit).
class TextBlock : public ThemedWidget {
  Q_OBJECT
public:
  explicit TextBlock(const QString& text = {}, QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  void setTextFont(const QFont& font);
  QFont textFont() const { return font_; }
  void setColor(const ThemeColor& color);
  ThemeColor color() const { return color_; }
  void setMaxLines(int lines);
  int maxLines() const { return maxLines_; }
  // Horizontal alignment of each line: Qt::AlignLeft or Qt::AlignHCenter.
  void setAlignment(Qt::Alignment alignment);
  // The widest the text is laid out (its ideal width is never more).
  void setMaxTextWidth(int width);
  void setStrikeOut(bool on);

  // The lines shown at `width`, after the line limit.
  QStringList linesForWidth(int width) const;
  // The same for any text: `text` in `font` wrapped at `width`, cut to
  // `maxLines` (0 = no limit) with an ellipsis.
  static QStringList wrap(const QString& text, const QFont& font, int width, int maxLines);
  // Widest paragraph of `text` in `font`, unwrapped.
  static qreal idealWidth(const QString& text, const QFont& font);
  // Distance from the top to the first line's baseline.
  int firstBaseline() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  int idealTextWidth() const;
  void changed();

  QString text_;
  QFont font_;
  ThemeColor color_;
  int maxLines_ = 0;
  Qt::Alignment alignment_ = Qt::AlignLeft;
  int maxTextWidth_ = QWIDGETSIZE_MAX;
};

// A symbol drawn tinted in a fixed box; the box is `boxWidth` wide (the
// icon's own size when 0) and as tall as the icon.
class SymbolView : public ThemedWidget {
  Q_OBJECT
public:
  SymbolView(const QString& symbol, qreal fontPixels, const ThemeColor& color, QWidget* parent = nullptr);

  void setSymbol(const QString& symbol);
  QString symbol() const { return symbol_; }
  void setColor(const ThemeColor& color);
  ThemeColor color() const { return color_; }
  void setBoxWidth(int width);
  void setScaleFactor(qreal scale);  // for the bounce effect
  qreal scaleFactor() const { return scale_; }

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString symbol_;
  qreal fontPixels_;
  ThemeColor color_;
  int boxWidth_ = 0;
  qreal scale_ = 1;
};

// One bounce of a symbol: up by a fifth and back, over the spring's time
// (the fade's under Reduce Motion); nothing while animations are instant.
void bounceSymbol(SymbolView* symbol);

} // namespace bx
