#include "Sheets/VerifyLedger.h"

#include "Platform/ReduceMotion.h"
#include "Sheets/FreeUpText.h"
#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Views/VaultCard.h"
#include "Store/ByteCountText.h"

#include <QFileInfo>
#include <algorithm>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

namespace bx {

namespace {

using Kind = CleanupItem::Status::Kind;

QFont withTracking(QFont f, qreal tracking) {
  f.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
  return f;
}

QString fileName(const std::optional<std::string>& path) {
  if (!path) return {};
  const QString p = QString::fromStdString(*path);
  const qsizetype slash = p.lastIndexOf('/');
  return slash < 0 ? p : p.mid(slash + 1);
}

}  // namespace

// ---------------------------------------------------------------- model

VerifyLedgerModel::VerifyLedgerModel(QObject* parent) : QAbstractListModel(parent) {}

std::vector<std::size_t> VerifyLedgerModel::keptOf(const CleanupPlan& plan) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < plan.items.size(); ++i) {
    const Kind k = plan.items[i].status.kind();
    if (k != Kind::verified && k != Kind::pending) out.push_back(i);
  }
  return out;
}

bool VerifyLedgerModel::sameRow(const CleanupItem& a, const CleanupItem& b) {
  return a.uid == b.uid && a.status == b.status && a.serverSize == b.serverSize;
}

void VerifyLedgerModel::setPlan(const CleanupPlan& plan) {
  bool sameItems = plan.items.size() == plan_.items.size();
  for (std::size_t i = 0; sameItems && i < plan.items.size(); ++i)
    sameItems = plan.items[i].uid == plan_.items[i].uid;
  std::vector<std::size_t> newKept = keptOf(plan);
  if (!sameItems) {
    beginResetModel();
    plan_ = plan;
    kept_ = std::move(newKept);
    endResetModel();
    return;
  }

  // Same messages: bring the kept section up to date row by row, then
  // report the item rows whose look changed.
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < plan.items.size(); ++i)
    if (!sameRow(plan.items[i], plan_.items[i])) changed.push_back(i);

  if (newKept != kept_) {
    if (kept_.empty()) {
      // The section appears: its header, and its rows when expanded.
      const int n = 1 + (showKept_ ? int(newKept.size()) : 0);
      beginInsertRows({}, 0, n - 1);
      kept_ = std::move(newKept);
      endInsertRows();
    } else if (newKept.empty()) {
      beginRemoveRows({}, 0, keptHeaderRows() + keptItemRows() - 1);
      kept_.clear();
      endRemoveRows();
    } else {
      // Merge walk in plan order: drop entries that left, insert new ones.
      std::size_t a = 0, b = 0;
      while (a < kept_.size() || b < newKept.size()) {
        const int row = 1 + int(a);
        if (b < newKept.size() && (a >= kept_.size() || newKept[b] < kept_[a])) {
          if (showKept_) beginInsertRows({}, row, row);
          kept_.insert(kept_.begin() + std::ptrdiff_t(a), newKept[b]);
          if (showKept_) endInsertRows();
          ++a, ++b;
        } else if (b >= newKept.size() || kept_[a] < newKept[b]) {
          if (showKept_) beginRemoveRows({}, row, row);
          kept_.erase(kept_.begin() + std::ptrdiff_t(a));
          if (showKept_) endRemoveRows();
        } else {
          ++a, ++b;
        }
      }
      emit dataChanged(index(0), index(0));  // the header's count
    }
  }
  for (std::size_t i : changed) plan_.items[i] = plan.items[i];
  plan_.mailbox = plan.mailbox;
  plan_.displayName = plan.displayName;
  plan_.before = plan.before;
  plan_.uidValidity = plan.uidValidity;
  plan_.otherDeletedOnServer = plan.otherDeletedOnServer;
  plan_.serverSupportsUIDPlus = plan.serverSupportsUIDPlus;
  for (std::size_t i : changed) {
    const QModelIndex ix = index(itemRow(i));
    emit dataChanged(ix, ix);
  }
  if (showKept_) {
    for (std::size_t k = 0; k < kept_.size(); ++k)
      if (std::binary_search(changed.begin(), changed.end(), kept_[k])) {
        const QModelIndex ix = index(1 + int(k));
        emit dataChanged(ix, ix);
      }
  }
}

