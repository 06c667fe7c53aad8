#pragma once
// The sheet that frees space on a mail server in four stages: choose what to
// release, verify every copy, release (after a typed confirmation), done.
// The stage and everything the work produces come from the store's free-up
// state; the sheet keeps only the user's choices.
//
// A window-modal dialog shown with show(). The buttons are not push buttons,
// so the sheet routes Return and Escape itself: Return presses the stage's
// forward button (the release button has no key), Escape its leading button,
// and closes the sheet at the done stage. While a release runs the sheet
// stays open until the release has ended.
#include "Sheets/SheetStore.h"
#include "Util/UUID.h"

#include <QDialog>
#include <QPointer>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QStackedWidget;
class QLabel;
class QVBoxLayout;

namespace bx {

class NoteSlot;
class LeaderRow;
class ProgressLine;
class SheetHeader;
class SmallSpinner;
class StepRail;
class SymbolView;
class TextBlock;
class VaultButton;
class VaultCard;
class VerifyLedger;

class FreeUpSpaceSheet : public QDialog {
  Q_OBJECT
public:
  // The preset a new sheet starts with (the demo recording sets 5).
  static int initialYears;

  explicit FreeUpSpaceSheet(SheetStore* store, QWidget* parent = nullptr);
  ~FreeUpSpaceSheet() override;

  // The effective account: the picked one, else the first account.
  std::optional<MailAccount> account() const;
  int stageIndex() const;
  QString title() const;
  QString subtitle() const;
  QString phrase() const;
  bool matches() const;

  // View state.
  std::optional<UUID> accountID() const { return accountID_; }
  const std::string& mailbox() const { return mailbox_; }
  Date before() const { return before_; }
  int preset() const { return preset_; }
  QString confirmation() const { return confirmation_; }
  bool showKept() const { return showKept_; }
  // The account the current plan was made for, once a check was started here.
  std::optional<UUID> planAccountID() const { return planAccountID_; }
  // For the demo and screenshot scripts: fill the field as if typed.
  void setConfirmation(const QString& text);
  bool followsDemoTyping() const { return followsTyping_; }

  // The pieces, for the harnesses and tests.
  SheetHeader* header() const { return header_; }
  StepRail* stepRail() const { return rail_; }
  QComboBox* accountPicker() const { return accountPicker_; }
  QComboBox* folderPicker() const { return folderPicker_; }
  QDateEdit* datePicker() const { return datePicker_; }
  VaultButton* presetButton(int years) const;
  QLineEdit* confirmationField() const { return confirmField_; }
  VerifyLedger* verifyLedger() const { return ledger_; }
  // The footer's buttons now shown (nullptr where the stage has none).
  VaultButton* leadingButton() const;
  VaultButton* trailingButton() const;
  // Notes now shown (nullptr when hidden).
  NoteSlot* gmailNote() const { return gmailNote_; }
  NoteSlot* chooseErrorNote() const { return chooseError_; }
  NoteSlot* verifyErrorNote() const { return verifyError_; }
  NoteSlot* unsafeNote() const { return unsafeNote_; }
  NoteSlot* releaseErrorNote() const { return releaseError_; }
  NoteSlot* accountGoneNote() const { return accountGone_; }
  QWidget* waitingLine() const { return waiting_; }
  QString waitingText() const;
  QString tallyText() const;  // "12 of 40 checked · 10 verified · 2 kept"
  QWidget* confirmBox() const { return confirmBox_; }
  QWidget* releaseProgress() const { return progressBox_; }
  QString releaseProgressText() const;
  LeaderRow* summaryRow(int i) const;
  QString doneText() const;
  QString doneKeptText() const;  // empty when hidden
  QString doneLeftoversText() const;  // empty when hidden
  QWidget* checkMark() const;

protected:
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

public slots:
  void done(int r) override;
  void reject() override;

private:
  QWidget* buildChoose();
  QWidget* buildVerify();
  QWidget* buildRelease();
  QWidget* buildDone();
  void buildFooter(QVBoxLayout* outer);

  void refresh();
  void refreshChoose(const FreeUpState& s);
  void refreshVerify(const FreeUpState& s);
  void refreshRelease(const FreeUpState& s);
  void refreshDone(const FreeUpState& s);
  void refreshFooter(const FreeUpState& s);
  void fillPickers();

  void pickAccount(int index);
  void pickPreset(int years);
  void verifyCopies();
  void pressLeading();
  void pressRelease();
  std::optional<MailAccount> planAccount() const;
  bool planAccountGone() const;

  SheetStore* store_;
  // Copies DemoTyping; its release button never reaches the engine.
  bool followsTyping_ = false;
  std::optional<UUID> accountID_;
  std::string mailbox_;
  Date before_;
  int preset_;
  QString confirmation_;
  bool showKept_ = true;
  std::optional<UUID> planAccountID_;
  bool closing_ = false;
  bool fillingPickers_ = false;

  SheetHeader* header_ = nullptr;
  StepRail* rail_ = nullptr;
  QStackedWidget* stages_ = nullptr;

  // choose
  QComboBox* accountPicker_ = nullptr;
  QComboBox* folderPicker_ = nullptr;
  QDateEdit* datePicker_ = nullptr;
  QList<QPair<int, VaultButton*>> presets_;
  NoteSlot* gmailNote_ = nullptr;
  NoteSlot* chooseError_ = nullptr;

  // verify
  QWidget* waiting_ = nullptr;
  TextBlock* waitingText_ = nullptr;
  NoteSlot* verifyError_ = nullptr;
  QWidget* verification_ = nullptr;
  TextBlock* tallyChecked_ = nullptr;
  TextBlock* tallyOf_ = nullptr;
  TextBlock* tallyVerified_ = nullptr;
  TextBlock* tallyKept_ = nullptr;
  SymbolView* tallyVerifiedIcon_ = nullptr;
  SymbolView* tallyKeptIcon_ = nullptr;
  ProgressLine* tallyLine_ = nullptr;
  TextBlock* nothingText_ = nullptr;
  QVBoxLayout* ledgerSlot_ = nullptr;
  VerifyLedger* ledger_ = nullptr;
  NoteSlot* unsafeNote_ = nullptr;

  // release
  VaultCard* summary_ = nullptr;
  QList<LeaderRow*> summaryRows_;
  QWidget* confirmBox_ = nullptr;
  QLabel* confirmText_ = nullptr;
  QLineEdit* confirmField_ = nullptr;
  SymbolView* check_ = nullptr;
  bool checkShown_ = false;
  QWidget* progressBox_ = nullptr;
  bool progressShown_ = false;
  TextBlock* progressTitle_ = nullptr;
  TextBlock* progressCount_ = nullptr;
  ProgressLine* progressLine_ = nullptr;
  NoteSlot* releaseError_ = nullptr;
  NoteSlot* accountGone_ = nullptr;

  // done
  SymbolView* doneShield_ = nullptr;
  TextBlock* doneText_ = nullptr;
  TextBlock* doneKept_ = nullptr;
  TextBlock* doneLeftovers_ = nullptr;

  // footer
  VaultButton* cancel_ = nullptr;
  VaultButton* verifyCopies_ = nullptr;
  VaultButton* verifyLeading_ = nullptr;
  VaultButton* continue_ = nullptr;
  VaultButton* releaseLeading_ = nullptr;
  VaultButton* release_ = nullptr;
  VaultButton* done_ = nullptr;
};

}  // namespace bx
