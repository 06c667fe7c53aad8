#include "Browser/SidebarView.h"

#include "Browser/BrowserText.h"
#include "Browser/SidebarModel.h"
#include "Browser/VaultStatus.h"
#include "Demo/DemoAnchors.h"
#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"
#include "Store/AppStore.h"
#include "Theme/AnimatedValue.h"
#include "Theme/Icons.h"
#include "Theme/Motion.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/CountText.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>
#include <QVBoxLayout>

namespace bx {

namespace {
using Kind = SidebarModel::Kind;
Kind kindOf(const QModelIndex& i) { return Kind(i.data(SidebarModel::KindRole).toInt()); }
QString qs(const std::string& s) { return QString::fromStdString(s); }
// An action's text shows "&" as itself.
QString menuText(const QString& s) {
  QString t = s;
  return t.replace(QLatin1Char('&'), QStringLiteral("&&"));
}
} // namespace

// MARK: tree

SidebarTree::SidebarTree(QWidget* parent) : QTreeView(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setIndentation(18);
  setFrameShape(QFrame::NoFrame);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setMouseTracking(true);
  setExpandsOnDoubleClick(false);
  setAnimated(false);
  setUniformRowHeights(false);
  viewport()->setAutoFillBackground(false);
  setAutoFillBackground(false);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  // The delegate draws the selection inside the row; the view's own
  // highlight would fill the indent to the left of a folder row.
  QPalette clear = palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    clear.setColor(g, QPalette::Highlight, Qt::transparent);
  setPalette(clear);
}

void SidebarTree::mousePressEvent(QMouseEvent* e) {
  const QModelIndex idx = indexAt(e->position().toPoint());
  if (idx.isValid() && SidebarModel::isLeaving(idx)) {
    e->accept();
    return;
  }
  if (e->button() != Qt::LeftButton) {
    // Right-click opens the menu (contextMenuEvent) and selects nothing.
    e->accept();
    return;
  }
  if (idx.isValid() && kindOf(idx) == Kind::AddAccount) {
    emit addAccountClicked();
    return;
  }
  if (idx.isValid() && kindOf(idx) == Kind::Account &&
      SidebarDelegate::chevronRect(visualRect(idx)).contains(e->position().toPoint())) {
    setExpanded(idx, !isExpanded(idx));
    return;
  }
  QTreeView::mousePressEvent(e);
}

void SidebarTree::mouseDoubleClickEvent(QMouseEvent* e) {
  const QModelIndex idx = indexAt(e->position().toPoint());
  if (idx.isValid() && kindOf(idx) == Kind::Account && !SidebarModel::isLeaving(idx) && e->button() == Qt::LeftButton) {
    setExpanded(idx, !isExpanded(idx));
    return;
  }
  e->accept();
}

void SidebarTree::contextMenuEvent(QContextMenuEvent* e) {
  const QModelIndex idx = indexAt(viewport()->mapFrom(this, e->pos()));
  if (idx.isValid()) emit menuRequested(idx, e->globalPos());
}

bool SidebarTree::viewportEvent(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    const QModelIndex idx = indexAt(help->pos());
    QString tip;
    if (idx.isValid() && kindOf(idx) == Kind::Account && idx.data(SidebarModel::ProblemRole).isValid() &&
        SidebarDelegate::badgeRect(visualRect(idx)).contains(help->pos()))
      tip = idx.data(SidebarModel::ProblemRole).toString();
    else if (idx.isValid() && kindOf(idx) == Kind::AddAccount)
      tip = PlatformText::localize(QStringLiteral("Connect another IMAP account (⌘N)"));
    if (tip.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(help->globalPos(), BrowserText::plainToolTip(tip), viewport(), visualRect(idx));
    }
    return true;
  }
  return QTreeView::viewportEvent(e);
}

// MARK: delegate

