#pragma once

#include "Async/Task.h"
#include "Engines/FriendlyError.h"
#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPServer.h"
#include "Store/ProviderPreset.h"
#include "Views/SafetyNote.h"
#include "Views/TextBlock.h"

#include <QDialog>
#include <QPointer>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace bx {

class SheetHeader;
class SheetStore;
class StepRail;
class VaultButton;

// The sheet that adds one IMAP account: pick a provider, sign in (a live
// test on a worker thread), choose the folders, save. Window-modal over the
// main window, shown with show(), deleted when it closes.
class AddAccountSheet : public QDialog {
  Q_OBJECT
public:
  enum class Step { Provider = 0, Credentials = 1, Folders = 2 };

  // Staging for the screenshot tool; unset in normal runs.
  static std::optional<Step> snapshotStartStep;
  static std::optional<ProviderPreset> snapshotPreset;
  static std::optional<QString> snapshotError;
  static std::optional<std::vector<IMAPMailbox>> snapshotMailboxes;

  // Every wait for the server in the sign-in test, in seconds.
  static double signInTimeout;

  explicit AddAccountSheet(SheetStore* store, QWidget* parent = nullptr);
  ~AddAccountSheet() override;

  static QString stepCaption(Step step);
  static QString stepSubtitle(Step step);

  // State, as the steps show it.
  Step step() const { return step_; }
  int stepIndex() const { return int(step_); }
  bool forward() const { return forward_; }
  const ProviderPreset& preset() const { return preset_; }
  QString label() const { return label_; }
  QString username() const { return username_; }
  QString password() const { return password_; }
  QString host() const { return host_; }
  QString port() const { return port_; }
  bool plaintext() const { return plaintext_; }
  bool busy() const { return busy_; }
  const std::optional<FriendlyError::Message>& error() const { return error_; }
  const std::vector<IMAPMailbox>& mailboxes() const { return mailboxes_; }
  const std::set<std::string>& chosen() const { return chosen_; }

  // Operations of the wizard.
  void go(Step target);
  void choose(const ProviderPreset& preset);
  IMAPServer server() const;
  void connectAccount();
  void save();
  void setChosen(const std::string& name, bool on);

  // The controls, for tests and the screenshot tool.
  VaultButton* backButton() const { return back_; }
  VaultButton* cancelButton() const { return cancel_; }
  VaultButton* forwardButton() const { return forward_button_; }
  QWidget* signingIndicator() const { return indicator_; }
  QLineEdit* labelField() const { return labelEdit_; }
  QLineEdit* usernameField() const { return userEdit_; }
  QLineEdit* passwordField() const { return passwordEdit_; }
  QLineEdit* hostField() const { return hostEdit_; }
  QLineEdit* portField() const { return portEdit_; }
  QCheckBox* plaintextToggle() const { return plaintextBox_; }
  SafetyNote* errorNote() const { return errorNote_; }
  QWidget* stepView() const { return page_; }
  SheetHeader* header() const { return header_; }
  StepRail* stepRail() const { return rail_; }
  // The folder step's checkboxes, in list order.
  QList<QCheckBox*> folderToggles() const;
  TextBlock* folderCountLine() const { return countLine_; }

signals:
  // A sign-in test has ended (used by tests to wait).
  void signInFinished();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

private:
  struct SignInRun;

  // Shows why when an account already signs in as this user on this
  // server, on the credentials step; returns whether it did.
  bool refuseSameLogin(const IMAPServer& server, const std::string& user);

  orrery::Task<void> signIn(int run, IMAPServer server, std::string user, std::string password,
                            std::stop_token stop);
  void stopSignIn();
  void capturedFieldEdited();
  void stage();

  void showStep();
  QWidget* buildProviderGrid();
  QWidget* buildCredentials();
  QWidget* buildFolderPicker();
  void refreshFooter();
  void refreshCredentials();
  void refreshFolderCount();

  SheetStore* store_;
  Step step_ = Step::Provider;
  ProviderPreset preset_;
  QString label_, username_, password_, host_, port_ = QStringLiteral("993");
  bool plaintext_ = false;
  bool busy_ = false;
  std::optional<FriendlyError::Message> error_;
  std::vector<IMAPMailbox> mailboxes_;
  std::set<std::string> chosen_;
  bool forward_ = true;

  int run_ = 0;
  std::shared_ptr<std::stop_source> stop_;
  orrery::Task<void> task_;
  bool staged_ = false;

  SheetHeader* header_ = nullptr;
  StepRail* rail_ = nullptr;
  QWidget* area_ = nullptr;
  QPointer<QWidget> page_;
  QList<QPointer<QWidget>> leaving_;
  VaultButton* back_ = nullptr;
  VaultButton* cancel_ = nullptr;
  VaultButton* forward_button_ = nullptr;
  QWidget* indicator_ = nullptr;
  TextBlock* indicatorText_ = nullptr;

  QPointer<QLineEdit> labelEdit_, userEdit_, passwordEdit_, hostEdit_, portEdit_;
  QPointer<QCheckBox> plaintextBox_;
  QPointer<SafetyNote> errorNote_;
  QPointer<QVBoxLayout> formColumn_;
  QPointer<TextBlock> countLine_;
  QPointer<QWidget> folderList_;
};

} // namespace bx
