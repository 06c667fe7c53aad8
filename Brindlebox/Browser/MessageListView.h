#pragma once

#include "Views/ThemedWidget.h"

#include <QPointer>

class QAction;

class QLabel;
class QStackedWidget;
class QLineEdit;
class QStackedLayout;

namespace bx {

class AnimatedValue;
class AppStore;
class MessageList;
class ResultsHeader;
class VaultButton;
class CountText;
class TextBlock;

// The middle column: the list of the visible messages by month, a results
// header while a search is typed, or one of four empty states. It also
// carries the window's search field and subtitle, which the root window
// puts into its toolbar, and sets its window title to the sidebar's title.
class MessageListView : public ThemedWidget {
  Q_OBJECT
public:
  explicit MessageListView(AppStore& store, QWidget* parent = nullptr);

  MessageList* list() const { return list_; }
  QLineEdit* searchField() const { return search_; }
  TextBlock* subtitleLabel() const { return subtitle_; }
  ResultsHeader* resultsHeader() const { return results_; }
  // The empty state on show, or null while the list is shown.
  QWidget* emptyState() const;

  QString subtitle() const;
  // Which empty state applies now: "search", "reading", "filter", "vault".
  QString emptyKind() const;

signals:
  // The subtitle changed (the toolbar shows it).
  void subtitleChanged(const QString& subtitle);

protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void placeInToolbar();
  void showInToolbar(bool on);
  void refresh();
  void showResults(bool on);
  void placeResults();
  void rebuildEmptyState();
  void updateTitle();

  AppStore& store_;
  QLineEdit* search_;
  TextBlock* subtitle_;
  ResultsHeader* results_;
  // The header's slot over the list: as tall as the part of the header that
  // has come in, so the list below moves with it.
  QWidget* resultsSlot_;
  AnimatedValue* resultsShown_;  // 0 = gone, 1 = in place
  bool resultsWanted_ = false;
  bool resultsMove_ = true;  // slides with its fade; false under Reduce Motion
  MessageList* list_;
  QStackedLayout* stack_;
  QWidget* emptyHost_;
  QPointer<QWidget> empty_;
  QString emptyKey_;
  bool placed_ = false;
  QPointer<QAction> leadAction_, trailAction_;  // the subtitle's and the search field's places in the toolbar
  QString titleBefore_;                         // the window's title while the list is not shown
};

// The bar above the list while a search is typed: the number of results,
// "results for “query”" and "Save to Sidebar".
class ResultsHeader : public ThemedWidget {
  Q_OBJECT
public:
  explicit ResultsHeader(AppStore& store, QWidget* parent = nullptr);
  void setResults(int count, const QString& trimmedQuery);
  QString countText() const;
  QString text() const;
  VaultButton* saveButton() const { return save_; }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  CountText* count_;
  int shownCount_ = 0;
  TextBlock* text_;
  VaultButton* save_;
};

} // namespace bx
