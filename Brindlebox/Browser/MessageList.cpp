#include "Browser/MessageList.h"

#include "Browser/BrowserText.h"
#include "Browser/FileActions.h"
#include "Browser/MessageDelegate.h"
#include "Browser/MonthListModel.h"
#include "Platform/PlatformText.h"
#include "Store/AppStore.h"
#include "Theme/AnimatedValue.h"
#include "Theme/Motion.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimeZone>
#include <QToolTip>
#include <QVariantAnimation>

#include <cmath>

namespace bx {

// Eases the hover or the selection look of single rows in and out: a row
// that gains the state goes from 0 to 1, one that loses it back to 0. A
// settled row leaves the delegate's table and shows its state in full.
class RowFades : public QObject {
public:
  RowFades(MessageList* list, QHash<int, double>& levels, Animation animation)
      : QObject(list), list_(list), levels_(levels), animation_(animation) {}

  void to(int row, double target) {
    if (row < 0) return;
    AnimatedValue* value = values_.value(row);
    if (!value) {
      value = new AnimatedValue(levels_.value(row, 1 - target), this);
      values_.insert(row, value);
      connect(value, &AnimatedValue::changed, this, [this, row, value](double v) {
        levels_[row] = v;
        if (std::abs(v - value->target()) < 1e-6) settle(row);
        list_->update(list_->model()->index(row, 0));
      });
    }
    value->animateTo(target, motion(animation_));
    if (!value->isRunning()) settle(row);
    list_->update(list_->model()->index(row, 0));
  }

  void clear() {
    qDeleteAll(values_);
    values_.clear();
    levels_.clear();
  }

private:
  void settle(int row) {
    levels_.remove(row);
    if (AnimatedValue* v = values_.take(row)) {
      v->disconnect(this);
      v->deleteLater();
    }
  }

