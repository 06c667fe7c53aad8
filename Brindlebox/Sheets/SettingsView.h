#pragma once

#include "Util/UUID.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <set>

class QCheckBox;
class QLabel;
#include <QMessageBox>
class QPushButton;
class QTabWidget;
class QVBoxLayout;

namespace bx {

class SheetStore;
class TextBlock;
struct MailAccount;

// A middle-elided single line of plain text.
class ElidedLine : public QWidget {
  Q_OBJECT
public:
  ElidedLine(const QString& text, const QFont& font, QWidget* parent = nullptr);
  void setText(const QString& text);
  QString text() const { return text_; }
  QString shownText() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString text_;
};

// The hour stepper of automatic backup: a label and − / + buttons; reports
// only what the user changes.
class HourStepper : public QWidget {
  Q_OBJECT
public:
  explicit HourStepper(int value, QWidget* parent = nullptr);
  int value() const { return value_; }
  static QString labelText(int hours);
  QPushButton* downButton() const { return down_; }
  QPushButton* upButton() const { return up_; }
  QLabel* label() const { return label_; }

signals:
  void userChanged(int value);

private:
  void step(int delta);
  int value_;
  QLabel* label_;
  QPushButton* down_;
  QPushButton* up_;
};

// The content of the Settings window: General, Accounts, About and the
// update settings, 580 × 540.
class SettingsView : public QWidget {
  Q_OBJECT
public:
  explicit SettingsView(SheetStore* store, QWidget* parent = nullptr);

  static constexpr const char* kScheduleEnabled = "scheduleEnabled";
  static constexpr const char* kScheduleHours = "scheduleHours";

  QTabWidget* tabs() const { return tabs_; }

  // General tab.
  ElidedLine* locationLine() const { return location_; }
  TextBlock* contentsLine() const { return contents_; }
  QCheckBox* scheduleToggle() const { return scheduleToggle_; }
  HourStepper* hourStepper() const { return stepper_; }
  QPushButton* showInFilesButton() const { return showInFiles_; }
  QPushButton* moveVaultButton() const { return moveVault_; }
  // Accounts tab.
  QWidget* accountsPage() const { return accountsPage_; }
  // The confirmation shown for "Remove Account…", while it is open.
  QMessageBox* removalDialog() const { return removal_; }

  // Sets a flag of the store, then brings the main window forward.
  static void bringMainForward(const std::function<void()>& setFlag);

private:
  QWidget* buildGeneral();
  QWidget* buildAbout();
  void rebuildAccounts();
  void refreshVault();
  void moveVault();
  void confirmRemoval(const MailAccount& account);

  SheetStore* store_;
  QTabWidget* tabs_ = nullptr;
  ElidedLine* location_ = nullptr;
  TextBlock* contents_ = nullptr;
  QCheckBox* scheduleToggle_ = nullptr;
  HourStepper* stepper_ = nullptr;
  QPushButton* showInFiles_ = nullptr;
  QPushButton* moveVault_ = nullptr;
  QWidget* accountsPage_ = nullptr;
  QPointer<QWidget> accountsContent_;
  QVBoxLayout* accountsColumn_ = nullptr;
  std::set<UUID> expanded_;
  QPointer<QMessageBox> removal_;
};

} // namespace bx
