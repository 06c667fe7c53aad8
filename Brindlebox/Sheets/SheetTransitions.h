#pragma once
// How the sheets' views come and go: fading, with an offset from below or a
// scale about the centre, played on one of the named animations. Under
// Reduce Motion a transition is the fade alone; while animations are
// instant (tests, screenshots) the view simply appears or goes.
#include "Theme/Motion.h"

#include <QGraphicsEffect>

class QWidget;

namespace bx {

struct Transition {
  double dy = 0;     // vertical offset at the hidden end, px; positive is below
  double scale = 1;  // scale at the hidden end, about the centre

  static Transition opacity() { return {}; }
  static Transition fromBelow(double dy) { return {dy, 1}; }
  static Transition scaled(double scale) { return {0, scale}; }
  // Opacity alone while Reduce Motion is on (read now).
  Transition unlessReduced() const;
};

// Draws its widget part of the way through a transition: 0 at the hidden
// end, 1 as laid out; a spring may pass 1 on its way.
class TransitionEffect : public QGraphicsEffect {
  Q_OBJECT
public:
  explicit TransitionEffect(const Transition& transition, QObject* parent = nullptr);
  void setShown(double shown);
  double shown() const { return shown_; }
  const Transition& transition() const { return transition_; }
  QRectF boundingRectFor(const QRectF& rect) const override;

protected:
  void draw(QPainter* painter) override;

private:
  Transition transition_;
  double shown_ = 1;
};

// Shows `w` with `transition` on `animation`. A transition started on the
// same widget takes over from where a running one has got to.
void transitionIn(QWidget* w, const Transition& transition, const Animation& animation);
// Plays `transition` backwards on `w`, then hides it.
void transitionOut(QWidget* w, const Transition& transition, const Animation& animation);
// As transitionOut, then deletes it.
void transitionOutAndDelete(QWidget* w, const Transition& transition, const Animation& animation);
// For a view replaced where it stands (a stack's page): a picture of it,
// laid over `area`, leaves with `transition` while the new view comes in.
void transitionOutPicture(QWidget* old, QWidget* area, const Transition& transition, const Animation& animation);

}  // namespace bx
