#pragma once

#include "Store/StoreTypes.h"

#include <QAbstractListModel>
#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QListView;

namespace bx {

// Every file attachment of one message as rows of a model: the rows point
// into the message they share, so the list costs a few bytes per attachment
// however many there are.
class AttachmentListModel : public QAbstractListModel {
  Q_OBJECT
public:
  enum Role { SizeTextRole = Qt::UserRole + 1 };

  explicit AttachmentListModel(std::shared_ptr<const OpenMessage> message, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  const MailAttachment& attachment(int row) const;
  const std::shared_ptr<const OpenMessage>& message() const { return message_; }

private:
  std::shared_ptr<const OpenMessage> message_;
  std::vector<int> rows_;  // indices into the message's attachments
};

// The whole list behind the attachment row's "and K more": name and size per
// row; Return or a double click previews, "Save…" saves the selected file.
class AttachmentListDialog : public QDialog {
  Q_OBJECT
public:
  using Preview = std::function<void(const MailAttachment&, std::shared_ptr<const OpenMessage>)>;
  using Save = std::function<void(const MailAttachment&)>;

  AttachmentListDialog(std::shared_ptr<const OpenMessage> message, Preview preview, Save save, QWidget* parent);

  QListView* view() const { return view_; }
  AttachmentListModel* model() const { return model_; }
  void previewCurrent();
  void saveCurrent();

private:
  AttachmentListModel* model_;
  QListView* view_;
  Preview preview_;
  Save save_;
};

} // namespace bx
