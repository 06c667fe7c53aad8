// The message list against a real store over a generated vault: clicks,
// arrow keys, scrubs, the month at the top, titles and empty states.

#include "BrowserFixture.h"
#include "SteppedClock.h"
#include "Browser/BrowserText.h"
#include "Browser/BrowserWiring.h"
#include "Shell/AppStoreShell.h"
#include "Shell/MainWindow.h"
#include "Shell/RootView.h"
#include "Reader/MessageReader.h"
#include "Browser/MessageDelegate.h"
#include "Browser/MessageList.h"
#include "Browser/MessageListView.h"
#include "Browser/MonthListModel.h"
#include "Browser/SpineBinding.h"
#include "Browser/TimelineSpine.h"
#include "Theme/Motion.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultEmpty.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QToolBar>
#include <QScrollBar>
#include <QSignalSpy>

using namespace bx;

namespace {

class MessageListViewTest : public test::BrowserFixture {
protected:
  void openWith(int months, int perMonth) {
    int serial = 0;
    test::writeMonths(root(), QDate(2024, 6, 1), months, perMonth, &serial);
    open();
    window = std::make_unique<QWidget>();
    window->resize(900, 600);
    auto* row = new QHBoxLayout(window.get());
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    spine = new TimelineSpine(window.get());
    bindSpine(*spine, *store);
    view = new MessageListView(*store, window.get());
    row->addWidget(spine);
    row->addWidget(view, 1);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    list = view->list();
  }
  void TearDown() override {
    window.reset();
    BrowserFixture::TearDown();
  }
  // The main window's search field once the list has put it in the
  // toolbar, or null.
  static QLineEdit* shownSearchField(QWidget& main) {
    QLineEdit* field = nullptr;
    QTest::qWaitFor([&] {
      field = main.findChild<QLineEdit*>(QStringLiteral("searchField"));
      return field && field->isVisible();
    }, 2000);
    return field && field->isVisible() ? field : nullptr;
  }
  QPoint centreOf(int row) const { return list->visualRect(list->monthModel()->index(row)).center(); }
  int rowOfSelection() const {
    return store->selectedPath() ? list->monthModel()->rowOfPath(*store->selectedPath()) : -1;
  }
  std::optional<int> currentMonth() const {
    const auto m = store->timeline().currentMonth();
    return m ? std::optional<int>(m->index()) : std::nullopt;
  }

  std::unique_ptr<QWidget> window;
  TimelineSpine* spine = nullptr;
  MessageListView* view = nullptr;
  MessageList* list = nullptr;
};

TEST_F(MessageListViewTest, ARowClickSelectsAndOpensOnceAndADoubleClickIsNoSecondSelection) {
  openWith(6, 20);
  QSignalSpy selected(store.get(), &AppStore::selectedPathChanged);
  QSignalSpy opened(store.get(), &AppStore::openMessageChanged);
  const QPoint p = centreOf(3);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(*store->selectedPath(), list->monthModel()->anchorAt(3));
  ASSERT_TRUE(QTest::qWaitFor([&] { return store->openMessage() != nullptr; }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(opened.count(), 1) << "one click reads and publishes the message once";
  EXPECT_TRUE(list->hasFocus()) << "the arrow keys work right after a click";

  // A double-click as the window system delivers it: press, release, then
  // the second press as a double-click event, release.
  const QPoint q = centreOf(5);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, q);
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened.count() == 2; }, 5000));
  QMouseEvent dbl(QEvent::MouseButtonDblClick, q, list->viewport()->mapToGlobal(q), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
  QCoreApplication::sendEvent(list->viewport(), &dbl);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, q);
  QTest::qWait(100);
  EXPECT_EQ(selected.count(), 2);
  EXPECT_EQ(opened.count(), 2) << "the second press of a double-click opens nothing again";
  EXPECT_EQ(*store->selectedPath(), list->monthModel()->anchorAt(5));
}

