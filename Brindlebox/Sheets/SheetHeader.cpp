#include "Sheets/SheetHeader.h"

#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/SmallCaps.h"
#include "Views/TextBlock.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace bx {

SheetHeader::SheetHeader(const QString& eyebrow, const QString& title,
                         const std::optional<QString>& subtitle, QWidget* trailing, QWidget* parent)
    : ThemedWidget(parent) {
  row_ = new QHBoxLayout(this);
  row_->setContentsMargins(24, 20, 24, 16);
  row_->setSpacing(12);

  text_ = new QVBoxLayout;
  text_->setContentsMargins(0, 0, 0, 0);
  text_->setSpacing(3);
  eyebrow_ = new SmallCaps(eyebrow, Theme::ink3, this);
  text_->addWidget(eyebrow_, 0, Qt::AlignLeft);
  title_ = new TextBlock(title, this);
  title_->setTextFont(Theme::Font::title());
  title_->setColor(Theme::ink);
  text_->addWidget(title_);
  // Not aligned: an aligned layout item is sized by its size hint, which
  // would cut a wrapped subtitle instead of growing the header.
  row_->addLayout(text_, 1);

  // Takes what a taller trailing view leaves below the text, without making
  // the header ask for more room than its content needs.
  text_->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Preferred));
  setSubtitle(subtitle);
  setTrailing(trailing);
  hairline(this, Qt::BottomEdge, Theme::rule);
}

QString SheetHeader::eyebrow() const { return eyebrow_->text(); }
QString SheetHeader::title() const { return title_->text(); }

std::optional<QString> SheetHeader::subtitle() const {
  if (!subtitle_) return std::nullopt;
  return subtitle_->text();
}

void SheetHeader::setTitle(const QString& title) { title_->setText(title); }

void SheetHeader::setSubtitle(const std::optional<QString>& subtitle) {
  if (!subtitle) {
    delete subtitle_;
    subtitle_ = nullptr;
    return;
  }
  if (!subtitle_) {
    subtitle_ = new TextBlock(QString(), this);
    subtitle_->setTextFont(Theme::Font::callout());
    subtitle_->setColor(Theme::ink2);
    // Wraps instead of being cut: the block takes the height its width needs.
    subtitle_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    // Before the closing stretch, which keeps the text at the top.
    text_->insertWidget(text_->count() - 1, subtitle_);
  }
  subtitle_->setText(*subtitle);
}

void SheetHeader::setTrailing(QWidget* trailing) {
  if (trailing_ == trailing) return;
  delete trailing_;
  trailing_ = trailing;
  if (trailing) row_->addWidget(trailing, 0, Qt::AlignTop | Qt::AlignRight);
}

} // namespace bx
