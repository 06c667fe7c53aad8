#include "Views/VaultButtonStyle.h"

#include "Theme/Theme.h"

namespace bx {

namespace {
QColor rgb(int r, int g, int b) { return QColor(r, g, b); }
QColor whiteAt(qreal a) {
  QColor c(Qt::white);
  c.setAlphaF(float(a));
  return c;
}
} // namespace

QFont VaultButtonStyle::font() const {
  return Theme::Font::weighted(compact ? Theme::Font::callout() : Theme::Font::body(), QFont::Medium);
}

VaultButtonStyle::Look VaultButtonStyle::look(const State& s) const {
  Look l;
  const bool dark = s.scheme == ColorScheme::Dark;
  const bool hovered = s.hover && s.enabled;
  switch (kind) {
  case Kind::Primary:
    l.fillTop = dark ? rgb(43, 82, 150) : Theme::navy.resolve(s.scheme);
    l.fillBottom = dark ? rgb(35, 135, 123) : rgb(36, 82, 122);
    l.text = Qt::white;
    l.border = whiteAt(0.12);
    l.hoverTint = hovered ? 0.08 : 0;
    l.hoverBackground = Qt::transparent;
    break;
  case Kind::Secondary:
    l.fillTop = l.fillBottom = Theme::panel.resolve(s.scheme);
    l.text = Theme::ink.resolve(s.scheme);
    l.border = Theme::ruleStrong.resolve(s.scheme);
    l.hoverTint = 0;
    l.hoverBackground = hovered ? Theme::hover.resolve(s.scheme) : QColor(Qt::transparent);
    l.hoverBackgroundOverFill = true;
    break;
  case Kind::Destructive:
    l.fillTop = l.fillBottom = Theme::danger.resolve(s.scheme);
    l.text = Qt::white;
    l.border = whiteAt(0.12);
    l.hoverTint = hovered ? 0.08 : 0;
    l.hoverBackground = Qt::transparent;
    break;
  case Kind::Quiet:
    l.fillTop = l.fillBottom = Qt::transparent;
    l.text = Theme::ink2.resolve(s.scheme);
    l.border = Qt::transparent;
    l.hoverTint = hovered ? 0.08 : 0;
    l.hoverBackground = hovered ? Theme::hover.resolve(s.scheme) : QColor(Qt::transparent);
    break;
  }
  const bool pressed = s.pressed && s.enabled;
  l.opacity = !s.enabled ? 0.4 : (pressed ? 0.82 : 1.0);
  l.scale = (pressed && !s.reduceMotion) ? 0.98 : 1.0;
  return l;
}

} // namespace bx