namespace {
QFont rowFont() { return Theme::Font::body(); }
QFont countFont() { return Theme::Font::system(10.5, QFont::Normal, true); }
QFont accountFont() { return Theme::Font::weighted(Theme::Font::body(), QFont::Medium); }
QFont usernameFont() { return Theme::Font::system(9.5, QFont::Normal, true); }
QFont sectionFont() {
  QFont f = Theme::Font::label();
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0.9);
  return f;
}
} // namespace

std::optional<QString> SidebarDelegate::rollingFrom(const QString& key) const {
  const auto it = rolls_.find(key);
  if (it == rolls_.end() || !it->progress || !it->progress->isRunning()) return std::nullopt;
  return it->from;
}

void SidebarDelegate::animateRow(const QString& rowId, bool in, double offset) {
  RowMotion& m = motions_[rowId];
  if (!m.shown) {
    m.shown = new AnimatedValue(in ? 0 : 1, this);
    connect(m.shown, &AnimatedValue::changed, this, [this, rowId] { settleRow(rowId); });
  }
  m.offset = offset;
  AnimatedValue* shown = m.shown;
  shown->animateTo(in ? 1 : 0, motion(Motion::spring));
  settleRow(rowId);
}

std::optional<SidebarDelegate::RowShown> SidebarDelegate::rowShown(const QString& rowId) const {
  const auto it = motions_.find(rowId);
  if (it == motions_.end()) return std::nullopt;
  const double v = it->shown->value();
  return RowShown{std::clamp(v, 0.0, 1.0), it->offset * (1 - v)};
}

void SidebarDelegate::settleRow(const QString& rowId) {
  repaint();
  const auto it = motions_.find(rowId);
  if (it == motions_.end()) return;
  AnimatedValue* shown = it->shown;
  const bool settled = shown->value() == shown->target();
  const bool left = settled && shown->target() == 0;
  if (settled) {
    motions_.erase(it);
    // Possibly inside its own signal.
    shown->deleteLater();
  }
  if (left) {
    emit rowLeft(rowId);
    return;
  }
  // The room the row takes changed: the view lays the rows below anew.
  auto* view = qobject_cast<QAbstractItemView*>(parent());
  auto* model = view ? qobject_cast<SidebarModel*>(view->model()) : nullptr;
  if (const QModelIndex row = model ? model->indexOfRowId(rowId) : QModelIndex(); row.isValid())
    emit sizeHintChanged(row);
}

void SidebarDelegate::repaint() const {
  if (auto* view = qobject_cast<QAbstractItemView*>(parent())) view->viewport()->update();
}

QRect SidebarDelegate::chevronRect(const QRect& item) { return QRect(item.right() - 20, item.top(), 16, item.height()); }
QRect SidebarDelegate::badgeRect(const QRect& item) { return QRect(item.right() - 40, item.top(), 16, item.height()); }

int SidebarDelegate::fullHeight(const QModelIndex& index) {
  switch (kindOf(index)) {
  case Kind::VaultHeader: {
    // The header widget's own height, recorded on its row.
    const QSize hint = index.data(Qt::SizeHintRole).toSize();
    return hint.isValid() ? hint.height() : 10;
  }
  case Kind::Section: return 28;
  case Kind::Account: return index.data(SidebarModel::UsernameRole).isValid() ? 38 : 28;
  default: return 26;
  }
}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int h = fullHeight(index);
  // A row coming or going (or one inside such a group) opens or closes its
  // room as it fades, so the rows below slide.
  const QModelIndex top = index.parent().isValid() ? index.parent() : index;
  if (const auto shown = rowShown(top.data(SidebarModel::RowIdRole).toString()))
    return QSize(option.rect.width(), qRound(h * shown->opacity));
  return QSize(option.rect.width(), h);
}

void SidebarDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  p->save();
  p->setRenderHint(QPainter::Antialiasing);
  // Laid out at full height from the top of its room: a row part-way open
  // shows as much of itself as its room holds, and nothing of it spills
  // onto its neighbours.
  p->setClipRect(option.rect, Qt::IntersectClip);
  const QRect row(option.rect.topLeft(), QSize(option.rect.width(), fullHeight(index)));
  // A row coming or going, or one inside such a group.
  const QModelIndex top = index.parent().isValid() ? index.parent() : index;
  if (const auto shown = rowShown(top.data(SidebarModel::RowIdRole).toString())) {
    p->setOpacity(p->opacity() * shown->opacity);
    p->translate(0, shown->offset);
  }
  const QRect r = row.adjusted(6, 1, -6, -1);
  const Kind kind = kindOf(index);
  const bool leaving = SidebarModel::isLeaving(index);
  const bool selected = option.state & QStyle::State_Selected;
  const bool hover = (option.state & QStyle::State_MouseOver) && !leaving;
  if (selected) p->fillPath(Shapes::roundedRect(r, 6), Theme::selection.resolved());
  else if (hover && kind != Kind::Section && kind != Kind::VaultHeader)
    p->fillPath(Shapes::roundedRect(r, 6), Theme::hover.resolved());

  const QString title = index.data(Qt::DisplayRole).toString();
  const QString symbol = index.data(SidebarModel::SymbolRole).toString();
  const QRect content = r.adjusted(6, 0, -6, 0);
  switch (kind) {
  case Kind::VaultHeader: break;
  case Kind::Section: {
    p->setFont(sectionFont());
    p->setPen(Theme::ink3.resolved());
    const QFontMetrics fm(p->font());
    p->drawText(QPoint(content.left(), r.bottom() - 6 - fm.descent()), title.toUpper());
    break;
  }
  case Kind::Account: {
    const bool hasUser = index.data(SidebarModel::UsernameRole).isValid();
    Icons::paint(*p, QRectF(content.left(), r.top(), 16, r.height()), symbol, Theme::ink2.resolved());
    const int x = content.left() + 16 + 8;
    int right = chevronRect(row).left() - 4;
    if (index.data(SidebarModel::ProblemRole).isValid()) {
      Icons::paint(*p, QRectF(badgeRect(row)), QStringLiteral("exclamationmark.circle"),
                   Theme::caution.resolved());
      right = badgeRect(row).left() - 4;
    }
    const QFontMetrics nm(accountFont()), um(usernameFont());
    const int total = nm.height() + (hasUser ? um.height() : 0);
    const int top = r.top() + (r.height() - total) / 2;
    p->setFont(accountFont());
    p->setPen(Theme::ink.resolved());
    p->drawText(QRect(x, top, right - x, nm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                nm.elidedText(title, Qt::ElideRight, right - x));
    if (hasUser) {
      p->setFont(usernameFont());
      p->setPen(Theme::ink3.resolved());
      const QString user = index.data(SidebarModel::UsernameRole).toString();
      p->drawText(QRect(x, top + nm.height(), right - x, um.height()), Qt::AlignLeft | Qt::AlignVCenter,
                  um.elidedText(user, Qt::ElideMiddle, right - x));
    }
    // Disclosure chevron: right when closed, down when open; a group with
    // nothing to open (the loose files) has none.
    if (!index.model()->hasChildren(index)) break;
    const auto* tree = qobject_cast<const QTreeView*>(option.widget);
    const bool open = tree && tree->isExpanded(index);
    const QRectF c = QRectF(chevronRect(row)).adjusted(3, 0, -3, 0);
    p->save();
    p->translate(c.center());
    if (open) p->rotate(90);
    Icons::paint(*p, QRectF(-5, -5, 10, 10), QStringLiteral("chevron.right"), Theme::ink3.resolved());
    p->restore();
    break;
  }
  case Kind::AddAccount: {
    Icons::paint(*p, QRectF(content.left(), r.top(), 16, r.height()), symbol, Theme::ink2.resolved());
    p->setFont(rowFont());
    p->setPen(Theme::ink2.resolved());
    p->drawText(QRect(content.left() + 24, r.top(), content.width() - 24, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                title);
    break;
  }
  default: {
    const bool caution = index.data(SidebarModel::TintRole).toInt() == 1;
    Icons::paint(*p, QRectF(content.left(), r.top(), 16, r.height()).adjusted(2, 0, -2, 0), symbol,
                 (caution ? Theme::caution : Theme::ink2).resolved());
    int right = content.right();
    const QVariant count = index.data(SidebarModel::CountRole);
    const QString key = index.data(SidebarModel::KeyRole).toString();
    if (count.isValid()) {
      const int n = count.toInt();
      const QString text = QLocale().toString(n);
      // A leaving row has no key; its count stands still.
      CountRoll still;
      CountRoll& roll = key.isEmpty() ? still : rolls_[key];
      if (!key.isEmpty() && !roll.shown.isEmpty() && roll.shown != text && !Motion::isInstant()) {
        roll.from = roll.shown;
        roll.down = n < roll.value;
        if (!roll.progress) {
          auto* self = const_cast<SidebarDelegate*>(this);
          roll.progress = new AnimatedValue(1, self);
          connect(roll.progress, &AnimatedValue::changed, self, [self] {
            if (auto* view = qobject_cast<QAbstractItemView*>(self->parent())) view->viewport()->update();
          });
        }
        roll.progress->setValue(0);
        roll.progress->animateTo(1, motion(Motion::snappy));
      }
      roll.shown = text;
      roll.value = n;
      const bool rolling = roll.progress && roll.progress->isRunning();
      const QFontMetrics cm(countFont());
      const int w = std::max(cm.horizontalAdvance(text), rolling ? cm.horizontalAdvance(roll.from) : 0);
      p->setFont(countFont());
      p->setPen(Theme::ink3.resolved());
      if (rolling) {
        const qreal baseline = r.top() + (r.height() - cm.height()) / 2.0 + cm.ascent();
        p->save();
        p->setClipRect(QRect(content.right() - w, r.top(), w + 1, r.height()));
        CountText::paintRoll(*p, QPointF(content.right() + 1 - w, baseline), roll.from, text,
                             roll.progress->value(), roll.down, true);
        p->restore();
      } else {
        p->drawText(QRect(content.right() - w, r.top(), w + 1, r.height()), Qt::AlignRight | Qt::AlignVCenter, text);
      }
      right = content.right() - w - 8;
    } else if (const auto it = rolls_.find(key); it != rolls_.end()) {
      delete it->progress;
      rolls_.erase(it);
    }
    const int x = content.left() + 16 + 8;
    const QFontMetrics fm(rowFont());
    p->setFont(rowFont());
    p->setPen(Theme::ink.resolved());
    p->drawText(QRect(x, r.top(), right - x, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                fm.elidedText(title, Qt::ElideRight, right - x));
    break;
  }
  }
  p->restore();
}

// MARK: view

SidebarView::SidebarView(AppStore& store, QWidget* parent) : ThemedWidget(parent), store_(store) {
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);
  model_ = new SidebarModel(store_, this);
  tree_ = new SidebarTree(this);
  tree_->setModel(model_);
  rows_ = new SidebarDelegate(tree_);
  tree_->setItemDelegate(rows_);
  v->addWidget(tree_, 1);
  auto* stripHost = new QWidget(this);
  auto* sh = new QVBoxLayout(stripHost);
  sh->setContentsMargins(10, 10, 10, 10);
  strip_ = new BackupStrip(store_, stripHost);
  sh->addWidget(strip_);
  v->addWidget(stripHost);
  installHeader();
  for (const QString& prefix : {QStringLiteral("allMessages"), QStringLiteral("smart-")})
    orrery::DemoAnchors::shared().provide(this, prefix, [this](const QString& id) { return anchorRect(id); });

  connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (syncing_) return;
    const QModelIndexList sel = tree_->selectionModel()->selectedIndexes();
    if (sel.isEmpty()) return;  // no selection changes nothing
    if (auto tag = model_->tag(sel.front())) store_.setSidebar(*tag);
  });
  connect(tree_, &QTreeView::expanded, this, [this](const QModelIndex& i) {
    if (syncing_ || kindOf(i) != Kind::Account) return;
    QSet<QString> set = store_.expandedAccounts();
    set.insert(i.data(SidebarModel::DirectoryRole).toString());
    store_.setExpandedAccounts(set);
  });
  connect(tree_, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
    if (syncing_ || kindOf(i) != Kind::Account) return;
    QSet<QString> set = store_.expandedAccounts();
    set.remove(i.data(SidebarModel::DirectoryRole).toString());
    store_.setExpandedAccounts(set);
  });
  connect(rows_, &SidebarDelegate::rowLeft, model_, &SidebarModel::dropLeaving);
  connect(tree_, &SidebarTree::addAccountClicked, this, [this] { store_.setShowAddAccount(true); });
  connect(tree_, &SidebarTree::menuRequested, this, [this](const QModelIndex& idx, const QPoint& pos) {
    if (QMenu* m = menuFor(idx)) {
      m->setAttribute(Qt::WA_DeleteOnClose);
      m->popup(pos);
    }
  });

  for (auto signal : {&AppStore::recordsChanged, &AppStore::cachesChanged, &AppStore::savedSearchesChanged,
                      &AppStore::foldersChanged, &AppStore::accountsChanged, &AppStore::backupProblemsChanged})
    connect(&store_, signal, this, &SidebarView::sync);
  connect(&store_, &AppStore::sidebarChanged, this, &SidebarView::applySelection);
  connect(&store_, &AppStore::expandedAccountsChanged, this, &SidebarView::applyExpansion);
  applyExpansion();
  applySelection();
}

