#include "Views/VaultEmpty.h"

#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/TextBlock.h"

#include <QBoxLayout>
#include <QPainter>

namespace bx {

namespace {

// The symbol in its dashed frame.
class SymbolFrame : public ThemedWidget {
public:
  SymbolFrame(const QString& symbol, QWidget* parent) : ThemedWidget(parent), symbol_(symbol) {
    setFixedSize(58, 58);
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    icon_ = new SymbolView(symbol, 28, Theme::ink3, this);
    l->addWidget(icon_, 0, Qt::AlignCenter);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(Theme::ruleStrong.resolved(), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({3, 3});
    pen.setMiterLimit(10);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(Shapes::roundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14 - 0.5));
  }

private:
  QString symbol_;
  SymbolView* icon_;
};

} // namespace

VaultEmpty::VaultEmpty(const QString& symbol, const QString& title, const QString& text, QList<QWidget*> actions,
                       QWidget* parent)
    : ThemedWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(24, 24, 24, 24);
  outer->addStretch(1);

  auto* stack = new QVBoxLayout;
  stack->setSpacing(10);
  auto* frameBox = new QVBoxLayout;
  frameBox->setContentsMargins(0, 0, 0, 4);
  frameBox->addWidget(new SymbolFrame(symbol, this), 0, Qt::AlignHCenter);
  stack->addLayout(frameBox);

  title_ = new TextBlock(title, this);
  title_->setTextFont(Theme::Font::headline());
  title_->setColor(Theme::ink);
  title_->setAlignment(Qt::AlignHCenter);
  stack->addWidget(title_, 0, Qt::AlignHCenter);

  text_ = new TextBlock(text, this);
  text_->setTextFont(Theme::Font::callout());
  text_->setColor(Theme::ink2);
  text_->setAlignment(Qt::AlignHCenter);
  text_->setMaxTextWidth(280);
  text_->setMaximumWidth(280);
  stack->addWidget(text_, 0, Qt::AlignHCenter);

  // Actions sit in their own row, hidden (and taking no space) when empty.
  auto* actionsRow = new QWidget(this);
  actions_ = new QHBoxLayout(actionsRow);
  actions_->setContentsMargins(0, 4, 0, 0);
  actions_->setSpacing(8);
  actions_->addStretch(1);
  for (QWidget* w : actions) actions_->addWidget(w);
  actions_->addStretch(1);
  actionsRow->setVisible(!actions.isEmpty());
  stack->addWidget(actionsRow);

  outer->addLayout(stack);
  outer->addStretch(1);
}

void VaultEmpty::addAction(QWidget* action) {
  actions_->insertWidget(actions_->count() - 1, action);
  actions_->parentWidget()->setVisible(true);
}

} // namespace bx
