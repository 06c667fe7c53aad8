#include "Views/SafetyNote.h"

#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"

#include <QBoxLayout>
#include <QPainter>

namespace bx {

namespace {

constexpr qreal kRadius = 8;

// One bullet line: a 4 px dot in the accent at 70 % whose bottom sits 1 px
// above the text's first baseline, 6 px before the text.
class BulletRow : public ThemedWidget {
public:
  BulletRow(const QString& line, const ThemeColor& accent, QWidget* parent)
      : ThemedWidget(parent), accent_(accent) {
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(4 + 6, 0, 0, 0);
    l->setSpacing(0);
    text = new TextBlock(line, this);
    text->setTextFont(Theme::Font::callout());
    text->setColor(Theme::ink2);
    text->setMaxLines(2);
    l->addWidget(text);
    QSizePolicy sp(QSizePolicy::Preferred, QSizePolicy::Preferred);
    sp.setHeightForWidth(true);
    setSizePolicy(sp);
  }
  TextBlock* text;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(accent_.opacity(0.7).resolved());
    const qreal bottom = text->geometry().top() + text->firstBaseline() - 1;
    p.drawEllipse(QRectF(0, bottom - 4, 4, 4));
  }

private:
  ThemeColor accent_;
};

} // namespace

ThemeColor SafetyNote::accent(Tone tone) {
  switch (tone) {
  case Tone::Shield: return Theme::seal;
  case Tone::Caution: return Theme::caution;
  case Tone::Danger: return Theme::danger;
  }
  return Theme::seal;
}

SafetyNote::SafetyNote(Tone tone, const QString& symbol, const QString& title, std::optional<QString> text,
                       const QStringList& lines, std::optional<Action> action, std::optional<QString> anchor,
                       QWidget* parent)
    : ThemedWidget(parent), tone_(tone) {
  const ThemeColor accentColor = accent(tone);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 8, 8, 8);
  row->setSpacing(10);

  auto* symbolColumn = new QVBoxLayout;
  symbolColumn->setContentsMargins(0, 1, 0, 0);
  auto* icon = new SymbolView(symbol, 13, accentColor, this);
  icon->setBoxWidth(18);
  symbolColumn->addWidget(icon);
  symbolColumn->addStretch(1);
  row->addLayout(symbolColumn);

  auto* column = new QVBoxLayout;
  column->setSpacing(2);
  column->setContentsMargins(0, 0, 0, 0);
  title_ = new TextBlock(title, this);
  title_->setTextFont(Theme::Font::weighted(Theme::Font::callout(), QFont::DemiBold));
  title_->setColor(Theme::ink);
  column->addWidget(title_);
  if (text) {
    text_ = new TextBlock(*text, this);
    text_->setTextFont(Theme::Font::callout());
    text_->setColor(Theme::ink2);
    text_->setMaxLines(4);
    column->addWidget(text_);
  }
  for (const QString& line : lines) {
    auto* bullet = new BulletRow(line, accentColor, this);
    lines_ << bullet->text;
    column->addWidget(bullet);
  }
  column->addStretch(1);
  row->addLayout(column, 1);
  row->addSpacing(8);

  if (action) {
    button_ = new VaultButton(action->title, VaultButtonStyle::Kind::Quiet, true, this);
    button_->setProperty("demoAnchor", anchor.value_or(QStringLiteral("noteAction")));
    auto handler = action->handler;
    connect(button_, &QAbstractButton::clicked, this, [handler] {
      if (handler) handler();
    });
    auto* buttonColumn = new QVBoxLayout;
    buttonColumn->addWidget(button_);
    buttonColumn->addStretch(1);
    row->addLayout(buttonColumn);
  }
  QSizePolicy sp(QSizePolicy::Preferred, QSizePolicy::Preferred);
  sp.setHeightForWidth(true);
  setSizePolicy(sp);
}

bool SafetyNote::hasHeightForWidth() const { return layout() && layout()->hasHeightForWidth(); }
int SafetyNote::heightForWidth(int width) const { return layout() ? layout()->totalHeightForWidth(width) : -1; }

void SafetyNote::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const ThemeColor a = accent(tone_);
  const QRectF r(rect());
  p.fillPath(Shapes::roundedRect(r, kRadius), a.opacity(0.06).resolved());
  // The edge bar keeps the note's rounded left corners: the note's shape
  // clips a 3 px strip.
  p.setClipPath(Shapes::roundedRect(r, kRadius));
  p.fillRect(QRectF(0, 0, 3, height()), a.opacity(0.7).resolved());
}

} // namespace bx
