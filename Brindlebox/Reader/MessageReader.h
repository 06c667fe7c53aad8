#pragma once

#include "Platform/PreviewDialog.h"
#include "Store/StoreTypes.h"
#include "Views/ThemedWidget.h"

#include <QPixmap>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <optional>

class QLayout;
class QVBoxLayout;

namespace bx {

class AppStore;
class AttachmentChip;
class AttachmentListDialog;
class CatalogueLabel;
}  // namespace bx
#include "Reader/MailWebView.h"
namespace bx {
class PaneTransition;
class SafetyNote;
class TrustLine;

// One opened message: the file-location strip, the header (subject, sender,
// trust line, safety cards, attachments) and the body. Made afresh for each
// record path, so its view state (preview, links list, popover) starts over.
class MessageReader : public ThemedWidget {
  Q_OBJECT
public:
  MessageReader(AppStore* store, std::shared_ptr<const OpenMessage> message, QWidget* parent = nullptr);
  ~MessageReader() override;

  const OpenMessage& message() const { return *message_; }
  // The same path published again: the new value, view state kept.
  void setMessage(std::shared_ptr<const OpenMessage> message);

  bool showLinks() const { return showLinks_; }
  void setShowLinks(bool on);
  bool showAuth() const;
  std::optional<std::filesystem::path> quickLookURL() const { return quickLookURL_; }

  // The body's inputs as the reader computes them.
  struct BodyInputs {
    std::shared_ptr<const std::string> html;
    bool allowRemote;
    bool transparent;
    bool isHTML;
  };
  static BodyInputs bodyOf(const OpenMessage& message, bool imagesAllowed);

  CatalogueLabel* catalogueLabel() const { return label_; }
  TrustLine* trustLine() const { return trust_; }
  MailWebView* webView() const { return web_.data(); }
  QWidget* plainBody() const { return plainBody_.data(); }
  QList<SafetyNote*> notes() const;
  SafetyNote* note(const QString& objectName) const;
  QList<AttachmentChip*> chips() const;
  QWidget* linkList() const { return linkList_; }
  PreviewDialog* preview() const { return preview_; }
  // The list of all attachments while it is open.
  AttachmentListDialog* attachmentList() const;
  void showAttachmentList();
  // Chips shown in the row; the rest are in the list.
  static constexpr int kChipsShown = 6;

  // Actions of the pieces (also the chips' and cards' handlers).
  // `owner` holds the message `attachment` belongs to (the current one when
  // empty).
  void previewAttachment(const MailAttachment& attachment, std::shared_ptr<const OpenMessage> owner = nullptr);
  void saveAttachment(const MailAttachment& attachment);
  void reveal();
  void allowImages();

private:
  void build();
  void buildUnreadable();
  QString unreadableReason() const;
  QWidget* attachmentRow();
  QWidget* makePlainBody();
  void rebuildNotes();
  void refreshBody();
  bool imagesAllowed() const;

  AppStore* store_;
  std::shared_ptr<const OpenMessage> message_;
  std::optional<std::filesystem::path> quickLookURL_;
  bool showLinks_ = false;
  quint64 bodyGeneration_ = 0;

  QLayout* root_ = nullptr;
  QWidget* header_ = nullptr;
  QVBoxLayout* notesBox_ = nullptr;
  QWidget* linkList_ = nullptr;
  CatalogueLabel* label_ = nullptr;
  TrustLine* trust_ = nullptr;
  QPointer<MailWebView> web_;
  QPointer<QWidget> plainBody_;  // in place of web_ when the engine cannot start
  QPointer<PreviewDialog> preview_;
  QPointer<AttachmentListDialog> list_;
};

// The third column: the opened message, or the empty state.
class ReaderView : public ThemedWidget {
  Q_OBJECT
public:
  explicit ReaderView(AppStore* store, QWidget* parent = nullptr);

  MessageReader* reader() const { return reader_; }
  QWidget* emptyState() const { return empty_; }
  // The change of content playing now, if any.
  PaneTransition* transition() const;
  // Shows `message` (the store's open message, shared, never copied: it
  // holds the whole file's parts); the empty state for none. Follows the
  // store by itself.
  void present(std::shared_ptr<const OpenMessage> message);
  void sync();
  // Whether this platform makes OpenGL contexts (the web views' surfaces).
  static bool openGLAvailable();

protected:
  void paintEvent(QPaintEvent*) override;

private:
  void showEmpty();
  QPixmap snapshot() const;

  AppStore* store_;
  QVBoxLayout* layout_;
  MessageReader* reader_ = nullptr;
  QWidget* empty_ = nullptr;
  bool emptyOffersNewest_ = false;  // whether empty_ has "Open the Newest"
};

} // namespace bx