void SidebarView::installHeader() {
  header_ = new VaultHeader(store_, nullptr);
  header_->setContentsMargins(12, 0, 12, 6);
  tree_->setIndexWidget(model_->index(0, 0), header_);
  // The header row takes the header's height, again whenever a line of it
  // comes or goes.
  auto measure = [this, header = header_] {
    if (header != header_ || !model_->item(0)) return;
    header->layout()->activate();
    model_->item(0)->setSizeHint(QSize(0, header->sizeHint().height()));
    // The row's new height reaches the header widget with the next layout.
    tree_->doItemsLayout();
  };
  connect(header_, &VaultHeader::linesChanged, this, measure);
  measure();
}

void SidebarView::sync() {
  const int scroll = tree_->verticalScrollBar()->value();
  syncing_ = true;
  // While animations run, rows that went stay until they have faded.
  const bool rebuilt = model_->sync(!Motion::isInstant());
  if (rebuilt) installHeader();
  syncing_ = false;
  if (rebuilt) {
    applyExpansion();
    applySelection();
    tree_->verticalScrollBar()->setValue(scroll);
    animateRowChanges();
  }
}

void SidebarView::animateRowChanges() {
  // Read as the rows come or go: under Reduce Motion they only fade.
  const bool reduce = ReduceMotion::isOn();
  const SidebarModel::RowChanges& changes = model_->rowChanges();
  auto offsetOf = [&](const QString& id) {
    // Saved searches rise into place; sections and account groups fade.
    return !reduce && kindOf(model_->indexOfRowId(id)) == Kind::Saved ? 8.0 : 0.0;
  };
  for (const QString& id : changes.inserted) rows_->animateRow(id, true, offsetOf(id));
  for (const QString& id : changes.leaving) rows_->animateRow(id, false, offsetOf(id));
}

