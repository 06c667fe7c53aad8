#pragma once

#include "Mime/MailAttachment.h"
#include "Theme/AnimatedValue.h"
#include "Store/StoreTypes.h"
#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QPainterPath>
#include <QPalette>
#include <QPointer>

#include <functional>

namespace bx {

class AppStore;
class VaultButton;
class Seal;

// Sets `roles` of `widget`'s palette to `color` and keeps them in step with
// the appearance: a palette holds resolved colours, so without this a label
// would keep the old ones until it is built again.
void followColor(QWidget* widget, const ThemeColor& color,
                 std::initializer_list<QPalette::ColorRole> roles = {QPalette::WindowText, QPalette::Text});
// Calls `apply` now and after every change of the appearance, for as long as
// `owner` lives: for what is drawn once into a pixmap.
void followAppearance(QObject* owner, std::function<void()> apply);
// A plain-text label whose text follows the appearance.
QLabel* themedLabel(const QString& text, const QFont& font, const ThemeColor& color, QWidget* parent);

// The notification "brindlebox.demo.showLinks": the demo and screenshot
// scripts post it, every open reader expands its list of deceptive links.
class DemoShowLinks : public QObject {
  Q_OBJECT
public:
  static constexpr const char* name = "brindlebox.demo.showLinks";
  static DemoShowLinks& shared();
  void post() { emit posted(); }
signals:
  void posted();
};

// The sender trust line: the seal by trust, then the recorded checks (struck
// through in red when they did not pass) or "not checked". Toggles the
// provider-checks popover.
class TrustLine : public QAbstractButton {
  Q_OBJECT
public:
  explicit TrustLine(const OpenMessage& message, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }
  // The popover while it is open.
  QWidget* popover() const { return popover_; }
  bool showAuth() const { return popover_ != nullptr; }
  void setShowAuth(bool on);

protected:
  void paintEvent(QPaintEvent*) override;

private:
  SenderTrust trust_;
  std::map<std::string, std::string> auth_;
  QPointer<QWidget> popover_;
};

// What the popover of the trust line shows, in a card with an arrow that
// points at the line: on its bottom edge while it sits above the line, on
// its top edge when there is no room above.
class AuthPopover : public QFrame {
  Q_OBJECT
public:
  static constexpr int arrowHeight = 8;
  static constexpr int arrowHalfWidth = 9;

  AuthPopover(const std::map<std::string, std::string>& authResults, QWidget* parent);

  Qt::Edge arrowEdge() const { return arrowEdge_; }
  // The arrow's tip, in the popover's coordinates.
  QPoint arrowTip() const;
  // Places the popover so that its arrow's tip sits at `tip` (global), on
  // `edge`; it stays there when the popover's size changes.
  void anchor(QPoint tip, Qt::Edge edge);

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

private:
  QPainterPath outline() const;

  void place();

  Qt::Edge arrowEdge_ = Qt::BottomEdge;
  int arrowX_ = 0;
  QPoint tip_;
};

// The file-location strip: account › folder | relative name … size, seal and
// the reveal button.
class CatalogueLabel : public ThemedWidget {
  Q_OBJECT
public:
  CatalogueLabel(AppStore* store, const OpenMessage& message, QWidget* parent = nullptr);

  Seal* seal() const { return seal_; }
  VaultButton* revealButton() const { return reveal_; }
  QString relativeNameShown() const;

protected:
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  Seal* seal_ = nullptr;
  VaultButton* reveal_ = nullptr;
  QLabel* name_ = nullptr;
};

// One attachment: its type icon, name, size and a save button. A click or
// Space previews it; the context menu offers both actions.
class AttachmentChip : public ThemedWidget {
  Q_OBJECT
public:
  // `attachment` must outlive the chip.
  AttachmentChip(const MailAttachment& attachment, std::function<void()> preview, std::function<void()> save,
                 QWidget* parent = nullptr);

  const MailAttachment& attachment() const { return *attachment_; }
  VaultButton* saveButton() const { return save_; }
  bool isHovered() const { return hover_; }
  // How far the fill is from Theme::raised (0) to Theme::hover (1).
  double hoverFill() const { return hoverFill_.value(); }
  // The icon of the attachment's type, by its extension.
  static QIcon icon(const std::string& filename);

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;

private:
  const MailAttachment* attachment_;  // owned by the reader's message
  std::function<void()> preview_;
  std::function<void()> saveAction_;
  VaultButton* save_ = nullptr;
  bool hover_ = false;
  AnimatedValue hoverFill_;
};

} // namespace bx