  MessageList* list_;
  QHash<int, double>& levels_;
  QHash<int, AnimatedValue*> values_;
  Animation animation_;
};

MessageList::MessageList(AppStore& store, QWidget* parent) : QListView(parent), store_(store) {
  model_ = new MonthListModel(this);
  delegate_ = new MessageDelegate(this);
  setModel(model_);
  setItemDelegate(delegate_);
  hoverFades_ = new RowFades(this, delegate_->hoverFades(), Animation::easeOut(0.1));
  selectFades_ = new RowFades(this, delegate_->selectFades(), Animation::easeOut(0.12));
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setUniformItemSizes(false);
  setLayoutMode(QListView::SinglePass);
  setAutoScroll(false);
  setTabKeyNavigation(false);
  viewport()->setAutoFillBackground(false);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  setSpacing(0);

  connect(&store_, &AppStore::groupsVersionChanged, this, &MessageList::reloadGroups);
  connect(&store_, &AppStore::selectedPathChanged, this, &MessageList::syncSelection);
  connect(&store_.timeline(), &TimelineModel::scrubTargetChanged, this, &MessageList::followScrub);

  midnight_.setSingleShot(true);
  midnight_.setTimerType(Qt::VeryCoarseTimer);
  connect(&midnight_, &QTimer::timeout, this, [this] {
    // "14:05" becomes "Yesterday" at midnight.
    viewport()->update();
    armMidnightRefresh();
  });
  armMidnightRefresh();
  reloadGroups();
}

MessageList::~MessageList() = default;

void MessageList::armMidnightRefresh() {
  const QDateTime now = QDateTime::currentDateTime();
  const QDateTime next(now.date().addDays(1), QTime(0, 0));
  midnight_.start(int(std::clamp<qint64>(now.msecsTo(next) + 500, 1000, 24 * 3600 * 1000 + 1000)));
}

void MessageList::reloadGroups() {
  // A list nobody has moved from its top stays at the top while it fills:
  // a vault scan delivers older months first, and keeping the first top row
  // would leave the list years below the newest mail.
  const bool atTop = verticalScrollBar()->value() == 0;
  const QString keepAnchor = atTop ? QString() : topAnchor();
  const QString sidebarKey = BrowserText::sidebarKey(store_.sidebar());
  const bool startOver = sidebarKey != lastSidebarKey_ || store_.listEpoch() != lastEpoch_;
  lastSidebarKey_ = sidebarKey;
  lastEpoch_ = store_.listEpoch();

  const bool was = reporting_;
  reporting_ = false;
  if (!model_->setGroups(store_.groups(), store_.groupsVersion())) {
    // The same rows: nothing moves unless the list starts over.
    syncSelection();
    if (startOver) verticalScrollBar()->setValue(0);
    reporting_ = was;
    if (atTop) reportTopMonth();
    return;
  }
  // Rows are numbered anew.
  hoverFades_->clear();
  selectFades_->clear();
  syncSelection();
  executeDelayedItemsLayout();
  int row = -1;
  if (!startOver && !keepAnchor.isEmpty()) {
    if (keepAnchor.startsWith(QStringLiteral("month:"))) row = model_->headerRow(keepAnchor.mid(6).toInt());
    else row = model_->rowOfPath(keepAnchor);
  }
  if (row >= 0) scrollToRowAtTop(row);
  else verticalScrollBar()->setValue(0);
  reporting_ = was;
  // Staying at the top scrolls nothing, so nothing else tells the spine
  // which month is now at the top.
  if (atTop) reportTopMonth();
}

void MessageList::syncSelection() {
  const auto& sel = store_.selectedPath();
  const int row = sel ? model_->rowOfPath(*sel) : -1;
  if (row == delegate_->selectedRow()) return;
  const int old = delegate_->selectedRow();
  delegate_->setSelectedRow(row);
  if (old >= 0 && old < model_->rowCount()) selectFades_->to(old, 0);
  selectFades_->to(row, 1);
  if (row >= 0) setCurrentIndex(model_->index(row));
}

void MessageList::updateGeometries() {
  QListView::updateGeometries();
  // The list scrolls 24 px past its last row, so the row never sits on the
  // window's bottom edge.
  const int range =
      model_->rowCount() == 0 ? 0 : std::max(0, contentsSize().height() + bottomGap - viewport()->height());
  // The base class lays the scroll bar out for the rows alone: where they
  // fit only without the gap it would hide the bar that the gap then shows
  // again, over and over. Whether the bar shows is decided here, once, from
  // heights the bar's width does not change.
  const Qt::ScrollBarPolicy policy = range > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
  if (verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
  if (model_->rowCount() == 0) return;
  verticalScrollBar()->setRange(0, range);
}

int MessageList::topRow() const {
  if (model_->rowCount() == 0) return -1;
  const QModelIndex idx = indexAt(QPoint(viewport()->width() / 2, 0));
  return idx.isValid() ? idx.row() : -1;
}

QString MessageList::topAnchor() const {
  const int row = topRow();
  return row < 0 ? QString() : model_->anchorAt(row);
}

std::optional<QRect> MessageList::rowRect(const QString& path) const {
  const int row = model_->rowOfPath(path);
  if (row < 0) return std::nullopt;
  const QRect r = visualRect(model_->index(row));
  if (!r.isValid()) return std::nullopt;
  return r;
}

void MessageList::scrollContentsBy(int dx, int dy) {
  QListView::scrollContentsBy(dx, dy);
  reportTopMonth();
  // The row under a still pointer changed.
  const QPoint p = viewport()->mapFromGlobal(QCursor::pos());
  if (viewport()->rect().contains(p) && underMouse()) {
    const QModelIndex idx = indexAt(p);
    setHoverRow(idx.isValid() && !model_->isHeader(idx.row()) ? idx.row() : -1);
  }
}

void MessageList::reportTopMonth() {
  if (!reporting_) return;
  const int row = topRow();
  if (row < 0) return;
  store_.timeline().setCurrentMonth(MonthKey::fromIndex(model_->monthIndexAt(row)));
}

void MessageList::followScrub() {
  const auto target = store_.timeline().scrubTarget();
  if (!target) return;
  const int row = model_->headerRow(target->key.index());
  if (row < 0) return;
  // The scroll made for the scrub reports nothing: near the end of the list
  // the oldest headers cannot reach the top, and the month the scrub chose
  // must stay current.
  const bool was = reporting_;
  reporting_ = false;
  if (scrollAnimation_) scrollAnimation_->stop();
  executeDelayedItemsLayout();
  scrollToRowAtTop(row);
  reporting_ = was;
}

void MessageList::scrollToRowAtTop(int row) {
  scrollTo(model_->index(row), QAbstractItemView::PositionAtTop);
}

void MessageList::scrollRowIntoView(int row) {
  const QRect r = visualRect(model_->index(row));
  QScrollBar* bar = verticalScrollBar();
  int target = bar->value();
  if (r.top() < 0) target += r.top();
  else if (r.bottom() >= viewport()->height()) target += r.bottom() + 1 - viewport()->height();
  target = std::clamp(target, bar->minimum(), bar->maximum());
  if (target == bar->value()) return;
  const Animation a = motion(Motion::snappy);
  if (Motion::isInstant() || a.durationMs() <= 0) {
    bar->setValue(target);
    return;
  }
  if (!scrollAnimation_) {
    scrollAnimation_ = new QVariantAnimation(this);
    scrollAnimation_->setStartValue(0.0);
    scrollAnimation_->setEndValue(1.0);
  }
  scrollAnimation_->stop();
  scrollAnimation_->disconnect(this);
  const int from = bar->value();
  scrollAnimation_->setDuration(a.durationMs());
  connect(scrollAnimation_, &QVariantAnimation::valueChanged, this, [this, from, target, a](const QVariant& v) {
    const double t = a.progress(v.toDouble());
    verticalScrollBar()->setValue(int(std::lround(from + (target - from) * t)));
  });
  scrollAnimation_->start();
}

void MessageList::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QListView::mousePressEvent(e);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const QModelIndex idx = indexAt(e->position().toPoint());
  const MessageRecord* r = idx.isValid() ? model_->recordAt(idx.row()) : nullptr;
  if (!r) return;
  const QString path = QString::fromStdString(r->path);
  emit rowClicked(path);
  // The assignment alone opens the message.
  store_.setSelectedPath(path);
}

void MessageList::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double-click is no new selection.
  e->accept();
}

