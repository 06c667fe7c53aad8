#include "Browser/SidebarModel.h"

#include "Browser/BrowserText.h"
#include "Store/AppStore.h"
#include "Store/ProviderPreset.h"

#include <QSet>

#include <algorithm>

namespace bx {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }

// One group per directory, in first-seen order; the files at the vault
// root (directory "") come after every account.
QStringList uniqueDirectories(const QStringList& dirs) {
  QStringList out;
  QSet<QString> seen;
  for (const QString& d : dirs)
    if (!seen.contains(d)) {
      seen.insert(d);
      out << d;
    }
  if (out.removeAll(QString()) > 0) out << QString();
  return out;
}

struct Shelf {
  SmartFilter filter;
  const char* title;
  const char* symbol;
};
// A top-level row's identity across rebuilds: its selection key, or its
// kind and title for the rows that select nothing.
QString rowIdOf(const QStandardItem* row) {
  const QString key = row->data(SidebarModel::KeyRole).toString();
  if (!key.isEmpty()) return key;
  return QStringLiteral("kind%1:").arg(row->data(SidebarModel::KindRole).toInt()) + row->text();
}

// What a leaving row shows, without what it stands for: no key, anchor,
// saved search or folder, so nothing selects or finds it. The directory
// stays so that an open group leaves open.
QStandardItem* leavingCopy(const QStandardItem* row) {
  auto* copy = new QStandardItem(row->text());
  copy->setEditable(false);
  for (int role : {int(SidebarModel::KindRole), int(SidebarModel::SymbolRole), int(SidebarModel::TintRole),
                   int(SidebarModel::CountRole), int(SidebarModel::UsernameRole), int(SidebarModel::DirectoryRole),
                   int(SidebarModel::RowIdRole), int(Qt::AccessibleTextRole)})
    copy->setData(row->data(role), role);
  copy->setData(true, SidebarModel::LeavingRole);
  for (int r = 0; r < row->rowCount(); ++r) copy->appendRow(leavingCopy(row->child(r)));
  return copy;
}

constexpr Shelf shelves[] = {
    {SmartFilter::recent, "Last 30 Days", "clock"},
    {SmartFilter::attachments, "With Attachments", "paperclip"},
    {SmartFilter::trackers, "Trackers Blocked", "eye.slash"},
    {SmartFilter::suspicious, "Needs a Second Look", "exclamationmark.shield"},
    {SmartFilter::large, "Over 5 MB", "scalemass"},
};
} // namespace

SidebarModel::SidebarModel(AppStore& store, QObject* parent) : QStandardItemModel(parent), store_(store) {
  sync();
}

QString SidebarModel::folderSymbol(const QString& name) {
  const QString n = name.toLower();
  auto has = [&n](const char* s) { return n.contains(QLatin1String(s)); };
  if (n == QLatin1String("inbox")) return QStringLiteral("tray");
  if (has("sent")) return QStringLiteral("paperplane");
  if (has("draft") || has("entw")) return QStringLiteral("doc");
  if (has("trash") || has("deleted") || has("bin")) return QStringLiteral("trash");
  if (has("spam") || has("junk")) return QStringLiteral("xmark.bin");
  if (has("all mail") || has("archive")) return QStringLiteral("archivebox");
  return QStringLiteral("folder");
}

std::vector<const MailAccount*> SidebarModel::accountsFor(const QString& directory) const {
  std::vector<const MailAccount*> out;
  for (const auto& a : store_.accounts())
    if (store_.accountFolder(a) == directory) out.push_back(&a);
  return out;
}

QString SidebarModel::structureKey() const {
  QString k;
  for (const auto& s : store_.savedSearches()) k += QStringLiteral("S") + s.id.toString() + QChar(0) + s.name + QChar(1);
  for (const QString& d : uniqueDirectories(store_.archiveAccounts())) {
    k += QStringLiteral("A") + d + QChar(0);
    for (const MailAccount* a : accountsFor(d))
      k += qs(a->username) + QChar(2) + qs(a->provider) + QChar(2) + qs(a->id.string()) + QChar(3);
    const auto it = store_.folders().find(d);
    if (it != store_.folders().end())
      for (const auto& f : it->second) k += QStringLiteral("F") + f.folder + QChar(1);
  }
  return k;
}

QStandardItem* SidebarModel::makeRow(Kind kind, const QString& title, const QString& symbol) {
  auto* item = new QStandardItem(title);
  item->setEditable(false);
  item->setData(int(kind), KindRole);
  item->setData(symbol, SymbolRole);
  item->setData(0, TintRole);
  item->setData(title, Qt::AccessibleTextRole);
  return item;
}

void SidebarModel::setCount(QStandardItem* item, std::optional<int> count) {
  const QVariant v = count && *count >= 1 ? QVariant(*count) : QVariant();
  if (item->data(CountRole) != v) item->setData(v, CountRole);
}

