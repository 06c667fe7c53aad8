#include "Sheets/SheetPalette.h"

#include "Platform/Appearance.h"
#include "Theme/Theme.h"

#include <QPalette>
#include <QWidget>

namespace bx {

namespace {

void apply(QWidget* w) {
  QPalette p = w->palette();
  const QColor ink = Theme::ink.resolved();
  const QColor ink3 = Theme::ink3.resolved();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(group, QPalette::Window, Theme::panel.resolved());
    p.setColor(group, QPalette::WindowText, ink);
    p.setColor(group, QPalette::Base, Theme::raised.resolved());
    p.setColor(group, QPalette::AlternateBase, Theme::paper.resolved());
    p.setColor(group, QPalette::Text, ink);
    p.setColor(group, QPalette::Button, Theme::raised.resolved());
    p.setColor(group, QPalette::ButtonText, ink);
    p.setColor(group, QPalette::PlaceholderText, ink3);
    p.setColor(group, QPalette::Highlight, Theme::focus.resolved());
    p.setColor(group, QPalette::HighlightedText, Theme::white.resolved());
    p.setColor(group, QPalette::ToolTipBase, Theme::raised.resolved());
    p.setColor(group, QPalette::ToolTipText, ink);
  }
  p.setColor(QPalette::Disabled, QPalette::WindowText, ink3);
  p.setColor(QPalette::Disabled, QPalette::Text, ink3);
  p.setColor(QPalette::Disabled, QPalette::ButtonText, ink3);
  p.setColor(QPalette::Disabled, QPalette::Window, Theme::panel.resolved());
  p.setColor(QPalette::Disabled, QPalette::Base, Theme::paper.resolved());
  p.setColor(QPalette::Disabled, QPalette::Button, Theme::paper.resolved());
  w->setPalette(p);
}

} // namespace

void followThemePalette(QWidget* window) {
  window->setAutoFillBackground(true);
  apply(window);
  QObject::connect(&Appearance::shared(), &Appearance::changed, window, [window] { apply(window); });
}

} // namespace bx