TEST_F(MessageListViewTest, ArrowKeysMoveAndScrollButAtTheEndTheNextClickDoesNotScroll) {
  openWith(3, 40);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(1));
  const int start = list->verticalScrollBar()->value();
  // Walk down past the bottom of the viewport: the list follows.
  const int visibleRows = list->viewport()->height() / MessageDelegate::rowHeight();
  for (int i = 0; i < visibleRows + 3; ++i) QTest::keyClick(list, Qt::Key_Down);
  EXPECT_GT(list->verticalScrollBar()->value(), start);
  const QRect sel = list->visualRect(list->monthModel()->index(rowOfSelection()));
  EXPECT_TRUE(list->viewport()->rect().contains(sel)) << "the selected row is fully in view";

  // To the last row, then once more.
  list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list->monthModel()->rowCount() - 1));
  const QString last = *store->selectedPath();
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(*store->selectedPath(), last);
  // Scroll to the top by hand and click a row there: nothing scrolls.
  list->verticalScrollBar()->setValue(0);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(2));
  QTest::qWait(30);
  EXPECT_EQ(list->verticalScrollBar()->value(), 0);
  // Page keys scroll without selecting.
  const QString before = *store->selectedPath();
  QTest::keyClick(list, Qt::Key_PageDown);
  EXPECT_GT(list->verticalScrollBar()->value(), 0);
  EXPECT_EQ(*store->selectedPath(), before);
  // Letters are no type-ahead search.
  QTest::keyClick(list, Qt::Key_R);
  EXPECT_EQ(*store->selectedPath(), before);
}

TEST_F(MessageListViewTest, ASpineDragPutsTheMonthHeaderAtTheTop) {
  openWith(24, 12);
  const MonthKey target(2023, 3);
  const auto& g = spine->geometryNow();
  ASSERT_TRUE(g.hasPosition(target.index()));
  const QPoint p(50, int(std::round(g.top(target.index()) + g.rowHeight / 2)));
  QTest::mousePress(spine, Qt::LeftButton, {}, QPoint(50, int(g.top(MonthKey(2024, 6).index()) + 2)));
  QTest::mouseMove(spine, p);
  QTest::mouseRelease(spine, Qt::LeftButton, {}, p);
  EXPECT_EQ(list->topAnchor(), MonthListModel::monthAnchor(target.index()));
  EXPECT_EQ(currentMonth(), target.index());
  const QRect header = list->visualRect(list->monthModel()->index(list->monthModel()->headerRow(target.index())));
  EXPECT_EQ(header.top(), 0);
}

TEST_F(MessageListViewTest, AScrubToTheOldestMonthKeepsItCurrent) {
  openWith(12, 4);
  const MonthKey oldest(2023, 7);
  store->scrub(oldest);
  QTest::qWait(20);
  EXPECT_EQ(currentMonth(), oldest.index()) << "too little list below: the header cannot reach the top";
  EXPECT_NE(list->topAnchor(), MonthListModel::monthAnchor(oldest.index()));
  EXPECT_EQ(spine->currentMonth(), oldest.index());
}

TEST_F(MessageListViewTest, TheListEndsTwentyFourPixelsBelowItsLastRow) {
  openWith(6, 10);
  list->setFocus();
  for (const int height : {600, 450}) {
    window->resize(900, height);
    QCoreApplication::processEvents();
    QTest::keyClick(list, Qt::Key_End);
    const int last = list->monthModel()->rowCount() - 1;
    EXPECT_EQ(list->visualRect(list->monthModel()->index(last)).bottom() + 1,
              list->viewport()->height() - MessageList::bottomGap)
        << height;
  }
}

