#pragma once

#include "Store/StoreTypes.h"

#include <QAbstractListModel>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bx {

// The message list as one flat list: each month group's header followed by
// its rows. Rows point into the store's records, which live until the store
// publishes the next groups, and the store announces that with a new
// version: the model is replaced at every publish, never read in between.
class MonthListModel : public QAbstractListModel {
  Q_OBJECT
public:
  enum Role {
    KindRole = Qt::UserRole + 1,  // ItemKind
    PathRole,                     // QString, rows only
    MonthIndexRole,               // int: the month of a header or a row
    AnchorRole,                   // "month:<index>" for headers, the path for rows
  };
  enum class ItemKind { Header, Row };

  explicit MonthListModel(QObject* parent = nullptr);

  // Replaces the whole list (a reset) and returns true; when the groups
  // hold the same rows as now, only their contents are announced as changed
  // and it returns false: the list keeps its layout.
  bool setGroups(const std::vector<MonthGroup>& groups, int version);
  int version() const { return version_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  bool isHeader(int row) const { return row >= 0 && row < int(items_.size()) && items_[size_t(row)].record < 0; }
  const MonthGroup* groupAt(int row) const;
  const MessageRecord* recordAt(int row) const;
  int monthIndexAt(int row) const;
  // The row of a month's header, or -1.
  int headerRow(int monthIndex) const;
  // The row of a message, or -1.
  int rowOfPath(const QString& path) const;
  int rowOfPath(std::string_view path) const;
  // The anchor of an item: "month:" and the month index, or the path.
  QString anchorAt(int row) const;
  static QString monthAnchor(int monthIndex) { return QStringLiteral("month:") + QString::number(monthIndex); }

  const std::vector<MonthGroup>& groups() const { return groups_; }

private:
  struct Item {
    int group;
    int record;  // -1 for the header
  };
  std::vector<MonthGroup> groups_;
  std::vector<Item> items_;
  std::vector<int> headerRows_;
  mutable std::unordered_map<std::string_view, int> byPath_;
  int version_ = -1;
};

} // namespace bx