bool SidebarModel::sync(bool keepLeaving) {
  if (!keepLeaving)
    while (!leaving_.empty()) dropLeaving(leaving_.front().id);
  const QString key = structureKey();
  const bool rebuilt = key != structure_ || rowCount() == 0;
  if (rebuilt) {
    structure_ = key;
    rebuild(keepLeaving);
  }
  updateValues();
  return rebuilt;
}

void SidebarModel::rebuild(bool keepLeaving) {
  std::vector<QStandardItem*> rows;
  rows.push_back(makeRow(Kind::VaultHeader, QString(), QString()));
  rows.push_back(makeRow(Kind::Section, QStringLiteral("Shelves"), QString()));
  auto* everything = makeRow(Kind::Everything, QStringLiteral("Everything"), QStringLiteral("archivebox"));
  everything->setData(QStringLiteral("allMessages"), AnchorRole);
  everything->setData(BrowserText::sidebarKey(SidebarItem::makeAll()), KeyRole);
  rows.push_back(everything);
  for (const Shelf& s : shelves) {
    auto* item = makeRow(Kind::Shelf, QString::fromUtf8(s.title), QString::fromUtf8(s.symbol));
    item->setData(int(s.filter), ShelfRole);
    item->setData(QStringLiteral("smart-") + SmartFilters::rawValue(s.filter), AnchorRole);
    item->setData(BrowserText::sidebarKey(SidebarItem::makeSmart(s.filter)), KeyRole);
    rows.push_back(item);
  }
  if (!store_.savedSearches().isEmpty()) {
    rows.push_back(makeRow(Kind::Section, QStringLiteral("Saved Searches"), QString()));
    for (const auto& s : store_.savedSearches()) {
      auto* item = makeRow(Kind::Saved, s.name, QStringLiteral("text.magnifyingglass"));
      item->setData(s.id.toString(QUuid::WithoutBraces), SavedIdRole);
      item->setData(BrowserText::sidebarKey(SidebarItem::makeSaved(s.id)), KeyRole);
      rows.push_back(item);
    }
  }
  rows.push_back(makeRow(Kind::Section, QStringLiteral("Accounts"), QString()));
  for (const QString& d : uniqueDirectories(store_.archiveAccounts())) {
    const auto accounts = accountsFor(d);
    QString symbol;
    if (!accounts.empty()) symbol = ProviderPreset::named(qs(accounts.front()->provider)).symbol;
    else if (d.isEmpty()) symbol = QStringLiteral("doc.text");
    else symbol = d == QLatin1String("Imported") ? QStringLiteral("square.and.arrow.down") : QStringLiteral("archivebox");
    auto* group = makeRow(Kind::Account, SidebarItem::accountTitle(d), symbol);
    group->setData(d, DirectoryRole);
    group->setData(BrowserText::sidebarKey(SidebarItem::makeAccount(d)), KeyRole);
    if (!accounts.empty()) {
      QStringList names;
      for (const MailAccount* a : accounts) names << qs(a->username);
      group->setData(names.join(QStringLiteral(", ")), UsernameRole);
    }
    // Loose files have no folders to list: the group is the whole lot.
    const auto it = d.isEmpty() ? store_.folders().end() : store_.folders().find(d);
    if (it != store_.folders().end()) {
      for (const auto& f : it->second) {
        auto* row = makeRow(Kind::Folder, f.folder, folderSymbol(f.folder));
        row->setData(d, DirectoryRole);
        row->setData(f.folder, FolderRole);
        row->setData(BrowserText::sidebarKey(SidebarItem::makeFolder(d, f.folder)), KeyRole);
        group->appendRow(row);
      }
    }
    rows.push_back(group);
  }
  rows.push_back(makeRow(Kind::AddAccount, QStringLiteral("Add Account…"), QStringLiteral("plus")));

  QSet<QString> ids;
  for (QStandardItem* row : rows) {
    row->setData(rowIdOf(row), RowIdRole);
    ids.insert(row->data(RowIdRole).toString());
  }
  // Compare with the rows that stand now; the first build brings nothing in.
  changes_ = {};
  QSet<QString> stood;
  std::vector<Leaving> kept;
  for (int r = 0; r < rowCount(); ++r) {
    QStandardItem* row = item(r);
    const QString id = row->data(RowIdRole).toString();
    const bool wasLeaving = row->data(LeavingRole).toBool();
    if (!wasLeaving) stood.insert(id);
    // A row back while it was leaving is simply there again.
    if (!keepLeaving || ids.contains(id)) continue;
    if (wasLeaving) {
      const auto it = std::find_if(leaving_.begin(), leaving_.end(), [&](const Leaving& l) { return l.id == id; });
      if (it != leaving_.end()) kept.push_back(std::move(*it));
    } else {
      kept.push_back({id, r > 0 ? item(r - 1)->data(RowIdRole).toString() : QString(),
                      std::unique_ptr<QStandardItem>(leavingCopy(row))});
      changes_.leaving << id;
    }
  }
  if (rowCount() > 0)
    for (QStandardItem* row : rows)
      if (!stood.contains(row->data(RowIdRole).toString())) changes_.inserted << row->data(RowIdRole).toString();

  clear();
  for (QStandardItem* row : rows) appendRow(row);
  leaving_.clear();
  for (Leaving& l : kept) {
    const QModelIndex after = indexOfRowId(l.after);
    // A row whose neighbour has gone for good goes with it.
    if (!after.isValid()) continue;
    insertRow(after.row() + 1, leavingCopy(l.copy.get()));
    leaving_.push_back(std::move(l));
  }
}