// Rows that fit the pane only without the 24 px below the last row: the
// scroll bar shows once and stays, instead of coming and going for ever.
TEST_F(MessageListViewTest, AListThatAlmostFitsSettles) {
  openWith(1, 3);
  const int last = list->monthModel()->rowCount() - 1;
  ASSERT_EQ(last, 3) << "a month header and its three rows";
  ASSERT_EQ(list->verticalScrollBar()->value(), 0);
  const int contents = list->visualRect(list->monthModel()->index(last)).bottom() + 1;
  struct Toggles : QObject {
    int shown = 0, hidden = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Show) ++shown;
      if (e->type() == QEvent::Hide) ++hidden;
      return false;
    }
  } toggles;
  QScrollBar* bar = list->verticalScrollBar();
  bar->installEventFilter(&toggles);
  for (const int slack : {MessageList::bottomGap / 2, 1, MessageList::bottomGap - 1}) {
    SCOPED_TRACE(slack);
    // The pane as high as the rows and a part of the gap.
    window->resize(900, window->height() + contents + slack - list->viewport()->height());
    QTest::qWait(100);
    ASSERT_EQ(list->viewport()->height(), contents + slack);
    toggles.shown = toggles.hidden = 0;
    QTest::qWait(400);
    EXPECT_EQ(toggles.shown + toggles.hidden, 0) << "the bar came and went";
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), MessageList::bottomGap - slack);
  }
  // Room for the gap as well: no bar.
  window->resize(900, window->height() + contents + MessageList::bottomGap - list->viewport()->height());
  QTest::qWait(200);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 0);
}

// The hover tint eases in and out over 0.1 s and the selection over 0.12 s;
// each settles at its state in full.
TEST_F(MessageListViewTest, HoverAndSelectionEaseInAndOut) {
  openWith(2, 6);
  Motion::setInstant(false);
  MessageDelegate* d = list->messageDelegate();
  const int first = 1, second = 2;  // row 0 is the month header
  QTest::mouseMove(list->viewport(), centreOf(first));
  EXPECT_LT(d->hoverLevel(first), 1.0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return d->hoverLevel(first) == 1.0; }, 1000));
  QTest::mouseMove(list->viewport(), centreOf(second));
  EXPECT_GT(d->hoverLevel(first), 0.0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return d->hoverLevel(first) == 0.0 && d->hoverLevel(second) == 1.0; }, 1000));
  EXPECT_TRUE(d->hoverFades().isEmpty());

  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(second));
  EXPECT_LT(d->selectLevel(second), 1.0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return d->selectLevel(second) == 1.0; }, 1000));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(first));
  EXPECT_GT(d->selectLevel(second), 0.0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return d->selectLevel(second) == 0.0 && d->selectLevel(first) == 1.0; }, 1000));
  EXPECT_TRUE(d->selectFades().isEmpty());
  Motion::setInstant(true);
}

// In the main window the search field ends the toolbar, clear of the
// window's edge but not pushed away from it.
TEST_F(MessageListViewTest, TheSearchFieldKeepsAMarginFromTheWindowEdge) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 2, 3, &serial);
  open();
  installBrowserColumns();
  AppStoreShell shell(*store);
  MainWindow main(shell);
  for (const QSize size : {QSize(1280, 800), QSize(1100, 620)}) {
    main.resize(size);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    QLineEdit* field = shownSearchField(main);
    ASSERT_NE(field, nullptr);
    QCoreApplication::processEvents();
    const int gap = main.width() - field->mapTo(&main, QPoint(field->width(), 0)).x();
    EXPECT_GE(gap, 8) << size.width();
    EXPECT_LE(gap, 24) << size.width();
  }
}

