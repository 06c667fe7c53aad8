#include "Reader/AttachmentList.h"

#include "Platform/PlatformText.h"
#include "Reader/ReaderPieces.h"
#include "Reader/ReaderText.h"
#include "Store/ByteCountText.h"
#include "Theme/Theme.h"
#include "Views/VaultButton.h"

#include <QBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStyledItemDelegate>

namespace bx {

namespace {

// Icon, name cut in the middle, and the size at the right edge.
class AttachmentRowDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return {200, 30}; }

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    p->save();
    const QRect r = option.rect;
    if (option.state & QStyle::State_Selected) p->fillRect(r, Theme::selection.resolved());
    const QString name = index.data(Qt::DisplayRole).toString();
    const int dot = name.lastIndexOf('.');
    const QString ext = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
    auto it = icons_.find(ext);
    if (it == icons_.end()) it = icons_.insert(ext, AttachmentChip::icon(name.toStdString()).pixmap(18, 18));
    p->drawPixmap(r.left() + 10, r.top() + (r.height() - 18) / 2, 18, 18, *it);
    const QString size = index.data(AttachmentListModel::SizeTextRole).toString();
    QFont sizeFont = Theme::Font::system(10, QFont::Normal, true);
    const int sizeWidth = QFontMetrics(sizeFont).horizontalAdvance(size);
    QRect nameRect = r.adjusted(38, 0, -(sizeWidth + 24), 0);
    QFont nameFont = Theme::Font::callout();
    p->setFont(nameFont);
    p->setPen(Theme::ink.resolved());
    p->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                QFontMetrics(nameFont).elidedText(name, Qt::ElideMiddle, nameRect.width()));
    p->setFont(sizeFont);
    p->setPen(Theme::ink3.resolved());
    p->drawText(r.adjusted(0, 0, -12, 0), Qt::AlignVCenter | Qt::AlignRight, size);
    p->restore();
  }

private:
  mutable QHash<QString, QPixmap> icons_;
};

}  // namespace

AttachmentListModel::AttachmentListModel(std::shared_ptr<const OpenMessage> message, QObject* parent)
    : QAbstractListModel(parent), message_(std::move(message)) {
  const auto& parsed = message_->parsed;
  for (size_t i = 0; i < parsed.attachments.size(); ++i)
    if (!parsed.isShownInBody(parsed.attachments[i])) rows_.push_back(int(i));
}

int AttachmentListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

const MailAttachment& AttachmentListModel::attachment(int row) const {
  return message_->parsed.attachments[size_t(rows_[size_t(row)])];
}

QVariant AttachmentListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const MailAttachment& a = attachment(index.row());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole: return QString::fromStdString(a.filename);
    case SizeTextRole: return ByteCountText::file(int64_t(a.size()));
    default: return {};
  }
}

AttachmentListDialog::AttachmentListDialog(std::shared_ptr<const OpenMessage> message, Preview preview, Save save,
                                           QWidget* parent)
    : QDialog(parent), preview_(std::move(preview)), save_(std::move(save)) {
  setObjectName(QStringLiteral("attachmentList"));
  setAttribute(Qt::WA_DeleteOnClose);
  model_ = new AttachmentListModel(std::move(message), this);
  const int count = model_->rowCount();
  setWindowTitle(QStringLiteral("Attachments"));
  resize(460, 520);

  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(16, 16, 16, 16);
  v->setSpacing(10);
  auto* title = new QLabel(ReaderText::grouped(count) + (count == 1 ? QStringLiteral(" attachment")
                                                                      : QStringLiteral(" attachments")),
                           this);
  title->setTextFormat(Qt::PlainText);
  title->setFont(Theme::Font::headline());
  v->addWidget(title);

  view_ = new QListView(this);
  view_->setModel(model_);
  view_->setUniformItemSizes(true);
  view_->setItemDelegate(new AttachmentRowDelegate(view_));
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  if (count > 0) view_->setCurrentIndex(model_->index(0));
  connect(view_, &QAbstractItemView::activated, this, [this](const QModelIndex&) { previewCurrent(); });
  v->addWidget(view_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  auto* look = new VaultButton(PlatformText::localize(QStringLiteral("Quick Look")),
                               VaultButtonStyle::Kind::Secondary, false, this);
  look->setObjectName(QStringLiteral("previewSelected"));
  connect(look, &QAbstractButton::clicked, this, &AttachmentListDialog::previewCurrent);
  auto* saveButton = new VaultButton(QStringLiteral("Save…"), VaultButtonStyle::Kind::Secondary, false, this);
  saveButton->setObjectName(QStringLiteral("saveSelected"));
  connect(saveButton, &QAbstractButton::clicked, this, &AttachmentListDialog::saveCurrent);
  auto* done = new VaultButton(QStringLiteral("Done"), VaultButtonStyle::Kind::Primary, false, this);
  connect(done, &QAbstractButton::clicked, this, &QDialog::close);
  buttons->addWidget(look);
  buttons->addWidget(saveButton);
  buttons->addStretch();
  buttons->addWidget(done);
  v->addLayout(buttons);
  view_->setFocus();
}

void AttachmentListDialog::previewCurrent() {
  const QModelIndex i = view_->currentIndex();
  if (i.isValid() && preview_) preview_(model_->attachment(i.row()), model_->message());
}

void AttachmentListDialog::saveCurrent() {
  const QModelIndex i = view_->currentIndex();
  if (!i.isValid() || !save_) return;
  // The row's message stays alive across the save dialog even when the
  // reader moves on meanwhile.
  const auto keep = model_->message();
  save_(model_->attachment(i.row()));
}

} // namespace bx