void VerifyLedgerModel::setShowKept(bool show) {
  if (show == showKept_) return;
  if (kept_.empty()) {
    showKept_ = show;
    return;
  }
  const int first = 1, last = int(kept_.size());
  if (show) {
    beginInsertRows({}, first, last);
    showKept_ = true;
    endInsertRows();
  } else {
    beginRemoveRows({}, first, last);
    showKept_ = false;
    endRemoveRows();
  }
  emit dataChanged(index(0), index(0));  // the chevron turns
}

VerifyLedgerModel::RowKind VerifyLedgerModel::kind(int row) const {
  if (row < keptHeaderRows()) return RowKind::KeptHeader;
  if (row < keptHeaderRows() + keptItemRows()) return RowKind::KeptItem;
  if (row == firstItemRow() - 1) return RowKind::ColumnHeader;
  return RowKind::Item;
}

const CleanupItem* VerifyLedgerModel::item(int row) const {
  switch (kind(row)) {
  case RowKind::KeptItem:
    return &plan_.items[kept_[std::size_t(row - keptHeaderRows())]];
  case RowKind::Item: {
    const int i = row - firstItemRow();
    if (i < 0 || std::size_t(i) >= plan_.items.size()) return nullptr;
    return &plan_.items[std::size_t(i)];
  }
  default:
    return nullptr;
  }
}

QString VerifyLedgerModel::identity(int row) const {
  const CleanupItem* it = item(row);
  if (!it) return {};
  return (kind(row) == RowKind::KeptItem ? "k" : "") + QString::number(it->uid);
}

int VerifyLedgerModel::itemRow(std::size_t index) const { return firstItemRow() + int(index); }

int VerifyLedgerModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return firstItemRow() + int(plan_.items.size());
}

QVariant VerifyLedgerModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int row = index.row();
  switch (role) {
  case KindRole:
    return int(kind(row));
  case IdentityRole:
    return identity(row);
  case ItemIndexRole:
    return kind(row) == RowKind::Item ? row - firstItemRow() : -1;
  case Qt::DisplayRole: {
    if (kind(row) == RowKind::KeptHeader)
      return QString::fromUtf8("Kept on the server \u00B7 ") + QString::number(kept_.size());
    const CleanupItem* it = item(row);
    return it ? QString::number(it->uid) : QVariant();
  }
  default:
    return {};
  }
}

// ---------------------------------------------------------------- delegate

QSize VerifyLedgerDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return QSize(option.rect.width(), kRowHeight);
}

void VerifyLedgerDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* model = qobject_cast<const VerifyLedgerModel*>(index.model());
  if (!model) return;
  const int row = index.row();
  const QRect r = option.rect;
  p->save();
  p->setRenderHint(QPainter::Antialiasing);
  const auto rowKind = model->kind(row);

  if (rowKind == VerifyLedgerModel::RowKind::KeptHeader) {
    p->fillRect(r, Theme::panel.resolved());
    const QColor c = Theme::caution.resolved();
    const QRectF box(r.left() + 12, r.center().y() - 5.5, 11, 11);
    p->save();
    p->translate(box.center());
    p->rotate(motion_ ? motion_->chevronAngle : (model->showKept() ? 90 : 0));
    Icons::paint(*p, QRectF(-5.5, -5.5, 11, 11), "chevron.right", c);
    p->restore();
    p->setFont(withTracking(Theme::Font::label(), 0.8));
    p->setPen(c);
    p->drawText(QRect(r.left() + 12 + 11 + 6, r.top(), r.width() - 41, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                index.data(Qt::DisplayRole).toString());
    p->restore();
    return;
  }

  const QColor rule = Theme::rule.resolved();
  if (rowKind == VerifyLedgerModel::RowKind::ColumnHeader) {
    p->fillRect(r, Theme::panel.resolved());
    p->setFont(withTracking(Theme::Font::label(), 0.6));
    p->setPen(Theme::ink3.resolved());
    int x = r.left() + 12;
    const int y = r.top(), h = r.height();
    p->drawText(QRect(x, y, 64, h), Qt::AlignVCenter | Qt::AlignLeft, "UID");
    x += 64;
    p->drawText(QRect(x, y, 92, h), Qt::AlignVCenter | Qt::AlignLeft, "Received");
    x += 92;
    p->drawText(QRect(x, y, 70, h), Qt::AlignVCenter | Qt::AlignRight, "Size");
    x += 70 + 12;
    p->drawText(QRect(x, y, r.right() - x, h), Qt::AlignVCenter | Qt::AlignLeft, "Vault copy");
    p->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), rule);
    p->restore();
    return;
  }

  const CleanupItem* it = model->item(row);
  if (!it) {
    p->restore();
    return;
  }
  const QFont mono = Theme::Font::system(10.5, QFont::Normal, true);
  p->setFont(mono);
  int x = r.left() + 12;
  const int y = r.top(), h = r.height() - 1;
  p->setPen(Theme::ink2.resolved());
  p->drawText(QRect(x, y, 64, h), Qt::AlignVCenter | Qt::AlignLeft, QString::number(it->uid));
  x += 64;
  p->drawText(QRect(x, y, 92, h), Qt::AlignVCenter | Qt::AlignLeft, FreeUpText::rowDate(it->date));
  x += 92;
  p->setPen(Theme::ink3.resolved());
  p->drawText(QRect(x, y, 70, h), Qt::AlignVCenter | Qt::AlignRight, ByteCountText::file(it->serverSize));
  x += 70 + 12;

  const QRectF mark(x, y + (h - 12) / 2.0, 12, 12);
  // The row's symbol; one that has just appeared fades in from slightly
  // smaller.
  const auto paintMark = [&](const char* symbol, const QColor& color) {
    p->save();
    const double shown = motion_ ? motion_->entering.value(it->uid, 1.0) : 1.0;
    if (shown < 1) {
      p->setOpacity(std::clamp(shown, 0.0, 1.0));
      if (!motion_->reduce) {
        const double k = 0.92 + 0.08 * shown;
        p->translate(mark.center());
        p->scale(k, k);
        p->translate(-mark.center());
      }
    }
    Icons::paint(*p, mark, symbol, color);
    p->restore();
  };
  const int textX = x + 12 + 6;
  const int textW = std::max(0, r.right() - 12 - textX);
  const QRect textRect(textX, y, textW, h);
  const QFont small = Theme::Font::system(10, QFont::Normal, true);
  switch (it->status.kind()) {
  case Kind::pending: {
    QPen pen(Theme::ruleStrong.resolved(), 1);
    pen.setDashPattern({2, 2});
    p->setPen(pen);
    p->setBrush(Qt::NoBrush);
    p->drawEllipse(mark.adjusted(0.5, 0.5, -0.5, -0.5));
    p->setFont(small);
    p->setPen(Theme::ink3.resolved());
    const QString name = it->localPath ? fileName(it->localPath) : QStringLiteral("looking\u2026");
    p->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                QFontMetrics(small).elidedText(name, Qt::ElideMiddle, textW));
    break;
  }
  case Kind::verified: {
    paintMark("checkmark.shield.fill", Theme::seal.resolved());
    p->setFont(small);
    p->setPen(Theme::ink2.resolved());
    p->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                QFontMetrics(small).elidedText(fileName(it->localPath), Qt::ElideMiddle, textW));
    break;
  }
  default: {
    const QColor c = Theme::caution.resolved();
    paintMark("arrow.uturn.backward.circle.fill", c);
    const QFont cap = Theme::Font::caption();
    p->setFont(cap);
    p->setPen(c);
    p->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                QFontMetrics(cap).elidedText(QString::fromStdString(it->keptReason().value_or("")), Qt::ElideRight,
                                             textW));
    break;
  }
  }
  p->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), rule);
  p->restore();
}

// ---------------------------------------------------------------- view