void SidebarView::applySelection() {
  syncing_ = true;
  const QModelIndex idx = model_->indexOf(store_.sidebar());
  // A selection that matches no row stays in the store; the list shows no
  // highlight for it.
  if (idx.isValid()) tree_->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
  else tree_->selectionModel()->clearSelection();
  syncing_ = false;
}

void SidebarView::applyExpansion() {
  syncing_ = true;
  const QSet<QString>& open = store_.expandedAccounts();
  for (int r = 0; r < model_->rowCount(); ++r) {
    const QModelIndex i = model_->index(r, 0);
    if (kindOf(i) != Kind::Account) continue;
    tree_->setExpanded(i, open.contains(i.data(SidebarModel::DirectoryRole).toString()));
  }
  syncing_ = false;
}

bool SidebarView::removalBlocked(const MailAccount& account) const { return store_.accountBusy(account.id); }

QMenu* SidebarView::menuFor(const QModelIndex& index) {
  if (!index.isValid() || SidebarModel::isLeaving(index)) return nullptr;
  switch (kindOf(index)) {
  case Kind::Saved: {
    auto* menu = new QMenu(this);
    const QUuid id = QUuid::fromString(index.data(SidebarModel::SavedIdRole).toString());
    menu->addAction(QStringLiteral("Remove Saved Search"), this, [this, id] { removeSavedSearch(id); });
    return menu;
  }
  case Kind::Account: {
    const auto accounts = model_->accountsFor(index.data(SidebarModel::DirectoryRole).toString());
    if (accounts.empty()) return nullptr;
    auto* menu = new QMenu(this);
    const bool several = accounts.size() > 1;
    for (const MailAccount* a : accounts) {
      const MailAccount account = *a;
      const QString who = qs(account.label) + QStringLiteral(" (") + qs(account.username) + QStringLiteral(")");
      menu->addAction(several ? menuText(QStringLiteral("Back Up ") + who) : QStringLiteral("Back Up This Account"), this,
                      [this, account] { store_.backUpNow(account); });
      QAction* remove = menu->addAction(
          several ? menuText(QStringLiteral("Remove ") + who + QStringLiteral("…")) : QStringLiteral("Remove Account…"),
          this, [this, account] { confirmRemove(account); });
      remove->setEnabled(!removalBlocked(account));
      if (several && a != accounts.back()) menu->addSeparator();
    }
    return menu;
  }
  default: return nullptr;
  }
}

