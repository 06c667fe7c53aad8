#pragma once

#include <QListView>
#include <QPointer>
#include <QTimer>
#include <optional>

class QVariantAnimation;

namespace bx {

class AppStore;
class MonthListModel;
class MessageDelegate;
class RowFades;

// The scrolling list of month headers and message rows. Its selection is
// the store's selected path: a click assigns it (which opens the message),
// the arrow keys step it through the store, and only a selection that a key
// moved scrolls into view. As it scrolls it tells the store's timeline
// which month is at its top, and it follows the timeline's scrub requests.
class MessageList : public QListView {
  Q_OBJECT
public:
  static constexpr int bottomGap = 24;

  explicit MessageList(AppStore& store, QWidget* parent = nullptr);
  ~MessageList() override;

  MonthListModel* monthModel() const { return model_; }
  MessageDelegate* messageDelegate() const { return delegate_; }

  // The row or header at the top edge of the viewport, or -1.
  int topRow() const;
  // "month:<index>" or the path of the item at the top, or empty.
  QString topAnchor() const;
  // The rectangle of a message's row in viewport coordinates, if laid out.
  std::optional<QRect> rowRect(const QString& path) const;

  void keyboardSearch(const QString&) override {}

  // Rebuilds the model from the store's groups. A regroup of the same view
  // keeps the item at the top; a new selection in the sidebar or a new list
  // epoch starts at the top.
  void reloadGroups();

signals:
  // The pointer pressed a row (the list then has the focus).
  void rowClicked(const QString& path);

protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool viewportEvent(QEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  void updateGeometries() override;

private:
  void syncSelection();
  void reportTopMonth();
  void followScrub();
  void scrollRowIntoView(int row);
  void scrollToRowAtTop(int row);
  void setHoverRow(int row);
  void armMidnightRefresh();
  void showRowMenu(int row, const QPoint& globalPos);

  AppStore& store_;
  MonthListModel* model_;
  MessageDelegate* delegate_;
  bool reporting_ = true;         // off while a scroll made for a scrub runs
  QString lastSidebarKey_;
  int lastEpoch_ = -1;
  QTimer midnight_;
  QVariantAnimation* scrollAnimation_ = nullptr;
  RowFades* hoverFades_;
  RowFades* selectFades_;
};

} // namespace bx