void SidebarModel::dropLeaving(const QString& rowId) {
  const auto it = std::find_if(leaving_.begin(), leaving_.end(), [&](const Leaving& l) { return l.id == rowId; });
  if (it == leaving_.end()) return;
  leaving_.erase(it);
  const QModelIndex row = indexOfRowId(rowId);
  if (row.isValid() && isLeaving(row)) removeRow(row.row());
}

QModelIndex SidebarModel::indexOfRowId(const QString& rowId) const {
  if (rowId.isEmpty()) return {};
  for (int r = 0; r < rowCount(); ++r)
    if (item(r)->data(RowIdRole).toString() == rowId) return index(r, 0);
  return {};
}

bool SidebarModel::isLeaving(const QModelIndex& index) { return index.data(LeavingRole).toBool(); }

void SidebarModel::updateValues() {
  const auto smart = store_.smartCounts();
  for (int r = 0; r < rowCount(); ++r) {
    QStandardItem* it = item(r);
    if (it->data(LeavingRole).toBool()) continue;
    switch (Kind(it->data(KindRole).toInt())) {
    case Kind::Everything: setCount(it, int(store_.records().size())); break;
    case Kind::Shelf: {
      const auto f = SmartFilter(it->data(ShelfRole).toInt());
      const auto found = smart.find(f);
      const int c = found == smart.end() ? 0 : found->second;
      setCount(it, c);
      const int tint = f == SmartFilter::suspicious && c > 0 ? 1 : 0;
      if (it->data(TintRole).toInt() != tint) it->setData(tint, TintRole);
      break;
    }
    case Kind::Account: {
      const QString d = it->data(DirectoryRole).toString();
      QStringList problems;
      for (const MailAccount* a : accountsFor(d)) {
        const auto p = store_.backupProblems().find(qs(a->id.string()));
        if (p != store_.backupProblems().end()) problems << qs(p->text());
      }
      const QVariant v = problems.isEmpty() ? QVariant() : QVariant(problems.join(QLatin1Char('\n')));
      if (it->data(ProblemRole) != v) it->setData(v, ProblemRole);
      const auto folders = store_.folders().find(d);
      for (int c = 0; c < it->rowCount(); ++c) {
        QStandardItem* f = it->child(c);
        int n = 0;
        if (folders != store_.folders().end())
          for (const auto& s : folders->second)
            if (s.folder == f->data(FolderRole).toString()) {
              n = s.count;
              break;
            }
        setCount(f, n);
      }
      break;
    }
    default: break;
    }
  }
}

std::optional<SidebarItem> SidebarModel::tag(const QModelIndex& index) const {
  if (!index.isValid() || isLeaving(index)) return std::nullopt;
  switch (Kind(index.data(KindRole).toInt())) {
  case Kind::Everything: return SidebarItem::makeAll();
  case Kind::Shelf: return SidebarItem::makeSmart(SmartFilter(index.data(ShelfRole).toInt()));
  case Kind::Saved: return SidebarItem::makeSaved(QUuid::fromString(index.data(SavedIdRole).toString()));
  case Kind::Account: return SidebarItem::makeAccount(index.data(DirectoryRole).toString());
  case Kind::Folder:
    return SidebarItem::makeFolder(index.data(DirectoryRole).toString(), index.data(FolderRole).toString());
  default: return std::nullopt;
  }
}

QModelIndex SidebarModel::indexOf(const SidebarItem& item) const {
  const QString key = BrowserText::sidebarKey(item);
  const QModelIndexList hits = match(index(0, 0), KeyRole, key, 1, Qt::MatchExactly | Qt::MatchRecursive);
  return hits.isEmpty() ? QModelIndex() : hits.front();
}

QModelIndex SidebarModel::indexOfAnchor(const QString& anchor) const {
  const QModelIndexList hits = match(index(0, 0), AnchorRole, anchor, 1, Qt::MatchExactly | Qt::MatchRecursive);
  return hits.isEmpty() ? QModelIndex() : hits.front();
}

QModelIndex SidebarModel::accountIndex(const QString& directory) const {
  return indexOf(SidebarItem::makeAccount(directory));
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || isLeaving(index)) return Qt::NoItemFlags;
  switch (Kind(index.data(KindRole).toInt())) {
  case Kind::VaultHeader:
  case Kind::Section: return Qt::NoItemFlags | Qt::ItemIsEnabled;
  case Kind::AddAccount: return Qt::ItemIsEnabled;
  default: return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  }
}

} // namespace bx
