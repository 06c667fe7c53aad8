#pragma once

#include "Store/StoreTypes.h"

#include <QStandardItemModel>
#include <optional>

namespace bx {

class AppStore;
struct MailAccount;

// The sidebar's rows, built from the store: the vault header, the shelves,
// the saved searches, the account groups with their folders and "Add
// Account…". The rows are rebuilt only when the set of rows changes; counts
// and badges change in place, so selection, open groups and scrolling stay.
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
  };

  explicit SidebarModel(AppStore& store, QObject* parent = nullptr);

  // Brings the rows up to date; returns whether the rows were rebuilt.
  bool sync();

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
  void rebuild();
  void updateValues();
  QStandardItem* makeRow(Kind kind, const QString& title, const QString& symbol);
  void setCount(QStandardItem* item, std::optional<int> count);

  AppStore& store_;
  QString structure_;
};

} // namespace bx
