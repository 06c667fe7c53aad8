#include "Views/StatusLine.h"

#include "Views/TextBlock.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QtMath>

namespace bx {

namespace {
TextBlock* block(const QString& text, const QFont& font, const ThemeColor& color, int maxLines, QWidget* parent) {
  auto* t = new TextBlock(text, parent);
  t->setTextFont(font);
  t->setColor(color);
  if (maxLines > 0) {
    t->setMaxLines(maxLines);
    // A one-line text takes the room it is given and cuts there, rather
    // than pushing the row wider than its column.
    t->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  return t;
}
} // namespace

StatusLine::StatusLine(QWidget* lead, const Style& style, const QString& title, const QString& detail,
                       QWidget* parent)
    : ThemedWidget(parent), lead_(lead), style_(style) {
  row_ = new QHBoxLayout(this);
  row_->setContentsMargins(style.margins);
  row_->setSpacing(style.spacing);
  lead_->setParent(this);
  row_->addWidget(lead_, 0, style.leadAlignment);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(style.lineSpacing);
  title_ = block(title, style.titleFont, style.titleColor, style.maxLines, this);
  detail_ = block(detail, style.detailFont, style.detailColor, style.maxLines, this);
  texts->addWidget(title_);
  texts->addWidget(detail_);
  row_->addLayout(texts, 1);
}

int StatusLine::idealWidth() const {
  const qreal texts = std::max(TextBlock::idealWidth(title_->text(), title_->textFont()),
                               TextBlock::idealWidth(detail_->text(), detail_->textFont()));
  return style_.margins.left() + lead_->sizeHint().width() + style_.spacing + qCeil(texts) + style_.margins.right();
}

} // namespace bx
