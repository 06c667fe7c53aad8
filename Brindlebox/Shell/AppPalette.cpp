#include "Shell/AppPalette.h"

#include "Platform/Appearance.h"
#include "Theme/Theme.h"

#include <QApplication>

namespace bx::AppPalette {

QPalette make() {
  QPalette p;
  const QColor ink = Theme::ink.resolved();
  const QColor ink3 = Theme::ink3.resolved();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool off = g == QPalette::Disabled;
    p.setColor(g, QPalette::Window, Theme::paper.resolved());
    p.setColor(g, QPalette::WindowText, off ? ink3 : ink);
    p.setColor(g, QPalette::Base, Theme::panel.resolved());
    p.setColor(g, QPalette::AlternateBase, Theme::raised.resolved());
    p.setColor(g, QPalette::Text, off ? ink3 : ink);
    p.setColor(g, QPalette::Button, Theme::raised.resolved());
    p.setColor(g, QPalette::ButtonText, off ? ink3 : ink);
    p.setColor(g, QPalette::PlaceholderText, ink3);
    p.setColor(g, QPalette::ToolTipBase, Theme::raised.resolved());
    p.setColor(g, QPalette::ToolTipText, ink);
    p.setColor(g, QPalette::Highlight, Theme::focus.resolved());
    p.setColor(g, QPalette::HighlightedText, Theme::white.resolved());
    p.setColor(g, QPalette::Link, Theme::focus.resolved());
    p.setColor(g, QPalette::Mid, Theme::ruleStrong.resolved());
    p.setColor(g, QPalette::Midlight, Theme::rule.resolved());
  }
  return p;
}

void install() {
  QApplication::setPalette(make());
  static bool following = false;
  if (following) return;
  following = true;
  QObject::connect(&Appearance::shared(), &Appearance::changed, qApp, [] { QApplication::setPalette(make()); });
}

} // namespace bx::AppPalette
