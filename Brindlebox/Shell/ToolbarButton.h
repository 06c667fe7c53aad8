#pragma once

#include "Theme/AnimatedValue.h"

#include <QToolButton>
#include <QVariantAnimation>

namespace bx {

// A toolbar item drawn in the theme: a symbol and its title, a soft
// highlight under the pointer, dimmed when disabled. The symbol can bounce
// once or pulse for as long as asked.
class ToolbarButton : public QToolButton {
  Q_OBJECT
public:
  ToolbarButton(const QString& title, const QString& symbol, QWidget* parent = nullptr);

  void setLabel(const QString& title, const QString& symbol);
  QString symbol() const { return symbol_; }

  void bounce();
  int bounces() const { return bounces_; }
  void setPulsing(bool on);
  bool isPulsing() const { return pulsing_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString symbol_;
  AnimatedValue bounce_{1};
  QVariantAnimation pulse_;  // 0…1 over one breath, repeating
  bool pulsing_ = false;
  int bounces_ = 0;
};

} // namespace bx
