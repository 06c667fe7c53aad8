#include "Shell/SheetHost.h"

#include <QDialog>
#include <QTimer>
#include <QWidget>

namespace bx {

SheetHost::SheetHost(QWidget* window, Factory factory, FlagGetter get, FlagSetter set, QObject* parent)
    : QObject(parent), window_(window), factory_(std::move(factory)), get_(std::move(get)), set_(std::move(set)) {}

SheetHost::~SheetHost() {
  if (current_) {
    // Going with the window: no flag is touched on the way out.
    current_->disconnect(this);
    delete current_.data();
  }
}

std::optional<SheetHost::Sheet> SheetHost::currentKind() const {
  if (!current_) return std::nullopt;
  return kind_;
}

void SheetHost::flagChanged(Sheet kind, bool value) {
  if (value) {
    if (!current_) open(kind);
    // Else it waits for the shown sheet to close.
    return;
  }
  if (current_ && kind_ == kind && !closing_) {
    // Cleared from outside (the store, the screenshot script): the sheet
    // goes without running any of its own exits.
    current_->done(QDialog::Rejected);
  }
}

void SheetHost::open(Sheet kind) {
  if (!window_ || !factory_) return;
  QDialog* sheet = factory_(kind, window_);
  if (!sheet) return;
  current_ = sheet;
  kind_ = kind;
  if (sheet->parentWidget() != window_) sheet->setParent(window_, sheet->windowFlags() | Qt::Dialog);
  sheet->setWindowModality(Qt::WindowModal);
  connect(sheet, &QDialog::finished, this, [this, sheet, kind] { closed(sheet, kind); });
  // A sheet destroyed without finishing closes too.
  connect(sheet, &QObject::destroyed, this, [this, kind] {
    if (current_ == nullptr && kind_ == kind && !closing_) finish(kind);
  });
  sheet->show();
  emit sheetOpened(kind, sheet);
}

void SheetHost::closed(QDialog* sheet, Sheet kind) {
  if (current_ != sheet || closing_) return;
  current_ = nullptr;
  sheet->disconnect(this);
  if (sheet->isVisible()) sheet->hide();
  sheet->deleteLater();
  finish(kind);
}

void SheetHost::finish(Sheet kind) {
  closing_ = true;
  if (get_ && get_(kind) && set_) set_(kind, false);
  closing_ = false;
  emit sheetClosed(kind);
  openPending();
}

void SheetHost::openPending() {
  if (current_ || !get_) return;
  for (Sheet kind : {Sheet::AddAccount, Sheet::FreeUp, Sheet::BackupActivity, Sheet::Welcome}) {
    if (get_(kind)) {
      open(kind);
      return;
    }
  }
}

} // namespace bx