VerifyLedger::VerifyLedger(const CleanupPlan& plan, std::int64_t checked, bool showKept, QWidget* parent)
    : QListView(parent), model_(new VerifyLedgerModel(this)), checked_(checked), chevron_(showKept ? 90 : 0) {
  model_->setShowKept(showKept);
  model_->setPlan(plan);
  setModel(model_);
  motion_.chevronAngle = chevron_.value();
  setItemDelegate(new VerifyLedgerDelegate(&motion_, this));
  connect(&chevron_, &AnimatedValue::changed, this, [this](double angle) {
    motion_.chevronAngle = angle;
    if (!model_->kept().empty()) viewport()->update(visualRect(model_->index(0)));
  });
  clock_.start();
  frames_.setInterval(16);
  connect(&frames_, &QTimer::timeout, this, &VerifyLedger::tick);
  setUniformItemSizes(true);
  setFrameShape(QFrame::NoFrame);
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAutoFillBackground(false);
  setAutoFillBackground(false);
  setProperty("demoAnchor", "verifyLedger");
  connect(this, &QListView::clicked, this, [this](const QModelIndex& ix) {
    if (model_->kind(ix.row()) != VerifyLedgerModel::RowKind::KeptHeader) return;
    following_.reset();
    emit showKeptToggled(!model_->showKept());
  });
  // Kept rows come and go above the item rows and move them.
  connect(model_, &QAbstractItemModel::rowsInserted, this, &VerifyLedger::keepFollowing);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &VerifyLedger::keepFollowing);
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { following_.reset(); });
  // The user's own scrolling (wheel, bar, keys) ends the following.
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { following_.reset(); });
}

void VerifyLedger::setPlan(const CleanupPlan& plan) {
  // The copies whose check has just ended bring their symbol in.
  const CleanupPlan& was = model_->plan();
  if (!Motion::isInstant() && was.items.size() == plan.items.size()) {
    bool started = false;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
      const CleanupItem& a = was.items[i];
      const CleanupItem& b = plan.items[i];
      if (a.uid != b.uid) {
        started = false;
        enterStart_.clear();
        break;
      }
      if (a.status.kind() == Kind::pending && b.status.kind() != Kind::pending) {
        enterStart_.insert(b.uid, clock_.elapsed());
        started = true;
      }
    }
    if (started) {
      enterAnimation_ = bx::motion(Motion::spring);
      motion_.reduce = ReduceMotion::isOn();
      if (!frames_.isActive()) frames_.start();
    }
  }
  model_->setPlan(plan);
  if (!enterStart_.isEmpty() || !motion_.entering.isEmpty()) tick();
}

void VerifyLedger::tick() {
  const qint64 now = clock_.elapsed();
  const double length = std::max(1, enterAnimation_.durationMs());
  motion_.entering.clear();
  for (auto it = enterStart_.begin(); it != enterStart_.end();) {
    const double fraction = double(now - it.value()) / length;
    if (fraction >= 1) {
      it = enterStart_.erase(it);
      continue;
    }
    motion_.entering.insert(it.key(), enterAnimation_.progress(std::max(0.0, fraction)));
    ++it;
  }
  if (enterStart_.isEmpty()) frames_.stop();
  viewport()->update();
}

void VerifyLedger::setShowKept(bool show) {
  if (show != model_->showKept()) chevron_.animateTo(show ? 90 : 0, bx::motion(Motion::spring));
  model_->setShowKept(show);
}

bool VerifyLedger::follows(std::int64_t n, std::size_t items) {
  return n >= 11 && n < 400 && n < std::int64_t(items);
}

void VerifyLedger::setChecked(std::int64_t checked) {
  if (checked == checked_) return;
  checked_ = checked;
  const std::size_t items = model_->plan().items.size();
  if (follows(checked, items)) {
    following_ = std::size_t(checked);
    keepFollowing();
  } else if (checked < std::int64_t(items)) {
    following_.reset();
  }
  // With every item checked there is no next row: the last one followed
  // stays at the bottom.
}

void VerifyLedger::keepFollowing() {
  if (!following_ || *following_ >= model_->plan().items.size()) return;
  scrollTo(model_->index(model_->itemRow(*following_)), QAbstractItemView::PositionAtBottom);
}

void VerifyLedger::resizeEvent(QResizeEvent* e) {
  QListView::resizeEvent(e);
  keepFollowing();
}

void VerifyLedger::paintEvent(QPaintEvent* e) {
  {
    QPainter p(viewport());
    p.setRenderHint(QPainter::Antialiasing);
    VaultCard::paint(p, QRectF(viewport()->rect()), Theme::rCard, Theme::raised);
  }
  QListView::paintEvent(e);
}

}  // namespace bx
