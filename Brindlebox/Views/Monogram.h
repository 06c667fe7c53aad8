#pragma once

#include "Views/ThemedWidget.h"

namespace bx {

// The initials avatar of a sender: a rounded square of side `size` (corner
// size × 0.26) in Theme::hover with a 1 px Theme::rule inner border, the
// initials centred in the monospaced system font at size × 0.36 semibold,
// Theme::ink2.
class Monogram : public ThemedWidget {
  Q_OBJECT
public:
  Monogram(const QString& name, const QString& email, qreal size, QWidget* parent = nullptr);

  // Up to two initials: of the name, or of the address when the name is
  // empty; words split at " ", ".", "@" and "_" only; each word's first
  // character upper-cased; "?" when nothing is left.
  static QString initials(const QString& name, const QString& email);
  QString initials() const { return initials(name_, email_); }

  void setPerson(const QString& name, const QString& email);
  qreal side() const { return size_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QString name_;
  QString email_;
  qreal size_;
};

} // namespace bx