void MessageList::mouseReleaseEvent(QMouseEvent* e) { e->accept(); }

void MessageList::mouseMoveEvent(QMouseEvent* e) {
  const QModelIndex idx = indexAt(e->position().toPoint());
  setHoverRow(idx.isValid() && !model_->isHeader(idx.row()) ? idx.row() : -1);
}

void MessageList::leaveEvent(QEvent* e) {
  setHoverRow(-1);
  QListView::leaveEvent(e);
}

void MessageList::setHoverRow(int row) {
  const int old = delegate_->hoverRow();
  if (old == row) return;
  delegate_->setHoverRow(row);
  if (old >= 0 && old < model_->rowCount()) hoverFades_->to(old, 0);
  hoverFades_->to(row, 1);
}

void MessageList::keyPressEvent(QKeyEvent* e) {
  QScrollBar* bar = verticalScrollBar();
  switch (e->key()) {
  case Qt::Key_Down:
  case Qt::Key_Up: {
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) break;
    const auto before = store_.selectedPath();
    store_.selectNext(e->key() == Qt::Key_Down ? 1 : -1);
    // Only a selection the key moved is scrolled into view; nothing of the
    // key press outlives it.
    const auto after = store_.selectedPath();
    if (after && after != before) {
      const int row = model_->rowOfPath(*after);
      if (row >= 0) scrollRowIntoView(row);
    }
    e->accept();
    return;
  }
  case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); e->accept(); return;
  case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); e->accept(); return;
  case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); e->accept(); return;
  case Qt::Key_End: bar->triggerAction(QAbstractSlider::SliderToMaximum); e->accept(); return;
  default: break;
  }
  // Other keys (letters, Tab) are not the list's: no type-ahead search.
  e->ignore();
}

bool MessageList::viewportEvent(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    const QModelIndex idx = indexAt(help->pos());
    if (const MessageRecord* r = idx.isValid() ? model_->recordAt(idx.row()) : nullptr) {
      const auto layout = MessageDelegate::rowLayout(visualRect(idx), *r);
      for (const auto& [rect, tip] : layout.glyphTips) {
        if (rect.contains(help->pos())) {
          QToolTip::showText(help->globalPos(), BrowserText::plainToolTip(tip), viewport(), rect);
          return true;
        }
      }
    }
    QToolTip::hideText();
    e->ignore();
    return true;
  }
  return QListView::viewportEvent(e);
}

void MessageList::contextMenuEvent(QContextMenuEvent* e) {
  const QModelIndex idx = indexAt(viewport()->mapFrom(this, e->pos()));
  if (!idx.isValid() || model_->isHeader(idx.row())) return;
  showRowMenu(idx.row(), e->globalPos());
}

void MessageList::showRowMenu(int row, const QPoint& globalPos) {
  const MessageRecord* r = model_->recordAt(row);
  if (!r) return;
  QString file;
  try {
    file = QString::fromStdString(store_.layout().url(r->path).string());
  } catch (...) {
    return;  // a path that would leave the vault offers nothing
  }
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(PlatformText::localize(QStringLiteral("Show in Finder")), this, [file] { FileActions::reveal(file); });
  menu->addAction(QStringLiteral("Open in Default Mail App"), this, [file] { FileActions::open(file); });
  menu->addAction(QStringLiteral("Copy File Path"), this, [file] { FileActions::copyPath(file); });
  menu->popup(globalPos);
}

} // namespace bx