// The search field, the subtitle and the window title are the list's: the
// desktop's find key reaches the field while the list is on screen, and
// all of them leave when the welcome page takes the window.
TEST_F(MessageListViewTest, ToolbarPiecesComeAndGoWithTheList) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 2, 3, &serial);
  open();
  installBrowserColumns();
  AppStoreShell shell(*store);
  MainWindow main(shell);
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  main.activateWindow();
  QLineEdit* field = shownSearchField(main);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(main.windowTitle(), BrowserText::windowTitle(store->sidebarTitle()));
  EXPECT_FALSE(field->hasFocus());
  QTest::keySequence(&main, QKeySequence::Find);
  EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 1000));

  QTemporaryDir empty;
  ASSERT_TRUE(store->changeArchiveRoot(empty.path().toStdString()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return main.root()->showsWelcome() && !store->indexing(); }, 5000));
  QCoreApplication::processEvents();
  EXPECT_FALSE(field->isVisible());
  for (auto* block : main.findChild<QToolBar*>(QStringLiteral("toolbar"))->findChildren<TextBlock*>())
    EXPECT_FALSE(block->isVisible()) << block->text().toStdString();
  EXPECT_EQ(main.windowTitle(), "Brindlebox");
  main.setFocus();
  QTest::keySequence(&main, QKeySequence::Find);
  QCoreApplication::processEvents();
  EXPECT_FALSE(field->hasFocus());
}

TEST_F(MessageListViewTest, TheMonthAtTheTopIsReportedWhileScrolling) {
  openWith(12, 10);
  EXPECT_EQ(currentMonth(), MonthKey(2024, 6).index());
  QScrollBar* bar = list->verticalScrollBar();
  const int header = list->monthModel()->headerRow(MonthKey(2024, 2).index());
  const QRect r = list->visualRect(list->monthModel()->index(header));
  bar->setValue(bar->value() + r.top() + 5);  // inside February's header
  EXPECT_EQ(currentMonth(), MonthKey(2024, 2).index());
  bar->setValue(bar->value() + MessageDelegate::headerHeight() + 2 * MessageDelegate::rowHeight());  // a row of February
  EXPECT_EQ(currentMonth(), MonthKey(2024, 2).index());
  bar->setValue(bar->value() + 9 * MessageDelegate::rowHeight());  // January's header
  EXPECT_EQ(currentMonth(), MonthKey(2024, 1).index());
}

TEST_F(MessageListViewTest, ARegroupKeepsTheTopItemAndANewSelectionStartsAtTheTop) {
  openWith(12, 10);
  QScrollBar* bar = list->verticalScrollBar();
  bar->setValue(bar->maximum() / 2);
  const QString top = list->topAnchor();
  ASSERT_FALSE(top.isEmpty());
  store->refreshVisible();
  EXPECT_EQ(list->topAnchor(), top);
  store->setSidebar(SidebarItem::makeAccount(QStringLiteral("Work")));
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(list->topAnchor(), MonthListModel::monthAnchor(MonthKey(2024, 6).index()));
}

TEST_F(MessageListViewTest, AListNobodyMovedStaysAtTheTopWhenNewerMonthsArrive) {
  // A scan delivers older months before newer ones: the list must end at
  // the newest month, not at the first batch's top row.
  openWith(12, 10);
  int serial = 1000;
  test::writeMonths(root(), QDate(2025, 6, 1), 6, 10, &serial);
  store->reloadArchive();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !store->indexing().has_value(); }, 30000));
  store->refreshVisible();
  QTest::qWait(20);
  EXPECT_EQ(list->verticalScrollBar()->value(), 0);
  EXPECT_EQ(list->topAnchor(), MonthListModel::monthAnchor(MonthKey(2025, 6).index()));
  EXPECT_EQ(currentMonth(), MonthKey(2025, 6).index());
  EXPECT_EQ(spine->currentMonth(), MonthKey(2025, 6).index());
}

