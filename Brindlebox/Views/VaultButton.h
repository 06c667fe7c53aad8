#pragma once

#include "Theme/AnimatedValue.h"
#include "Views/VaultButtonStyle.h"

#include <QAbstractButton>

namespace bx {

// A push button drawn in VaultButtonStyle: its text and/or symbol in the
// kind's colours, padded, on the kind's fill with a 1 px inner border, in a
// continuous rounded rectangle of radius 7 that is also its hit area.
// Pressing animates opacity and scale with a spring (response 0.16 s,
// damping 0.85); hover changes ease out over 0.12 s.
//
// The Qt property "demoAnchor" names the button for the demo script.
class VaultButton : public QAbstractButton {
  Q_OBJECT
public:
  VaultButton(const QString& text, VaultButtonStyle style, QWidget* parent = nullptr);
  VaultButton(const QString& text, VaultButtonStyle::Kind kind, bool compact = false, QWidget* parent = nullptr)
      : VaultButton(text, VaultButtonStyle{kind, compact}, parent) {}

  VaultButtonStyle buttonStyle() const { return style_; }
  void setButtonStyle(VaultButtonStyle style);

  // A symbol before the text (or alone when the text is empty), drawn at
  // `fontPixels` (the button font's size when 0) in the text colour.
  void setSymbol(const QString& symbol, qreal fontPixels = 0);
  QString symbol() const { return symbol_; }

  // Whether the pointer is over the button; follows enter and leave events,
  // and can be set directly (gallery, tests).
  bool isHovered() const { return hover_; }
  void setHovered(bool hover);

  // The state the button is in and its look once animations settle.
  VaultButtonStyle::State state() const;
  VaultButtonStyle::Look look() const { return style_.look(state()); }
  // What is on screen now, animations included.
  qreal currentOpacity() const;
  qreal currentScale() const;
  qreal currentHoverTint() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;
  bool hitButton(const QPoint& pos) const override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

private:
  void syncPressed();
  // The settled look in the present state, pressed or not.
  VaultButtonStyle::Look lookWhen(bool pressed) const;
  QRectF shapeRect() const;

  VaultButtonStyle style_;
  QString symbol_;
  qreal symbolPixels_ = 0;
  bool hover_ = false;
  bool shownDown_ = false;
  AnimatedValue press_;   // 0 = up, 1 = down
  AnimatedValue hoverT_;  // 0 = away, 1 = over
};

} // namespace bx
