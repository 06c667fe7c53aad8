#pragma once

#include "Views/ThemedWidget.h"

#include <QHash>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <optional>

class QMenu;
class QMessageBox;

namespace bx {

class AnimatedValue;

class AppStore;
class SidebarModel;
class VaultHeader;
class BackupStrip;
struct MailAccount;

// The source list of the sidebar. Its selection is the store's sidebar
// selection: a click writes it once, and the store's changes come back as
// a new highlight without being written again. A right-click opens a row's
// menu without selecting it.
class SidebarTree : public QTreeView {
  Q_OBJECT
public:
  explicit SidebarTree(QWidget* parent = nullptr);
  void keyboardSearch(const QString&) override {}

signals:
  void menuRequested(const QModelIndex& index, const QPoint& globalPos);
  void addAccountClicked();

protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  bool viewportEvent(QEvent* e) override;
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
};

class SidebarDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // Where an account row's disclosure chevron sits.
  static QRect chevronRect(const QRect& item);
  // Where an account row's problem badge sits (when it has one).
  static QRect badgeRect(const QRect& item);
  // The count a row (by its key) rolls away from, while it rolls.
  std::optional<QString> rollingFrom(const QString& key) const;

  // Brings a top-level row (by its row id, with what it holds) in or takes
  // it out with the shared spring, starting from where it stands now. At
  // the hidden end it stands `offset` px below its place and takes no room.
  void animateRow(const QString& rowId, bool in, double offset);
  struct RowShown {
    // How much of the row is in: its opacity, and the share of its height
    // it takes in the list.
    double opacity = 1;
    double offset = 0;  // px below its place
  };
  // How a row is drawn while it comes or goes; nothing once it is in place.
  std::optional<RowShown> rowShown(const QString& rowId) const;

signals:
  // A row taken out has finished leaving.
  void rowLeft(const QString& rowId);

private:
  // Each row's count as last painted; a new one rolls in.
  struct CountRoll {
    QString shown;
    int value = 0;
    QString from;
    bool down = false;
    AnimatedValue* progress = nullptr;
  };
  mutable QHash<QString, CountRoll> rolls_;

  void settleRow(const QString& rowId);
  void repaint() const;
  // A row's height in place, whatever room it takes now.
  static int fullHeight(const QModelIndex& index);
  struct RowMotion {
    AnimatedValue* shown = nullptr;  // 0 = hidden, 1 = in place
    double offset = 0;
  };
  QHash<QString, RowMotion> motions_;
};

// The first column: vault header, shelves with counts, saved searches,
// accounts with their folders, "Add Account…", and the backup strip below.
class SidebarView : public ThemedWidget {
  Q_OBJECT
public:
  explicit SidebarView(AppStore& store, QWidget* parent = nullptr);

  SidebarTree* tree() const { return tree_; }
  SidebarModel* model() const { return model_; }
  VaultHeader* vaultHeader() const { return header_; }
  BackupStrip* backupStrip() const { return strip_; }

  // The menu a right-click on `index` opens (null when it has none); the
  // caller owns it.
  QMenu* menuFor(const QModelIndex& index);
  // The removal alert, window-modal; removes on "Remove" if no backup or
  // free-up still involves the account.
  QMessageBox* confirmRemove(const MailAccount& account);
  // The rectangle of a row with a demo anchor, in this widget's coordinates.
  std::optional<QRect> anchorRect(const QString& anchor) const;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  void sync();
  void installHeader();
  void applySelection();
  void applyExpansion();
  void animateRowChanges();
  void removeSavedSearch(const QUuid& id);
  bool removalBlocked(const MailAccount& account) const;

  AppStore& store_;
  SidebarModel* model_;
  SidebarTree* tree_;
  SidebarDelegate* rows_;
  VaultHeader* header_;
  BackupStrip* strip_;
  bool syncing_ = false;
};

} // namespace bx
