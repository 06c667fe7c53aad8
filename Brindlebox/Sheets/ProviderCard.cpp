#include "Sheets/ProviderCard.h"

#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/TextBlock.h"
#include "Views/VaultCard.h"

#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace bx {

namespace {

// The icon tile: the symbol on paper in a rounded square with a rule border.
class IconTile : public ThemedWidget {
public:
  IconTile(const QString& symbol, const ThemeColor& tint, QWidget* parent) : ThemedWidget(parent) {
    setFixedSize(34, 34);
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    auto* s = new SymbolView(symbol, 15, tint, this);
    l->addWidget(s, 0, Qt::AlignCenter);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    VaultCard::paint(p, QRectF(rect()), 8, Theme::paper);
  }
};

} // namespace

ProviderCard::ProviderCard(const ProviderPreset& preset, bool selected, QWidget* parent)
    : QAbstractButton(parent), preset_(preset), selected_(selected) {
  // Reachable with Tab and chosen with Space or Return; focus shows as the
  // hover look, without a ring.
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  setToolTip(QStringLiteral("Set up ") + preset.name);
  setAccessibleName(preset.name);
  setAttribute(Qt::WA_Hover);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(12, 12, 12, 12);
  row->setSpacing(12);
  row->addWidget(new IconTile(preset.symbol, selected ? Theme::focus : Theme::ink2, this), 0, Qt::AlignVCenter);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  auto* name = new TextBlock(preset.name, this);
  name->setTextFont(Theme::Font::headline());
  name->setColor(Theme::ink);
  name->setMaxLines(1);
  texts->addWidget(name);
  auto* host = new TextBlock(preset.host.isEmpty() ? QStringLiteral("any IMAP server") : preset.host, this);
  host->setTextFont(Theme::Font::system(10, QFont::Normal, true));
  host->setColor(Theme::ink3);
  host->setMaxLines(1);
  texts->addWidget(host);
  auto* needs = new TextBlock(preset.needs(), this);
  needs->setTextFont(Theme::Font::caption());
  needs->setColor(Theme::ink2);
  texts->addWidget(needs);
  row->addLayout(texts, 1);

  chevron_ = new SymbolView(QStringLiteral("chevron.right"), 10, Theme::ink3, this);
  auto* fade = new QGraphicsOpacityEffect(chevron_);
  fade->setOpacity(0.4);
  chevron_->setGraphicsEffect(fade);
  row->addWidget(chevron_, 0, Qt::AlignVCenter);

  // The children only draw: the pointer belongs to the tile.
  for (auto* child : findChildren<QWidget*>()) child->setAttribute(Qt::WA_TransparentForMouseEvents);

  connect(&hoverT_, &AnimatedValue::changed, this, [this, fade](double t) {
    fade->setOpacity(0.4 + 0.6 * t);
    update();
  });
}

QSize ProviderCard::sizeHint() const { return layout()->sizeHint(); }

void ProviderCard::setHovered(bool hover) {
  if (hover_ == hover) return;
  hover_ = hover;
  hoverT_.animateTo(hover ? 1 : 0, Animation::spring(0.16, 0.85));
  update();
}

void ProviderCard::enterEvent(QEnterEvent*) {
  pointerInside_ = true;
  setHovered(true);
}
void ProviderCard::leaveEvent(QEvent*) {
  pointerInside_ = false;
  setHovered(keyboardFocus_);
}
void ProviderCard::focusInEvent(QFocusEvent* e) {
  QAbstractButton::focusInEvent(e);
  // Only focus the user moved here with the keyboard shows.
  keyboardFocus_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason;
  if (keyboardFocus_) setHovered(true);
}
void ProviderCard::focusOutEvent(QFocusEvent* e) {
  QAbstractButton::focusOutEvent(e);
  keyboardFocus_ = false;
  setHovered(pointerInside_);
}
void ProviderCard::keyPressEvent(QKeyEvent* e) {
  // Return chooses the tile the user moved to; otherwise it stays the
  // sheet's (Continue).
  if (keyboardFocus_ && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
    click();
    return;
  }
  QAbstractButton::keyPressEvent(e);
}

void ProviderCard::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect());
  const qreal t = hoverT_.value();
  // The hover fill is translucent: laid over the panel it reads as a tint.
  const QColor hover = Theme::hover.resolved();
  const QColor hovered = mixColors(Theme::panel.resolved(), QColor(hover.red(), hover.green(), hover.blue()),
                                   hover.alphaF());
  const QColor fill = mixColors(Theme::raised.resolved(), hovered, t);
  qreal width = 1;
  QColor stroke;
  if (selected_) {
    width = 1.5;
    stroke = Theme::focus.resolved();
    stroke.setAlphaF(stroke.alphaF() * 0.6);
  } else {
    stroke = (hover_ ? Theme::ruleStrong : Theme::rule).resolved();
  }
  p.fillPath(Shapes::roundedRect(r, Theme::rCard), fill);
  Shapes::strokeInside(p, r, Theme::rCard, stroke, width);
}

} // namespace bx
