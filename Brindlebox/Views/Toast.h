#pragma once

#include "Theme/ThemeColor.h"

#include <QString>
#include <QUuid>

namespace bx {

// A short banner reporting the end of an action: its own identity (new for
// every toast, so two toasts with the same words are different toasts), the
// text, a symbol name and the tint of the symbol and accent bar.
struct Toast {
  QUuid id;
  QString text;
  QString symbol;
  ThemeColor tint;

  static Toast make(const QString& text, const QString& symbol, const ThemeColor& tint) {
    return Toast{QUuid::createUuid(), text, symbol, tint};
  }

  friend bool operator==(const Toast& a, const Toast& b) {
    return a.id == b.id && a.text == b.text && a.symbol == b.symbol && a.tint == b.tint;
  }
  friend bool operator!=(const Toast& a, const Toast& b) { return !(a == b); }
};

} // namespace bx
