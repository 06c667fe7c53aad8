#include "Shell/AppPalette.h"

#include "Platform/Appearance.h"
#include "Theme/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace bx::AppPalette {

namespace {

// The style's check box edge is a shade of the window colour: in the dark
// it all but vanishes against its own fill. The edge is drawn again in a
// colour that stands out in both appearances.
class IndicatorStyle : public QProxyStyle {
public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element != PE_IndicatorCheckBox) return;
    if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(checkBoxEdge(), 1));
    painter->drawRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5));
    painter->restore();
  }
};

} // namespace

// At least 3:1 against the box's own fill in either appearance.
QColor checkBoxEdge() { return (Appearance::shared().isDark() ? Theme::ink3 : Theme::ink2).resolved(); }

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
  if (!dynamic_cast<IndicatorStyle*>(QApplication::style()))
    QApplication::setStyle(new IndicatorStyle(QApplication::style()->name()));
  QApplication::setPalette(make());
  static bool following = false;
  if (following) return;
  following = true;
  QObject::connect(&Appearance::shared(), &Appearance::changed, qApp, [] { QApplication::setPalette(make()); });
}

} // namespace bx::AppPalette
