#pragma once

#include "Shell/Seams.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QDialog;
class QWidget;

namespace bx {

// Presents the main window's sheets from the store's four flags: a flag
// turning true opens its sheet (a window-modal QDialog, shown with show());
// closing the sheet in any way sets its flag back to false, and clearing a
// flag closes its sheet. One sheet at a time: a flag raised while another
// sheet is up opens its sheet once that one closes, if it is still raised
// then (the flags are taken in the order AddAccount, FreeUp,
// BackupActivity, Welcome).
class SheetHost : public QObject {
  Q_OBJECT
public:
  using Sheet = Seams::Sheet;
  using Factory = std::function<QDialog*(Sheet kind, QWidget* parent)>;
  using FlagGetter = std::function<bool(Sheet kind)>;
  using FlagSetter = std::function<void(Sheet kind, bool value)>;

  SheetHost(QWidget* window, Factory factory, FlagGetter get, FlagSetter set, QObject* parent = nullptr);
  ~SheetHost() override;

  // The store reports a flag's new value (every assignment, equal or not).
  void flagChanged(Sheet kind, bool value);

  QDialog* current() const { return current_; }
  std::optional<Sheet> currentKind() const;

signals:
  void sheetOpened(bx::Seams::Sheet kind, QDialog* sheet);
  void sheetClosed(bx::Seams::Sheet kind);

private:
  void open(Sheet kind);
  void closed(QDialog* sheet, Sheet kind);
  void finish(Sheet kind);
  void openPending();

  QPointer<QWidget> window_;
  Factory factory_;
  FlagGetter get_;
  FlagSetter set_;
  QPointer<QDialog> current_;
  Sheet kind_ = Sheet::AddAccount;
  bool closing_ = false;
};

} // namespace bx
