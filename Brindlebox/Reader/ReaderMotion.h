#pragma once

#include "Theme/Motion.h"

#include <QPixmap>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>

class QBoxLayout;

namespace bx {

// How a piece of the reader comes and goes: `offset` is how far below its
// place it starts (0 = fades only), `animation` what moves it. Read when the
// change happens: under Reduce Motion every one of them is a fade.
struct ReaderTransition {
  int offset = 0;
  Animation animation = Motion::fade;

  // The reader replacing what the pane showed: from 6 below, with a spring
  // of response 0.22 and no bounce.
  static ReaderTransition reader();
  // The empty state: opacity only, on the same spring.
  static ReaderTransition emptyState();
  // The list of deceptive links: from 8 below, with Motion::spring.
  static ReaderTransition linkList();
};

// Plays one change of a pane in place: the leaving content (a snapshot)
// fades out while the arriving content fades in and, through the top margin
// of the layout that holds it, slides up from `offset` to its place. Covers
// the pane without taking its clicks; removes itself at the end.
class PaneTransition : public QWidget {
  Q_OBJECT
public:
  // Nothing plays (and nothing is made) while animations are instant or the
  // pane is hidden; returns the transition otherwise.
  static PaneTransition* play(QWidget* pane, QBoxLayout* layout, const QPixmap& leaving, const ReaderTransition& how);

  // How far it is: 0 at the start, 1 at the end.
  double progress() const { return progress_; }
  const ReaderTransition& transition() const { return how_; }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  PaneTransition(QWidget* pane, QBoxLayout* layout, const QPixmap& leaving, const ReaderTransition& how);
  void step(double progress);

  QPointer<QBoxLayout> layout_;
  QPixmap leaving_;
  ReaderTransition how_;
  QVariantAnimation clock_;
  int baseTop_ = 0;
  double progress_ = 0;
};

// Fades `widget` in (with `how.offset` of rise) or out, then runs `done`.
// Used for small pieces without a web view (the link list, the images
// button); `done` runs at once when animations are instant.
void fadePiece(QWidget* widget, bool in, const ReaderTransition& how, std::function<void()> done = {});

} // namespace bx