TEST_F(MessageListViewTest, TitleSubtitleSearchAndResultsHeader) {
  openWith(3, 5);
  EXPECT_EQ(view->windowTitle(), QStringLiteral("Everything"));
  EXPECT_EQ(view->subtitle(), QStringLiteral("15 messages · 2024"));
  EXPECT_FALSE(view->resultsHeader()->isVisibleTo(view));
  view->searchField()->setFocus();
  QTest::keyClicks(view->searchField(), QStringLiteral("   "));
  EXPECT_EQ(store->query(), QStringLiteral("   "));
  EXPECT_FALSE(view->resultsHeader()->isVisibleTo(view)) << "only spaces: no results header";
  view->searchField()->clear();
  QTest::keyClicks(view->searchField(), QStringLiteral("Report"));
  EXPECT_EQ(store->query(), QStringLiteral("Report"));
  EXPECT_TRUE(view->resultsHeader()->isVisibleTo(view));
  EXPECT_EQ(view->resultsHeader()->text(), QStringLiteral("results for “Report”"));
}

// The results header comes down from the top edge as it fades in and goes
// back up as it fades out, on the snappy spring, and the list moves with
// it; under Reduce Motion it stands in its place and only fades. Time is
// stepped by hand, so the halfway state does not depend on the machine.
TEST_F(MessageListViewTest, TheResultsHeaderSlidesInAndOutOrOnlyFades) {
  openWith(3, 5);
  const struct {
    const char* name;
    bool reduce;
    Animation animation;
  } cases[] = {{"moving", false, Motion::snappy}, {"Reduce Motion", true, Motion::fade}};
  ResultsHeader* header = view->resultsHeader();
  QLineEdit* field = view->searchField();
  field->setFocus();
  const int h = header->sizeHint().height();
  auto headerTop = [&] { return header->mapTo(view, QPoint()).y(); };
  auto listTop = [&] {
    view->layout()->activate();
    return list->mapTo(view, QPoint()).y();
  };
  auto opacity = [&] {
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(header->graphicsEffect());
    return fade ? fade->opacity() : 1.0;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReduceMotion::shared().setOverride(c.reduce);
    Motion::setInstant(false);
    test::SteppedClock clock;
    const int duration = c.animation.durationMs();
    const int at = duration * 3 / 10;
    const double done = c.animation.progress(double(at) / duration);
    ASSERT_GT(done, 0.1);
    ASSERT_LT(done, 0.9);
    for (const bool in : {true, false}) {
      SCOPED_TRACE(in ? "in" : "out");
      if (in) {
        QTest::keyClicks(field, QStringLiteral("Report"));
      } else {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
      }
      clock.step(at);
      const double shown = in ? done : 1 - done;
      EXPECT_TRUE(header->isVisibleTo(view));
      EXPECT_NEAR(opacity(), shown, 0.03);
      if (c.reduce) {
        EXPECT_EQ(headerTop(), 0) << "no movement";
        EXPECT_EQ(listTop(), h);
      } else {
        EXPECT_NEAR(headerTop(), -(1 - shown) * h, 1.5);
        EXPECT_NEAR(listTop(), shown * h, 1.5);
      }
      clock.run(duration);
      EXPECT_EQ(header->isVisibleTo(view), in);
      EXPECT_EQ(header->graphicsEffect(), nullptr) << "drawn as before once still";
      EXPECT_EQ(listTop(), in ? h : 0);
      if (in) {
        EXPECT_EQ(headerTop(), 0);
      }
    }
    EXPECT_EQ(header->text(), QStringLiteral("results for “Report”")) << "left with the results it showed";
  }
}

