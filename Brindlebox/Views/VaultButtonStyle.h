#pragma once

#include "Platform/Appearance.h"

#include <QColor>
#include <QFont>

namespace bx {

// The one custom button look of the application: four kinds, two sizes, and
// its pressed, hover and disabled looks. `look()` is the whole state table;
// VaultButton draws it.
struct VaultButtonStyle {
  enum class Kind { Primary, Secondary, Destructive, Quiet };

  Kind kind = Kind::Primary;
  bool compact = false;

  static constexpr qreal kRadius = 7;

  struct State {
    bool pressed = false;
    bool hover = false;     // pointer over the button
    bool enabled = true;
    bool reduceMotion = false;
    ColorScheme scheme = ColorScheme::Light;
  };

  // Everything that differs between kinds and states, resolved for one
  // appearance. Layers from the bottom: hover background, fill, border,
  // label, hover tint. A secondary button's hover background lies over its
  // opaque fill (beneath the label), so that kind shows its hover too.
  struct Look {
    QColor fillTop;          // top and bottom of a vertical gradient;
    QColor fillBottom;       // equal for a plain fill
    QColor text;
    QColor border;
    qreal hoverTint = 0;     // opacity of the white overlay
    QColor hoverBackground;  // clear when none
    bool hoverBackgroundOverFill = false;
    qreal opacity = 1;
    qreal scale = 1;
  };

  Look look(const State& state) const;

  QFont font() const;              // callout 12 or body 13, medium
  int horizontalPadding() const { return compact ? 10 : 14; }
  int verticalPadding() const { return compact ? 4 : 7; }

  friend bool operator==(const VaultButtonStyle& a, const VaultButtonStyle& b) {
    return a.kind == b.kind && a.compact == b.compact;
  }
};

} // namespace bx
