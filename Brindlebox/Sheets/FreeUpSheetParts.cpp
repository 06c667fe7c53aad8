#include "Sheets/FreeUpSheetParts.h"

#include "Sheets/FreeUpText.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/Leader.h"
#include "Views/CountText.h"
#include "Views/TextBlock.h"

#include "Theme/Motion.h"

#include <QHBoxLayout>
#include <QVariantAnimation>
#include <QPainter>
#include <QVBoxLayout>

#include <QtMath>

#include <algorithm>
#include <cmath>

namespace bx {

TextBlock* sheetText(const QString& text, const QFont& font, const ThemeColor& color, QWidget* parent,
                     int maxLines) {
  auto* b = new TextBlock(text, parent);
  b->setTextFont(font);
  b->setColor(color);
  if (maxLines > 0) b->setMaxLines(maxLines);
  return b;
}

// ---------------------------------------------------------------- rolling count

RollingCount::RollingCount(const QFont& font, const ThemeColor& color, QWidget* parent)
    : ThemedWidget(parent), font_(font), color_(color), roll_(1) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(&roll_, &AnimatedValue::changed, this, [this] { update(); });
}

void RollingCount::setValue(std::int64_t value) {
  if (value_ == value) return;
  const bool roll = value_.has_value() && isVisible();
  up_ = !value_ || value > *value_;
  value_ = value;
  old_ = text_;
  text_ = FreeUpText::grouped(value);
  updateGeometry();
  if (roll) {
    roll_.setValue(0);
    roll_.animateTo(1, motion(Motion::snappy));
  } else {
    roll_.setValue(1);
  }
  update();
}

QSize RollingCount::sizeHint() const {
  const QFontMetricsF fm(font_);
  return QSize(qCeil(fm.horizontalAdvance(text_)), qCeil(fm.height()));
}

void RollingCount::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(font_);
  p.setPen(color_.resolved());
  const QFontMetricsF fm(font_);
  const double t = roll_.value();
  const QString& from = t >= 1 ? text_ : old_;
  // Right-aligned, so a number that keeps its length rolls only the digits
  // that changed.
  const qreal wide = std::max(fm.horizontalAdvance(from), fm.horizontalAdvance(text_));
  CountText::paintRoll(p, QPointF(width() - wide, fm.ascent()), from, text_, std::min(t, 1.0), !up_, true);
}

// ---------------------------------------------------------------- spinner

SmallSpinner::SmallSpinner(QWidget* parent) : ThemedWidget(parent) {
  setFixedSize(16, 16);
  timer_.setInterval(80);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
}

void SmallSpinner::showEvent(QShowEvent*) { timer_.start(); }
void SmallSpinner::hideEvent(QHideEvent*) { timer_.stop(); }

void SmallSpinner::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(width() / 2.0, height() / 2.0);
  const QColor base = Theme::ink2.resolved();
  for (int i = 0; i < 12; ++i) {
    QColor c = base;
    c.setAlphaF(base.alphaF() * (0.25 + 0.75 * (((i - step_ + 12) % 12) / 11.0)));
    QPen pen(c, 1.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.save();
    p.rotate(i * 30.0);
    p.drawLine(QPointF(0, -3.5), QPointF(0, -6.5));
    p.restore();
  }
}

// ---------------------------------------------------------------- leader row

LeaderRow::LeaderRow(const QString& label, const QFont& labelFont, const ThemeColor& labelColor, QWidget* parent)
    : ThemedWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  label_ = new TextBlock(label, this);
  label_->setTextFont(labelFont);
  label_->setColor(labelColor);
  label_->setMaxLines(1);
  label_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  value_ = new TextBlock({}, this);
  value_->setMaxLines(1);
  value_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  row->addWidget(label_, 0, Qt::AlignBottom);
  row->addWidget(new Leader(this), 1, Qt::AlignBottom);
  row->addWidget(value_, 0, Qt::AlignBottom);
}

void LeaderRow::setValue(const QString& value, const QFont& font, const ThemeColor& color) {
  value_->setTextFont(font);
  value_->setColor(color);
  value_->setText(value);
}

QString LeaderRow::value() const { return value_->text(); }
ThemeColor LeaderRow::valueColor() const { return value_->color(); }

// ---------------------------------------------------------------- note slot

NoteSlot::NoteSlot(QWidget* parent) : QWidget(parent) {
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  setVisible(false);
}

void NoteSlot::show(SafetyNote::Tone tone, const QString& symbol, const QString& title, const QString& text) {
  if (note_ && title == title_ && text == text_ && note_->tone() == tone) {
    setVisible(true);
    return;
  }
  clear();
  title_ = title;
  text_ = text;
  note_ = new SafetyNote(tone, symbol, title, text, {}, std::nullopt, std::nullopt, this);
  layout_->addWidget(note_);
  setVisible(true);
}

void NoteSlot::clear() {
  if (note_) {
    layout_->removeWidget(note_);
    delete note_;
    note_ = nullptr;
  }
  title_.clear();
  text_.clear();
  setVisible(false);
}

}  // namespace bx
