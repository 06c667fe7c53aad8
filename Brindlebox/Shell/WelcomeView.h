#pragma once

#include "Theme/AnimatedValue.h"
#include "Views/ThemedWidget.h"

#include <optional>

class QGraphicsOpacityEffect;
class QScrollArea;
class QShortcut;

namespace bx {

class EmptySpineIllustration;
class ImportStatusLine;
class VaultButton;

// The page shown while the vault is empty: the empty spine strip on the
// left; on the right, scrolling when the window is short and centred
// vertically when it is tall, the eyebrow, headline and blurb, the three
// promises, the two ways to fill the vault, the status of an import and a
// hint on exporting a mailbox. Fades in (and rises 10 px unless Reduce
// Motion is on) when it is first shown. Return and Enter press "Add a Mail
// Account" while the page's window is the active one.
//
// The page changes nothing itself: its buttons report through signals and
// the owner feeds it the import status.
class WelcomeView : public ThemedWidget {
  Q_OBJECT
public:
  explicit WelcomeView(QWidget* parent = nullptr);

  // The store's import status; none hides the line.
  void setImportMessage(const std::optional<QString>& message);
  std::optional<QString> importMessage() const { return importMessage_; }

  VaultButton* addAccountButton() const { return addAccount_; }
  VaultButton* importButton() const { return import_; }
  EmptySpineIllustration* spine() const { return spine_; }
  QScrollArea* scrollArea() const { return scroll_; }
  ImportStatusLine* importStatus() const { return status_; }
  // Whether the appear animation has been started (it runs once).
  bool appeared() const { return appeared_; }
  // 0 while hidden, 1 once faded in.
  qreal appearProgress() const { return appear_.value(); }

  // The hint under the buttons as shown here.
  static QString hintText();

signals:
  void addAccountRequested();
  void importRequested();

protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;

private:
  void applyAppear();

  EmptySpineIllustration* spine_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QWidget* content_ = nullptr;
  VaultButton* addAccount_ = nullptr;
  VaultButton* import_ = nullptr;
  ImportStatusLine* status_ = nullptr;
  QGraphicsOpacityEffect* spineFade_ = nullptr;
  QGraphicsOpacityEffect* contentFade_ = nullptr;
  std::optional<QString> importMessage_;
  AnimatedValue appear_{0};
  bool appeared_ = false;
  bool rise_ = true;
};

// The import status under the buttons: the shield symbol and the message in
// the seal colour. It enters and leaves fading, sliding 8 px from below
// unless Reduce Motion is on at that moment.
class ImportStatusLine : public ThemedWidget {
  Q_OBJECT
public:
  explicit ImportStatusLine(QWidget* parent = nullptr);

  void setMessage(const std::optional<QString>& message);
  QString text() const { return text_; }
  // 0 when gone, 1 when fully in.
  qreal presence() const { return presence_.value(); }
  bool slides() const { return slides_; }

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString text_;
  AnimatedValue presence_{0};
  bool slides_ = true;
};

} // namespace bx