void SidebarView::removeSavedSearch(const QUuid& id) {
  if (store_.sidebar().kind == SidebarItem::Kind::saved && store_.sidebar().saved == id)
    store_.setSidebar(SidebarItem::makeAll());
  QList<SavedSearch> list = store_.savedSearches();
  list.removeIf([&id](const SavedSearch& s) { return s.id == id; });
  store_.setSavedSearches(list);
}

QMessageBox* SidebarView::confirmRemove(const MailAccount& account) {
  auto* box = new QMessageBox(window());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->setIcon(QMessageBox::Warning);
  box->setTextFormat(Qt::PlainText);
  box->setText(QStringLiteral("Remove “") + qs(account.label) + QStringLiteral("” from Brindlebox?"));
  box->setInformativeText(PlatformText::localize(
      QStringLiteral("Its password is forgotten and backups stop. Messages already in the vault stay on your Mac.")));
  QPushButton* remove = box->addButton(QStringLiteral("Remove"), QMessageBox::DestructiveRole);
  box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box->setDefaultButton(remove);
  const MailAccount copy = account;
  connect(box, &QMessageBox::buttonClicked, this, [this, box, remove, copy](QAbstractButton* b) {
    if (b != remove) return;
    // The answer can come long after the question: a backup or free-up
    // started meanwhile keeps the account.
    if (removalBlocked(copy)) return;
    store_.removeAccount(copy);
    Q_UNUSED(box);
  });
  box->open();
  return box;
}

std::optional<QRect> SidebarView::anchorRect(const QString& anchor) const {
  const QModelIndex i = model_->indexOfAnchor(anchor);
  if (!i.isValid()) return std::nullopt;
  const QRect r = tree_->visualRect(i);
  if (!r.isValid() || !tree_->viewport()->rect().intersects(r)) return std::nullopt;
  return QRect(tree_->viewport()->mapTo(this, r.topLeft()), r.size());
}

void SidebarView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::paper.resolved());
}

} // namespace bx
