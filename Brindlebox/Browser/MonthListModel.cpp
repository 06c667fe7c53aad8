#include "Browser/MonthListModel.h"

#include <algorithm>

namespace bx {

MonthListModel::MonthListModel(QObject* parent) : QAbstractListModel(parent) {}

bool MonthListModel::setGroups(const std::vector<MonthGroup>& groups, int version) {
  // A rescan that changed nothing, or a key that did not change what a
  // search finds, regroups into the same rows: laying out a list of the
  // whole vault again would cost a frame many times over.
  const bool same = groups.size() == groups_.size() &&
                    std::equal(groups.begin(), groups.end(), groups_.begin(), [](const MonthGroup& a, const MonthGroup& b) {
                      return a.key == b.key && a.records == b.records;
                    });
  if (same) {
    version_ = version;
    byPath_.clear();
    if (!items_.empty()) emit dataChanged(index(0), index(int(items_.size()) - 1));
    return false;
  }
  beginResetModel();
  groups_ = groups;
  version_ = version;
  items_.clear();
  headerRows_.clear();
  byPath_.clear();
  size_t total = groups_.size();
  for (const auto& g : groups_) total += g.records.size();
  items_.reserve(total);
  headerRows_.reserve(groups_.size());
  for (int gi = 0; gi < int(groups_.size()); ++gi) {
    headerRows_.push_back(int(items_.size()));
    items_.push_back({gi, -1});
    const int n = int(groups_[size_t(gi)].records.size());
    for (int r = 0; r < n; ++r) items_.push_back({gi, r});
  }
  endResetModel();
  return true;
}

int MonthListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(items_.size());
}

const MonthGroup* MonthListModel::groupAt(int row) const {
  if (row < 0 || row >= int(items_.size())) return nullptr;
  return &groups_[size_t(items_[size_t(row)].group)];
}

const MessageRecord* MonthListModel::recordAt(int row) const {
  if (row < 0 || row >= int(items_.size())) return nullptr;
  const Item& it = items_[size_t(row)];
  if (it.record < 0) return nullptr;
  return groups_[size_t(it.group)].records[size_t(it.record)];
}

int MonthListModel::monthIndexAt(int row) const {
  const MonthGroup* g = groupAt(row);
  return g ? g->key.index() : 0;
}

int MonthListModel::headerRow(int monthIndex) const {
  for (size_t i = 0; i < groups_.size(); ++i)
    if (groups_[i].key.index() == monthIndex) return headerRows_[i];
  return -1;
}

int MonthListModel::rowOfPath(std::string_view path) const {
  if (byPath_.empty() && !items_.empty()) {
    byPath_.reserve(items_.size());
    for (int row = 0; row < int(items_.size()); ++row)
      if (const MessageRecord* r = recordAt(row)) byPath_.emplace(std::string_view(r->path), row);
  }
  const auto it = byPath_.find(path);
  return it == byPath_.end() ? -1 : it->second;
}

int MonthListModel::rowOfPath(const QString& path) const {
  const QByteArray utf8 = path.toUtf8();
  return rowOfPath(std::string_view(utf8.constData(), size_t(utf8.size())));
}

QString MonthListModel::anchorAt(int row) const {
  if (const MessageRecord* r = recordAt(row)) return QString::fromStdString(r->path);
  if (const MonthGroup* g = groupAt(row)) return monthAnchor(g->key.index());
  return {};
}

QVariant MonthListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(items_.size())) return {};
  const int row = index.row();
  const MessageRecord* r = recordAt(row);
  switch (role) {
  case KindRole: return int(r ? ItemKind::Row : ItemKind::Header);
  case PathRole: return r ? QVariant(QString::fromStdString(r->path)) : QVariant();
  case MonthIndexRole: return monthIndexAt(row);
  case AnchorRole: return anchorAt(row);
  case Qt::DisplayRole:
  case Qt::AccessibleTextRole: {
    if (!r) return groupAt(row)->key.title();
    const QString subject = r->subject.empty() ? QStringLiteral("(no subject)") : QString::fromStdString(r->subject);
    return QString::fromStdString(r->fromDisplay()) + QStringLiteral(", ") + subject + QStringLiteral(", ") +
           Fmt::rowDate(r->date);
  }
  default: return {};
  }
}

Qt::ItemFlags MonthListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // Headers are not selectable: the arrow keys and clicks only land on rows.
  return isHeader(index.row()) ? Qt::ItemIsEnabled : (Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

} // namespace bx
