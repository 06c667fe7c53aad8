#pragma once
// The table of a free-up plan: one row per server message with its UID,
// date, server size and the state of its vault copy, under a collapsible
// section of the messages that stay on the server. While verification runs it
// follows the row being checked.
//
// Rows are painted by a delegate over a flat model, so a plan of tens of
// thousands of messages costs one row's paint per visible row; a new plan
// snapshot touches only the rows whose UID, status or size changed.
#include "Engines/CleanupPlan.h"

#include "Theme/AnimatedValue.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QHash>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <vector>

namespace bx {

class VerifyLedgerModel : public QAbstractListModel {
  Q_OBJECT
public:
  enum class RowKind { KeptHeader, KeptItem, ColumnHeader, Item };
  enum Role { KindRole = Qt::UserRole + 1, IdentityRole, ItemIndexRole };

  explicit VerifyLedgerModel(QObject* parent = nullptr);

  void setPlan(const CleanupPlan& plan);
  void setShowKept(bool show);
  const CleanupPlan& plan() const { return plan_; }
  bool showKept() const { return showKept_; }
  // Plan indices of the kept items, in plan order.
  const std::vector<std::size_t>& kept() const { return kept_; }

  RowKind kind(int row) const;
  // "k" + UID for a kept row, the UID for an item row, "" for headers.
  QString identity(int row) const;
  // The plan item a row shows; nullptr for headers.
  const CleanupItem* item(int row) const;
  // Row of plan item `index` in the full list.
  int itemRow(std::size_t index) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

private:
  int keptHeaderRows() const { return kept_.empty() ? 0 : 1; }
  int keptItemRows() const { return showKept_ ? int(kept_.size()) : 0; }
  int firstItemRow() const { return keptHeaderRows() + keptItemRows() + 1; }
  static std::vector<std::size_t> keptOf(const CleanupPlan& plan);
  static bool sameRow(const CleanupItem& a, const CleanupItem& b);

  CleanupPlan plan_;
  std::vector<std::size_t> kept_;
  bool showKept_ = true;
};

// What is moving in the ledger right now: the kept section's chevron and
// the vault-copy symbols that have just appeared.
struct VerifyLedgerMotion {
  double chevronAngle = 90;
  // By UID: how far its symbol has come in (0…1, a spring may pass 1).
  QHash<std::uint32_t, double> entering;
  bool reduce = false;  // the symbols only fade
};

class VerifyLedgerDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  explicit VerifyLedgerDelegate(const VerifyLedgerMotion* motion = nullptr, QObject* parent = nullptr)
      : QStyledItemDelegate(parent), motion_(motion) {}
  static constexpr int kRowHeight = 26;

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
  const VerifyLedgerMotion* motion_;
};

class VerifyLedger : public QListView {
  Q_OBJECT
public:
  VerifyLedger(const CleanupPlan& plan, std::int64_t checked, bool showKept, QWidget* parent = nullptr);

  VerifyLedgerModel* ledgerModel() const { return model_; }

  void setPlan(const CleanupPlan& plan);
  void setChecked(std::int64_t checked);
  void setShowKept(bool show);
  std::int64_t checked() const { return checked_; }

  // The follow rule: after a change of `checked` to n, the row of item n is
  // brought to the bottom when 11 <= n < 400 and n < items.
  static bool follows(std::int64_t n, std::size_t items);
  // The item whose row is kept at the bottom: the last one followed, until
  // the user scrolls or folds, or the check leaves the follow range. A
  // later layout (the ledger first sized, rows of kept items inserted above,
  // the sheet's parts around it changing) brings it back there, so the row
  // being checked never ends hidden below the edge.
  std::optional<std::size_t> following() const { return following_; }

  const VerifyLedgerMotion& motion() const { return motion_; }

signals:
  // The kept section's header was clicked: the owner flips its flag.
  void showKeptToggled(bool show);

protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

private:
  void tick();
  void keepFollowing();

  VerifyLedgerModel* model_;
  std::int64_t checked_;
  std::optional<std::size_t> following_;
  VerifyLedgerMotion motion_;
  AnimatedValue chevron_;
  // Symbols coming in: when each started, on one clock and one frame timer.
  QHash<std::uint32_t, qint64> enterStart_;
  Animation enterAnimation_;
  QElapsedTimer clock_;
  QTimer frames_;
};

}  // namespace bx
