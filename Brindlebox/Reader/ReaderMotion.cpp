#include "Reader/ReaderMotion.h"

#include "Platform/ReduceMotion.h"
#include "Theme/Theme.h"

#include <QBoxLayout>
#include <QGraphicsOpacityEffect>
#include <QPainter>

namespace bx {

namespace {
const Animation kReaderSpring = Animation::spring(0.22, 1.0);
}  // namespace

ReaderTransition ReaderTransition::reader() {
  if (ReduceMotion::isOn()) return {0, Motion::fade};
  return {6, kReaderSpring};
}

ReaderTransition ReaderTransition::emptyState() {
  return {0, ReduceMotion::isOn() ? Motion::fade : kReaderSpring};
}

ReaderTransition ReaderTransition::linkList() {
  if (ReduceMotion::isOn()) return {0, Motion::fade};
  return {8, Motion::spring};
}

PaneTransition* PaneTransition::play(QWidget* pane, QBoxLayout* layout, const QPixmap& leaving,
                                     const ReaderTransition& how) {
  if (Motion::isInstant() || !pane->isVisible()) return nullptr;
  // One at a time: a newer change starts from where the pane is now.
  for (auto* running : pane->findChildren<PaneTransition*>(QString(), Qt::FindDirectChildrenOnly)) {
    running->clock_.stop();
    running->step(1);
    delete running;
  }
  return new PaneTransition(pane, layout, leaving, how);
}

PaneTransition::PaneTransition(QWidget* pane, QBoxLayout* layout, const QPixmap& leaving, const ReaderTransition& how)
    : QWidget(pane), layout_(layout), leaving_(leaving), how_(how) {
  setObjectName(QStringLiteral("paneTransition"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(pane->rect());
  raise();
  show();
  if (layout_) baseTop_ = layout_->contentsMargins().top();
  clock_.setStartValue(0.0);
  clock_.setEndValue(1.0);
  clock_.setDuration(how_.animation.durationMs());
  connect(&clock_, &QVariantAnimation::valueChanged, this,
          [this](const QVariant& v) { step(how_.animation.progress(v.toDouble())); });
  connect(&clock_, &QAbstractAnimation::finished, this, [this] {
    step(1);
    deleteLater();
  });
  step(0);
  clock_.start();
}

void PaneTransition::step(double progress) {
  progress_ = progress;
  if (layout_ && how_.offset) {
    QMargins m = layout_->contentsMargins();
    m.setTop(baseTop_ + int(std::lround(how_.offset * (1 - std::min(1.0, progress)))));
    layout_->setContentsMargins(m);
  }
  if (parentWidget()) setGeometry(parentWidget()->rect());
  update();
}

void PaneTransition::paintEvent(QPaintEvent*) {
  const double p = std::clamp(progress_, 0.0, 1.0);
  if (p >= 1) return;
  QPainter painter(this);
  // The arriving content shows through as the panel colour clears…
  QColor cover = Theme::panel.resolved();
  cover.setAlphaF(float(cover.alphaF() * (1 - p)));
  painter.fillRect(rect(), cover);
  // …while the leaving one fades out above it.
  if (!leaving_.isNull()) {
    painter.setOpacity(1 - p);
    painter.drawPixmap(0, 0, leaving_);
  }
}

void fadePiece(QWidget* widget, bool in, const ReaderTransition& how, std::function<void()> done) {
  // A piece just added is not shown yet, but its window is.
  if (Motion::isInstant() || !widget->window()->isVisible()) {
    if (done) done();
    return;
  }
  auto* effect = new QGraphicsOpacityEffect(widget);
  effect->setOpacity(in ? 0 : 1);
  widget->setGraphicsEffect(effect);
  auto* layout = widget->layout();
  const QMargins base = layout ? layout->contentsMargins() : QMargins();
  auto* clock = new QVariantAnimation(widget);
  clock->setStartValue(0.0);
  clock->setEndValue(1.0);
  clock->setDuration(how.animation.durationMs());
  QPointer<QWidget> guard(widget);
  QObject::connect(clock, &QVariantAnimation::valueChanged, widget, [=](const QVariant& v) {
    const double p = std::clamp(how.animation.progress(v.toDouble()), 0.0, 1.0);
    const double shown = in ? p : 1 - p;
    effect->setOpacity(shown);
    if (layout && how.offset)
      layout->setContentsMargins(base.left(), base.top() + int(std::lround(how.offset * (1 - shown))), base.right(),
                                 base.bottom());
  });
  QObject::connect(clock, &QAbstractAnimation::finished, widget, [=] {
    if (guard) {
      guard->setGraphicsEffect(nullptr);
      if (layout) layout->setContentsMargins(base);
    }
    if (done) done();
  });
  if (layout && how.offset && in)
    layout->setContentsMargins(base.left(), base.top() + how.offset, base.right(), base.bottom());
  clock->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace bx