TEST_F(MessageListViewTest, EmptyStates) {
  openWith(2, 3);
  struct Case {
    SidebarItem item;
    QString title;
    bool showEverything;
  } cases[] = {
      {SidebarItem::makeSmart(SmartFilter::suspicious), QStringLiteral("All clear"), true},
      {SidebarItem::makeSmart(SmartFilter::large), QStringLiteral("Nothing here"), true},
      {SidebarItem::makeSmart(SmartFilter::trackers), QStringLiteral("Nothing here"), true},
      {SidebarItem::makeAccount(QStringLiteral("Nobody")), QStringLiteral("Nothing here"), true},
  };
  for (const auto& c : cases) {
    store->setSidebar(c.item);
    auto* empty = qobject_cast<VaultEmpty*>(view->emptyState());
    ASSERT_TRUE(empty) << c.title.toStdString();
    EXPECT_EQ(empty->titleBlock()->text(), c.title);
    EXPECT_EQ(empty->textBlock()->text(), BrowserText::emptyText(c.item));
    auto* show = empty->findChild<VaultButton*>();
    EXPECT_EQ(show != nullptr, c.showEverything);
  }
  auto* show = qobject_cast<VaultEmpty*>(view->emptyState())->findChild<VaultButton*>();
  QTest::mouseClick(show, Qt::LeftButton);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeAll());
  EXPECT_EQ(view->emptyState(), nullptr);

  store->setQuery(QStringLiteral("zzzz nothing"));
  auto* search = qobject_cast<VaultEmpty*>(view->emptyState());
  ASSERT_TRUE(search);
  EXPECT_EQ(search->titleBlock()->text(), QStringLiteral("Nothing matches “zzzz nothing”"));
}

// Each key typed into the search changes the list; the reader's empty state
// is made again only when the list comes to have rows or to have none.
TEST_F(MessageListViewTest, ReadersEmptyStateFollowsWhetherTheListHasRows) {
  openWith(2, 3);
  ReaderView reader(store.get());
  auto offersNewest = [&] { return reader.emptyState()->findChild<QWidget*>(QStringLiteral("openNewest")) != nullptr; };
  QWidget* first = reader.emptyState();
  ASSERT_TRUE(first);
  EXPECT_TRUE(offersNewest());

  store->setQuery(QStringLiteral("Report"));
  ASSERT_FALSE(store->visible().empty());
  store->setQuery(QStringLiteral("Repor"));
  EXPECT_EQ(reader.emptyState(), first) << "rows before and after: the same empty state";

  store->setQuery(QStringLiteral("zzzz nothing"));
  ASSERT_TRUE(store->visible().empty());
  ASSERT_TRUE(reader.emptyState());
  EXPECT_FALSE(offersNewest());
  QWidget* none = reader.emptyState();
  store->setQuery(QStringLiteral("zzzz nothing at all"));
  EXPECT_EQ(reader.emptyState(), none);

  store->setQuery(QString());
  ASSERT_TRUE(reader.emptyState());
  EXPECT_TRUE(offersNewest());
}

TEST_F(MessageListViewTest, EmptyVaultOffersABackUpOnlyWithAccounts) {
  open();
  MessageListView v(*store);
  EXPECT_EQ(v.emptyKind(), QStringLiteral("vault"));
  auto* empty = qobject_cast<VaultEmpty*>(v.emptyState());
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->titleBlock()->text(), QStringLiteral("The vault is empty"));
  auto* backUp = empty->findChild<VaultButton*>();
  ASSERT_TRUE(backUp);
  EXPECT_FALSE(backUp->isEnabled());
  EXPECT_EQ(v.subtitle(), QStringLiteral("0 messages"));
}

TEST_F(MessageListViewTest, MarkupInSubjectsAndTitlesStaysText) {
  int serial = 0;
  test::Mail m;
  m.date = QDateTime(QDate(2024, 5, 2), QTime(10, 0), QTimeZone::utc());
  m.subject = QStringLiteral("R&D <b>x</b> <img src=x>");
  m.fromName = QStringLiteral("R&D <b>x");
  test::writeMail(root(), m, serial++);
  openWith(0, 0);
  ASSERT_EQ(list->monthModel()->rowCount(), 2);
  const MessageRecord* r = list->monthModel()->recordAt(1);
  ASSERT_TRUE(r);
  EXPECT_EQ(MessageDelegate::subjectText(*r), QStringLiteral("R&D <b>x</b> <img src=x>"));
  EXPECT_TRUE(list->monthModel()->index(1).data(Qt::AccessibleTextRole).toString().startsWith(QStringLiteral("R&D <b>x, ")));
}

}  // namespace
