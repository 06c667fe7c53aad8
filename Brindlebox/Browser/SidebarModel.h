#pragma once

#include "Store/StoreTypes.h"

#include <QStandardItemModel>
#include <memory>
#include <optional>
#include <vector>

namespace bx {

class AppStore;
struct MailAccount;

// The sidebar's rows, built from the store: the vault header, the shelves,
// the saved searches, the account groups with their folders and "Add
// Account…". The rows are rebuilt only when the set of rows changes; counts
// and badges change in place, so selection, open groups and scrolling stay.
//
// A rebuild tells which top-level rows came and went (`rowChanges`), so the
// view can animate them. On request a row that went stays behind as a
// leaving row: a copy that selects nothing, matches no selection and keeps
// its place until the view drops it.
class SidebarModel : public QStandardItemModel {
  Q_OBJECT
public:
  enum class Kind { VaultHeader, Section, Everything, Shelf, Saved, Account, Folder, AddAccount };
  enum Role {
    KindRole = Qt::UserRole + 1,
    SymbolRole,     // QString
    TintRole,       // int: 0 ink2, 1 caution
    CountRole,      // int, or invalid for no count
    UsernameRole,   // QString, account groups with a configured account
    ProblemRole,    // QString, the problem text of a group's account
    AnchorRole,     // demo anchor id
    KeyRole,        // BrowserText::sidebarKey of the row's tag
    DirectoryRole,  // account directory of an account or folder row
    FolderRole,     // folder directory of a folder row
    SavedIdRole,    // QString uuid of a saved-search row
    ShelfRole,      // int SmartFilter of a shelf row
    RowIdRole,      // QString: which top-level row this is across rebuilds
    LeavingRole,    // bool: a row on its way out
  };

  // Top-level rows by `RowIdRole`, as of the last rebuild.
  struct RowChanges {
    QStringList inserted;
    QStringList leaving;
  };

  explicit SidebarModel(AppStore& store, QObject* parent = nullptr);

  // Brings the rows up to date; returns whether the rows were rebuilt. With
  // `keepLeaving`, rows that went stay as leaving rows; else every leaving
  // row goes at once.
  bool sync(bool keepLeaving = false);
  const RowChanges& rowChanges() const { return changes_; }
  // Takes a leaving row (and what it held) out for good.
  void dropLeaving(const QString& rowId);
  QModelIndex indexOfRowId(const QString& rowId) const;
  static bool isLeaving(const QModelIndex& index);

  // The selection a row stands for, when it can be selected.
  std::optional<SidebarItem> tag(const QModelIndex& index) const;
  QModelIndex indexOf(const SidebarItem& item) const;
  QModelIndex indexOfAnchor(const QString& anchor) const;
  QModelIndex accountIndex(const QString& directory) const;

  // The configured accounts behind a group (several when labels clash).
  std::vector<const MailAccount*> accountsFor(const QString& directory) const;

  static QString folderSymbol(const QString& name);

  Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
  QString structureKey() const;
  void rebuild(bool keepLeaving);
  void updateValues();
  QStandardItem* makeRow(Kind kind, const QString& title, const QString& symbol);
  void setCount(QStandardItem* item, std::optional<int> count);

  struct Leaving {
    QString id;
    QString after;  // the row it followed
    std::unique_ptr<QStandardItem> copy;
  };

  AppStore& store_;
  QString structure_;
  RowChanges changes_;
  std::vector<Leaving> leaving_;  // in the order the rows stand
};

} // namespace bx
