// The sidebar and the backup strip against a real store.

#include "BrowserFixture.h"
#include "Platform/Appearance.h"
#include "SteppedClock.h"
#include "Browser/SidebarModel.h"
#include "Browser/SidebarView.h"
#include "Browser/VaultStatus.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/CountText.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"

#include <QGraphicsOpacityEffect>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionViewItem>

#include <functional>

using namespace bx;

namespace {

MailAccount account(const std::string& label, const std::string& user) {
  MailAccount a;
  a.id = UUID::random();
  a.label = label;
  a.username = user;
  a.provider = "gmail";
  return a;
}

class SidebarViewTest : public test::BrowserFixture {
protected:
  void build() {
    window = std::make_unique<SidebarView>(*store);
    window->resize(280, 700);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    BrowserFixture::TearDown();
  }
  QModelIndex anchor(const QString& a) const { return window->model()->indexOfAnchor(a); }
  QPoint centre(const QModelIndex& i) const { return window->tree()->visualRect(i).center(); }
  // The row id of the top-level row titled `title`, or empty.
  QString rowId(const QString& title) const {
    const auto* m = window->model();
    for (int r = 0; r < m->rowCount(); ++r)
      if (m->index(r, 0).data().toString() == title) return m->index(r, 0).data(SidebarModel::RowIdRole).toString();
    return {};
  }
  SidebarDelegate* rows() const { return qobject_cast<SidebarDelegate*>(window->tree()->itemDelegate()); }
  QStringList titles() const {
    QStringList out;
    const auto* m = window->model();
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, 0).data().toString();
    return out;
  }
  // The top-level rows (by row id) where a sidebar lays them out now.
  using Layout = std::vector<std::pair<QString, QRect>>;
  static Layout layoutOf(const SidebarView& view) {
    Layout out;
    const auto* m = view.model();
    for (int r = 0; r < m->rowCount(); ++r)
      out.emplace_back(m->index(r, 0).data(SidebarModel::RowIdRole).toString(),
                       view.tree()->visualRect(m->index(r, 0)));
    return out;
  }
  // How a sidebar built afresh on the same store lays its rows out.
  Layout plainLayout() const {
    SidebarView fresh(*store);
    fresh.resize(window->size());
    fresh.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    return layoutOf(fresh);
  }
  // A row as its delegate draws it now into a room `room` px high, on paper
  // taller than any row.
  static constexpr int paperHeight = 60;
  QImage drawnRow(const QModelIndex& index, int room) const {
    SidebarTree* tree = window->tree();
    QStyleOptionViewItem option;
    option.initFrom(tree->viewport());
    option.state &= ~(QStyle::State_MouseOver | QStyle::State_Selected | QStyle::State_HasFocus);
    option.widget = tree;
    option.rect = QRect(0, 0, tree->viewport()->width(), room);
    QImage image(option.rect.width(), paperHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Theme::paper.resolved());
    QPainter painter(&image);
    rows()->paint(&painter, option, index);
    return image;
  }

  std::unique_ptr<SidebarView> window;
};

// How much darker than the paper a region is drawn, and the height of the
// middle of that darkness.
struct Ink {
  double amount = 0;
  double middle = 0;
};
Ink inkIn(const QImage& image, const QRect& region) {
  const int paper = qGray(Theme::paper.resolved().rgb());
  Ink ink;
  double weighted = 0;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x) {
      const int d = paper - qGray(image.pixel(x, y));
      if (d <= 0) continue;
      ink.amount += d;
      weighted += double(d) * y;
    }
  if (ink.amount > 0) ink.middle = weighted / ink.amount;
  return ink;
}

// Part-way through, each of the `moving` rows takes about `share` of the
// height it has in `full`, and every row below them stands higher than in
// `full` by the room they do not take yet; the others keep their height.
void expectRoomPartWay(const std::vector<std::pair<QString, QRect>>& now,
                       const std::vector<std::pair<QString, QRect>>& full, const QStringList& moving, double share) {
  ASSERT_EQ(now.size(), full.size());
  int notYet = 0;
  for (size_t i = 0; i < now.size(); ++i) {
    const auto& [id, rect] = now[i];
    SCOPED_TRACE(id.toStdString());
    ASSERT_EQ(id, full[i].first);
    EXPECT_EQ(rect.top(), full[i].second.top() - notYet);
    if (moving.contains(id)) {
      EXPECT_NEAR(rect.height(), full[i].second.height() * share, 1.0);
      notYet += full[i].second.height() - rect.height();
    } else {
      EXPECT_EQ(rect.height(), full[i].second.height());
    }
  }
  EXPECT_GT(notYet, 0) << "the rows below are still on their way";
}

QAbstractButton* buttonNamed(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text() == text) return b;
  return nullptr;
}

TEST_F(SidebarViewTest, ShelvesWithCountsAndNoSavedSearchSection) {
  int serial = 0;
  test::writeMonths(root(), QDate::currentDate(), 2, 7, &serial);  // 2 with attachments
  open();
  build();
  const QStringList t = titles();
  EXPECT_EQ(t.mid(1, 7), (QStringList{"Shelves", "Everything", "Last 30 Days", "With Attachments", "Trackers Blocked",
                                      "Needs a Second Look", "Over 5 MB"}));
  EXPECT_FALSE(t.contains(QStringLiteral("Saved Searches")));
  EXPECT_EQ(anchor("allMessages").data(SidebarModel::CountRole).toInt(), 14);
  EXPECT_EQ(anchor("smart-attachments").data(SidebarModel::CountRole).toInt(), 2);
  EXPECT_FALSE(anchor("smart-trackers").data(SidebarModel::CountRole).isValid()) << "a count of 0 shows nothing";
  EXPECT_EQ(anchor("smart-suspicious").data(SidebarModel::TintRole).toInt(), 0);
}

TEST_F(SidebarViewTest, AClickWritesTheSelectionOnceAndARightClickSelectsNothing) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 2, 7, &serial);
  open();
  build();
  QSignalSpy changes(store.get(), &AppStore::sidebarChanged);
  QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {}, centre(anchor("smart-attachments")));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeSmart(SmartFilter::attachments));
  EXPECT_EQ(window->tree()->currentIndex(), anchor("smart-attachments"));

  QTest::mousePress(window->tree()->viewport(), Qt::RightButton, {}, centre(anchor("smart-large")));
  QTest::mouseRelease(window->tree()->viewport(), Qt::RightButton, {}, centre(anchor("smart-large")));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeSmart(SmartFilter::attachments));

  // A change made by the store comes back as the highlight, not as a write.
  store->setSidebar(SidebarItem::makeAll());
  EXPECT_EQ(changes.count(), 2);
  EXPECT_EQ(window->tree()->currentIndex(), anchor("allMessages"));
}

TEST_F(SidebarViewTest, RemovingASavedSearch) {
  open();
  const SavedSearch a{QUuid::createUuid(), QStringLiteral("R&D <b>x"), QStringLiteral("rd")};
  const SavedSearch b{QUuid::createUuid(), QStringLiteral("Invoices"), QStringLiteral("invoice")};
  store->setSavedSearches({a, b});
  build();
  EXPECT_TRUE(titles().contains(QStringLiteral("Saved Searches")));
  EXPECT_TRUE(titles().contains(QStringLiteral("R&D <b>x"))) << "names are shown as written";

  store->setSidebar(SidebarItem::makeSaved(a.id));
  auto removeVia = [&](const SavedSearch& s) {
    const auto hits = window->model()->match(window->model()->index(0, 0), Qt::DisplayRole, s.name, 1, Qt::MatchExactly);
    ASSERT_EQ(hits.size(), 1);
    std::unique_ptr<QMenu> menu(window->menuFor(hits.front()));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), QStringLiteral("Remove Saved Search"));
    menu->actions().front()->trigger();
  };
  // Removing another one leaves the selection alone.
  removeVia(b);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeSaved(a.id));
  EXPECT_EQ(store->savedSearches().size(), 1);
  // Removing the selected one selects Everything first.
  removeVia(a);
  EXPECT_EQ(store->sidebar(), SidebarItem::makeAll());
  EXPECT_TRUE(store->savedSearches().isEmpty());
  EXPECT_FALSE(titles().contains(QStringLiteral("Saved Searches")));
}

TEST_F(SidebarViewTest, TwoAccountsWithOneLabelAreOneGroupWhoseMenuNamesEach) {
  open();
  const MailAccount first = account("R&D Work", "ada@example.org");
  const MailAccount second = account("R&D Work", "grace@example.org");
  store->setAccounts({first, second});
  build();
  const QModelIndex group = window->model()->accountIndex(QString::fromStdString(first.directoryName()));
  ASSERT_TRUE(group.isValid());
  int groups = 0;
  for (int r = 0; r < window->model()->rowCount(); ++r)
    if (window->model()->index(r, 0).data(SidebarModel::KindRole).toInt() == int(SidebarModel::Kind::Account)) ++groups;
  EXPECT_EQ(groups, 1);
  std::unique_ptr<QMenu> menu(window->menuFor(group));
  ASSERT_TRUE(menu);
  QStringList texts;
  for (QAction* a : menu->actions())
    if (!a->isSeparator()) texts << a->text();
  EXPECT_EQ(texts, (QStringList{"Back Up R&&D Work (ada@example.org)", "Remove R&&D Work (ada@example.org)…",
                                "Back Up R&&D Work (grace@example.org)", "Remove R&&D Work (grace@example.org)…"}));

  // Removing the second removes the second, not the first.
  QMessageBox* box = window->confirmRemove(second);
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->text(), QStringLiteral("Remove “R&D Work” from Brindlebox?"));
  EXPECT_EQ(box->windowModality(), Qt::WindowModal);
  ASSERT_TRUE(buttonNamed(box, QStringLiteral("Cancel")));
  buttonNamed(box, QStringLiteral("Remove"))->click();
  ASSERT_EQ(store->accounts().size(), 1u);
  EXPECT_EQ(store->accounts().front().username, "ada@example.org");
}

TEST_F(SidebarViewTest, NoRemovalWhileABackupRuns) {
  open();
  const MailAccount a = account("Home", "me@example.org");
  store->setAccounts({a});
  build();
  BackupStatus running;
  running.running = true;
  store->setBackup(running);
  std::unique_ptr<QMenu> menu(window->menuFor(window->model()->accountIndex("Home")));
  ASSERT_TRUE(menu);
  EXPECT_FALSE(menu->actions().at(1)->isEnabled());
  // A confirmation that was open when the run started removes nothing.
  store->setBackup(BackupStatus{});
  QMessageBox* box = window->confirmRemove(a);
  store->setBackup(running);
  buttonNamed(box, QStringLiteral("Remove"))->click();
  EXPECT_EQ(store->accounts().size(), 1u);
}

TEST_F(SidebarViewTest, AScanKeepsSelectionAndOpenGroups) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 2, 10, &serial);
  open();
  build();
  const QModelIndex work = window->model()->accountIndex("Work");
  ASSERT_TRUE(work.isValid());
  window->tree()->expand(work);
  EXPECT_TRUE(store->expandedAccounts().contains("Work"));
  const QModelIndex sent = window->model()->indexOf(SidebarItem::makeFolder("Work", "Sent"));
  QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {}, centre(sent));
  ASSERT_EQ(store->sidebar(), SidebarItem::makeFolder("Work", "Sent"));
  const int sentBefore = sent.data(SidebarModel::CountRole).toInt();

  QSignalSpy changes(store.get(), &AppStore::sidebarChanged);
  test::Mail m;
  m.folder = QStringLiteral("Sent");
  m.date = QDateTime(QDate(2024, 6, 3), QTime(8, 0), QTimeZone::utc());
  test::writeMail(root(), m, serial++);
  store->reloadArchive();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !store->indexing().has_value(); }, 30000));
  const QModelIndex after = window->model()->indexOf(SidebarItem::makeFolder("Work", "Sent"));
  EXPECT_EQ(after.data(SidebarModel::CountRole).toInt(), sentBefore + 1);
  EXPECT_EQ(changes.count(), 0) << "updates never write the selection back";
  EXPECT_EQ(window->tree()->currentIndex(), after);
  EXPECT_TRUE(window->tree()->isExpanded(window->model()->accountIndex("Work")));
}

// A folder of loose .eml files, the README's first example: the files at
// the vault root are one group, never an account per file.
TEST_F(SidebarViewTest, LooseFilesAtTheVaultRootAreOneGroup) {
  int serial = 0;
  test::Mail filed;
  filed.date = QDateTime(QDate(2024, 6, 3), QTime(8, 0), QTimeZone::utc());
  test::writeMail(root(), filed, serial++);
  for (const char* name : {"attach.eml", "plain.eml", "filler00.eml"}) {
    const QString rel = test::writeMail(root(), filed, serial++);
    ASSERT_TRUE(QFile::rename(root() + QLatin1Char('/') + rel, root() + QLatin1Char('/') + QLatin1String(name)));
  }
  open();
  build();
  QStringList groups;
  const auto* m = window->model();
  for (int r = 0; r < m->rowCount(); ++r)
    if (m->index(r, 0).data(SidebarModel::KindRole).toInt() == int(SidebarModel::Kind::Account))
      groups << m->index(r, 0).data().toString();
  EXPECT_EQ(groups, (QStringList{"Work", "Loose Messages"}));

  const QModelIndex loose = window->model()->accountIndex(QString());
  ASSERT_TRUE(loose.isValid());
  EXPECT_EQ(loose.data().toString(), QStringLiteral("Loose Messages"));
  EXPECT_EQ(m->rowCount(loose), 0) << "no folder rows under the loose files";
  QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {}, centre(loose));
  EXPECT_EQ(store->sidebar(), SidebarItem::makeAccount(QString()));
  EXPECT_EQ(store->sidebarTitle(), QStringLiteral("Loose Messages"));
  QStringList shown;
  for (const MessageRecord* r : store->visible()) shown << QString::fromStdString(r->path);
  shown.sort();
  EXPECT_EQ(shown, (QStringList{"attach.eml", "filler00.eml", "plain.eml"}));
}

// The header row grows when the "checked …" line first appears (and
// shrinks when it goes), so the count above it is never cut.
TEST_F(SidebarViewTest, TheVaultHeaderRowFollowsItsLines) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 1, 3, &serial);
  open();
  build();
  VaultHeader* header = window->vaultHeader();
  ASSERT_TRUE(header->checkedText().isEmpty());
  const QModelIndex row = window->model()->index(0, 0);
  const int before = window->tree()->visualRect(row).height();
  EXPECT_GE(before, header->sizeHint().height());

  BackupStatus done;
  done.lastFinished = std::chrono::system_clock::now();
  store->setBackup(done);
  QCoreApplication::processEvents();
  ASSERT_FALSE(header->checkedText().isEmpty());
  const int after = window->tree()->visualRect(row).height();
  EXPECT_GT(after, before);
  EXPECT_GE(after, header->sizeHint().height());
  EXPECT_TRUE(QTest::qWaitFor([&] { return header->height() >= header->sizeHint().height(); }, 1000))
      << header->height() << " of " << header->sizeHint().height();

  store->setBackup(BackupStatus{});
  QCoreApplication::processEvents();
  EXPECT_EQ(window->tree()->visualRect(row).height(), before);
}

// A selected folder row is drawn inside the row only: nothing in the
// indent to its left, in either appearance.
TEST_F(SidebarViewTest, ASelectedFolderRowLeavesItsIndentClear) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 2, 10, &serial);
  open();
  for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    SCOPED_TRACE(scheme == ColorScheme::Dark ? "dark" : "light");
    Appearance::shared().setOverride(scheme);
    build();
    const QModelIndex work = window->model()->accountIndex("Work");
    window->tree()->expand(work);
    const QModelIndex sent = window->model()->indexOf(SidebarItem::makeFolder("Work", "Sent"));
    QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {}, centre(sent));
    QCoreApplication::processEvents();
    const QRect r = window->tree()->visualRect(sent);
    ASSERT_GT(r.left(), 4);
    const QImage shot = window->tree()->viewport()->grab().toImage();
    const QColor inside = shot.pixelColor(r.left() + 8, r.center().y());
    const QColor indent = shot.pixelColor(r.left() / 2, r.center().y());
    const QColor above = shot.pixelColor(r.left() / 2, r.top() - 3);
    EXPECT_EQ(indent, above) << indent.name().toStdString() << " vs " << above.name().toStdString();
    EXPECT_NE(inside, indent);
    window.reset();
  }
  Appearance::shared().setOverride(std::nullopt);
}

// A saved search's row rises 8 px into place as it fades in, with the
// section that holds it, and sinks as it fades out, on the shared spring;
// under Reduce Motion it only fades, and an account group only ever fades.
// The room a row takes opens and closes with its fade, so the rows below
// slide; a half-open row draws nothing outside its room. A row on its way
// out selects nothing and goes once it has faded, leaving the rows laid
// out as a fresh sidebar lays them. Time is stepped by hand and the rows
// are checked as drawn and as laid out.
TEST_F(SidebarViewTest, RowsComeAndGoWithTheSpringOrOnlyFade) {
  open();
  build();
  const SavedSearch invoices{QUuid::createUuid(), QStringLiteral("Invoices"), QStringLiteral("invoice")};
  const struct {
    const char* name;
    bool reduce;
    std::function<void()> add, remove;
    QString title, section;  // the row, and a section that comes and goes with it
    double offset;           // px below its place at the hidden end
  } cases[] = {
      {"saved search", false, [&] { store->setSavedSearches({invoices}); },
       [&] {
         std::unique_ptr<QMenu> menu(window->menuFor(window->model()->indexOf(SidebarItem::makeSaved(invoices.id))));
         menu->actions().front()->trigger();
       },
       QStringLiteral("Invoices"), QStringLiteral("Saved Searches"), 8},
      {"saved search, Reduce Motion", true, [&] { store->setSavedSearches({invoices}); },
       [&] { store->setSavedSearches({}); }, QStringLiteral("Invoices"), QStringLiteral("Saved Searches"), 0},
      {"account group", false, [&] { store->setAccounts({account("Home", "me@example.org")}); },
       [&] { store->setAccounts({}); }, QStringLiteral("Home"), QString(), 0},
  };
  SidebarTree* tree = window->tree();
  QSignalSpy selections(store.get(), &AppStore::sidebarChanged);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReduceMotion::shared().setOverride(c.reduce);
    Motion::setInstant(false);
    test::SteppedClock clock;
    const Animation animation = c.reduce ? Motion::fade : Motion::spring;
    const int duration = animation.durationMs();
    const int at = duration * 3 / 10;
    const double done = animation.progress(double(at) / duration);
    ASSERT_GT(done, 0.1);
    ASSERT_LT(done, 0.9);
    // The row drawn at full size, with the paper below for the offset.
    auto drawnInk = [&] {
      return inkIn(drawnRow(window->model()->indexOfRowId(rowId(c.title)), paperHeight),
                   QRect(0, 0, tree->viewport()->width(), paperHeight));
    };
    // What a row draws below its room, as the list gives it now.
    auto spilled = [&](const QString& title) {
      SCOPED_TRACE(title.toStdString());
      const QModelIndex i = window->model()->indexOfRowId(rowId(title));
      const int room = tree->visualRect(i).height();
      return inkIn(drawnRow(i, room), QRect(0, room, tree->viewport()->width(), paperHeight - room)).amount;
    };
    auto expectShown = [&](const QString& title, double shown, double offset) {
      SCOPED_TRACE(title.toStdString());
      const QString id = rowId(title);
      ASSERT_FALSE(id.isEmpty());
      const auto drawn = rows()->rowShown(id);
      ASSERT_TRUE(drawn);
      EXPECT_NEAR(drawn->opacity, shown, 0.03);
      EXPECT_NEAR(drawn->offset, offset * (1 - shown), 0.3);
    };

    c.add();
    const QStringList entering = window->model()->rowChanges().inserted;
    ASSERT_EQ(entering.size(), c.section.isEmpty() ? 1 : 2);
    clock.step(at);
    expectShown(c.title, done, c.offset);
    if (!c.section.isEmpty()) expectShown(c.section, done, 0);
    const Ink comingIn = drawnInk();
    const Layout opening = layoutOf(*window);
    EXPECT_EQ(spilled(c.title), 0);
    clock.run(duration);
    EXPECT_FALSE(rows()->rowShown(rowId(c.title))) << "in place";
    const Ink inPlace = drawnInk();
    ASSERT_GT(inPlace.amount, 0);
    EXPECT_NEAR(comingIn.amount / inPlace.amount, done, 0.12);
    EXPECT_NEAR(comingIn.middle - inPlace.middle, c.offset * (1 - done), 1.0);
    const Layout opened = layoutOf(*window);
    expectRoomPartWay(opening, opened, entering, done);
    EXPECT_EQ(opened, plainLayout());

    c.remove();
    const QStringList leavingIds = window->model()->rowChanges().leaving;
    ASSERT_EQ(leavingIds.size(), entering.size());
    const QModelIndex leaving = window->model()->indexOfRowId(rowId(c.title));
    ASSERT_TRUE(leaving.isValid()) << "stays while it fades";
    EXPECT_TRUE(SidebarModel::isLeaving(leaving));
    EXPECT_EQ(window->model()->flags(leaving), Qt::NoItemFlags);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre(leaving));
    EXPECT_EQ(store->sidebar(), SidebarItem::makeAll()) << "a leaving row selects nothing";
    clock.step(at);
    expectShown(c.title, 1 - done, c.offset);
    if (!c.section.isEmpty()) expectShown(c.section, 1 - done, 0);
    const Ink goingOut = drawnInk();
    EXPECT_NEAR(goingOut.amount / inPlace.amount, 1 - done, 0.12);
    EXPECT_NEAR(goingOut.middle - inPlace.middle, c.offset * done, 1.0);
    expectRoomPartWay(layoutOf(*window), opened, leavingIds, 1 - done);
    EXPECT_EQ(spilled(c.title), 0);
    clock.run(duration);
    EXPECT_FALSE(titles().contains(c.title)) << "gone once faded";
    if (!c.section.isEmpty()) {
      EXPECT_FALSE(titles().contains(c.section));
    }
    EXPECT_EQ(layoutOf(*window), plainLayout());
  }
  EXPECT_EQ(selections.count(), 0);
  EXPECT_EQ(tree->currentIndex(), anchor(QStringLiteral("allMessages")));
}

// Rows coming and going leave the selection, the open groups and the
// scroll position where they were.
TEST_F(SidebarViewTest, RowsComingAndGoingKeepSelectionOpenGroupsAndScroll) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 2, 10, &serial);
  open();
  build();
  const SidebarItem sent = SidebarItem::makeFolder("Work", "Sent");
  window->tree()->expand(window->model()->accountIndex("Work"));
  QTest::mouseClick(window->tree()->viewport(), Qt::LeftButton, {}, centre(window->model()->indexOf(sent)));
  ASSERT_EQ(store->sidebar(), sent);
  window->resize(280, 300);  // short enough to scroll
  QCoreApplication::processEvents();
  QScrollBar* scroll = window->tree()->verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 20);
  scroll->setValue(20);
  Motion::setInstant(false);
  test::SteppedClock clock;
  QSignalSpy selections(store.get(), &AppStore::sidebarChanged);
  auto expectKept = [&] {
    EXPECT_EQ(window->tree()->currentIndex(), window->model()->indexOf(sent));
    EXPECT_TRUE(window->tree()->selectionModel()->isSelected(window->model()->indexOf(sent)));
    EXPECT_TRUE(window->tree()->isExpanded(window->model()->accountIndex("Work")));
    EXPECT_EQ(scroll->value(), 20);
    EXPECT_EQ(selections.count(), 0);
  };
  const SavedSearch a{QUuid::createUuid(), QStringLiteral("Invoices"), QStringLiteral("invoice")};
  store->setSavedSearches({a});
  clock.step(100);
  expectKept();
  clock.run(1000);
  expectKept();
  store->setSavedSearches({});
  clock.step(100);
  expectKept();
  clock.run(1000);
  ASSERT_FALSE(titles().contains(QStringLiteral("Invoices")));
  expectKept();
}

TEST(SidebarModel, FolderSymbols) {
  struct Case {
    const char* name;
    const char* symbol;
  } cases[] = {{"INBOX", "tray"},           {"Inbox/Receipts", "folder"}, {"All Mail", "archivebox"},
               {"Entwürfe", "doc"},         {"Deleted Items", "trash"},   {"Junk E-mail", "xmark.bin"},
               {"Sent Drafts", "paperplane"}, {"Cabinet", "trash"}};
  for (const auto& c : cases)
    EXPECT_EQ(SidebarModel::folderSymbol(QString::fromUtf8(c.name)), QString::fromUtf8(c.symbol)) << c.name;
}

class BackupStripTest : public test::BrowserFixture {};

TEST_F(BackupStripTest, ImportedVaultWithoutAccounts) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 1, 2, &serial);
  open();
  BackupStrip strip(*store);
  EXPECT_EQ(strip.statusTitle(), QStringLiteral("No accounts yet"));
  EXPECT_EQ(strip.statusDetail(), QStringLiteral("0 accts"));
  EXPECT_FALSE(strip.backUpButton()->isEnabled());
  EXPECT_EQ(strip.backUpButton()->toolTip(), QStringLiteral("Add an account first"));
}

TEST_F(BackupStripTest, ScheduleChangesShowAtOnce) {
  open();
  store->setAccounts({account("Home", "me@example.org")});
  BackupStrip strip(*store);
  EXPECT_EQ(strip.statusTitle(), QStringLiteral("Not backed up yet"));
  EXPECT_EQ(strip.statusDetail(), QStringLiteral("1 acct"));
  QSettings().setValue("scheduleEnabled", true);
  ScheduleSettings::shared().notifyChanged();
  EXPECT_EQ(strip.statusDetail(), QStringLiteral("auto 6 h"));
  QSettings().setValue("scheduleHours", 12);
  ScheduleSettings::shared().notifyChanged();
  EXPECT_EQ(strip.statusDetail(), QStringLiteral("auto 12 h"));
}

TEST_F(BackupStripTest, RunningStateAndIndexingLine) {
  open();
  store->setAccounts({account("Home", "me@example.org")});
  BackupStrip strip(*store);
  strip.show();
  BackupStatus s;
  s.running = true;
  store->setBackup(s);
  EXPECT_TRUE(strip.isRunningShown());
  EXPECT_EQ(strip.runningTitle(), QStringLiteral("Connecting…"));
  EXPECT_EQ(strip.stopButton()->accessibleName(), QStringLiteral("Stop backup"));
  s.progress.phase = "Downloading";
  s.progress.folder = "INBOX";
  s.progress.messagesDone = 1204;
  s.progress.messagesTotal = 3310;
  s.progress.bytesDone = 84'200'000;
  store->setBackup(s);
  EXPECT_EQ(strip.runningTitle(), QStringLiteral("Downloading · INBOX"));
  EXPECT_EQ(strip.progressText(), QStringLiteral("1,204 / 3,310 · 84.2 MB"));
  s.running = false;
  s.lastFinished = std::chrono::system_clock::now();
  store->setBackup(s);
  EXPECT_FALSE(strip.isRunningShown());
  EXPECT_EQ(strip.statusTitle(), QStringLiteral("Backed up"));
  EXPECT_TRUE(strip.statusDetail().startsWith(QStringLiteral("just now · ")));
}

TEST_F(BackupStripTest, ADoubleClickOnBackUpOpensTheLedgerAndNeverStopsTheRun) {
  open();
  store->setAccounts({account("Home", "me@example.org")});
  BackupStrip strip(*store);
  strip.resize(260, 90);
  strip.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&strip));
  // Starting a run shows the running block at once, its stop button where
  // "Back Up" was.
  QObject::connect(strip.backUpButton(), &QAbstractButton::clicked, store.get(), [&] {
    BackupStatus s;
    s.running = true;
    store->setBackup(s);
  });
  QSignalSpy stops(strip.stopButton(), &QAbstractButton::clicked);
  VaultButton* backUp = strip.backUpButton();
  const QPoint at = backUp->mapTo(&strip, backUp->rect().center());
  QTest::mouseClick(backUp, Qt::LeftButton, {}, backUp->rect().center());
  ASSERT_TRUE(strip.isRunningShown());
  QWidget* under = strip.childAt(at);
  ASSERT_TRUE(under);
  const QPoint local = under->mapFrom(&strip, at);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, local, under->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
  QCoreApplication::sendEvent(under, &dbl);
  QTest::mouseRelease(under, Qt::LeftButton, {}, local);
  EXPECT_EQ(stops.count(), 0);
  EXPECT_TRUE(store->showBackupActivity());
  // A double-click on the card's empty part opens the ledger too.
  store->setShowBackupActivity(false);
  QTest::mouseDClick(&strip, Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_TRUE(store->showBackupActivity());
}

// The strip's title and detail keep to one line and are never cut at the
// sidebar's narrowest, usual and widest widths; "Back Up" moves below them
// only where they would not fit beside it.
TEST_F(SidebarViewTest, TheStripShowsItsTextsWholeAtEverySidebarWidth) {
  open();
  build();
  struct Case {
    const char* what;
    bool accounts;
    bool finished;
    bool problem;
    bool schedule;
  } cases[] = {
      {"no accounts", false, false, false, false},
      {"not backed up, schedule on", true, false, false, true},
      {"backed up, schedule on", true, true, false, true},
      {"needs attention", true, true, true, false},
  };
  for (const auto& c : cases) {
    QSettings().setValue("scheduleEnabled", c.schedule);
    QSettings().setValue("scheduleHours", 12);
    ScheduleSettings::shared().notifyChanged();
    store->setAccounts(c.accounts ? std::vector<MailAccount>{account("Home", "me@example.org")}
                                  : std::vector<MailAccount>{});
    BackupStatus status;
    if (c.finished) status.lastFinished = std::chrono::system_clock::now() - std::chrono::minutes(12);
    store->setBackup(status);
    QMap<QString, FriendlyError::Message> problems;
    if (c.problem) problems.insert(QStringLiteral("Home"), FriendlyError::Message{"Sign-in failed", "Check it."});
    store->setBackupProblems(problems);
    for (const int width : {210, 236, 300}) {
      window->resize(width, 700);
      QCoreApplication::processEvents();
      QCoreApplication::processEvents();
      BackupStrip* strip = window->backupStrip();
      for (TextBlock* t : strip->findChildren<TextBlock*>()) {
        if (!t->isVisibleTo(strip) || t->text().isEmpty()) continue;
        EXPECT_EQ(t->linesForWidth(t->width()), QStringList{t->text()}) << c.what << " at " << width;
      }
      const QRect button(strip->backUpButton()->mapTo(strip, QPoint()), strip->backUpButton()->size());
      EXPECT_TRUE(strip->rect().contains(button)) << c.what << " at " << width;
    }
  }
  // Short texts at the widest sidebar leave "Back Up" beside them.
  store->setAccounts({account("Home", "me@example.org")});
  QSettings().setValue("scheduleEnabled", false);
  ScheduleSettings::shared().notifyChanged();
  BackupStatus done;
  done.lastFinished = std::chrono::system_clock::now();
  store->setBackup(done);
  store->setBackupProblems({});
  window->resize(300, 700);
  QCoreApplication::processEvents();
  EXPECT_FALSE(window->backupStrip()->isBackUpBelow());
}

TEST_F(BackupStripTest, TheSwitchFadesInAndTheShieldBouncesOnceARunFinishes) {
  open();
  store->setAccounts({account("Home", "me@example.org")});
  BackupStrip strip(*store);
  strip.show();
  Motion::setInstant(false);
  BackupStatus s;
  s.running = true;
  store->setBackup(s);
  // The running block fades in with the switch.
  auto* fade = qobject_cast<QGraphicsOpacityEffect*>(strip.stopButton()->parentWidget()->graphicsEffect());
  ASSERT_TRUE(fade);
  EXPECT_LT(fade->opacity(), 1.0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return fade->opacity() == 1.0; }, 2000));
  s.running = false;
  store->setBackup(s);  // no new finish: still
  QTest::qWait(50);
  EXPECT_EQ(strip.shield()->scaleFactor(), 1.0);
  s.lastFinished = std::chrono::system_clock::now();
  store->setBackup(s);
  EXPECT_TRUE(QTest::qWaitFor([&] { return strip.shield()->scaleFactor() > 1.0; }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return strip.shield()->scaleFactor() == 1.0; }, 3000));
  Motion::setInstant(true);
}

// The vault's count rolls to its new value once it is on screen, and the
// roll settles on the new text; a hidden or first text just shows.
TEST_F(SidebarViewTest, TheVaultCountRollsToANewValue) {
  int serial = 0;
  test::writeMonths(root(), QDate(2024, 6, 1), 1, 3, &serial);
  open();
  build();
  CountText* count = window->vaultHeader()->countLabel();
  EXPECT_FALSE(count->isRolling());
  EXPECT_EQ(count->text(), QStringLiteral("3"));
  auto* rows = qobject_cast<SidebarDelegate*>(window->tree()->itemDelegate());
  ASSERT_TRUE(rows);
  const QString everything = anchor(QStringLiteral("allMessages")).data(SidebarModel::KeyRole).toString();
  QCoreApplication::processEvents();
  EXPECT_FALSE(rows->rollingFrom(everything));
  Motion::setInstant(false);
  test::writeMonths(root(), QDate(2024, 8, 1), 1, 2, &serial);
  store->reloadArchive();
  ASSERT_TRUE(QTest::qWaitFor([&] { return count->text() == QStringLiteral("5"); }, 30000));
  EXPECT_TRUE(count->isRolling());
  EXPECT_EQ(count->previousText(), QStringLiteral("3"));
  // The sidebar's "Everything" row rolls its count the same way.
  EXPECT_TRUE(QTest::qWaitFor([&] { return rows->rollingFrom(everything) == QStringLiteral("3"); }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !count->isRolling() && !rows->rollingFrom(everything); }, 2000));
  EXPECT_TRUE(count->previousText().isEmpty());

  CountText hidden(Motion::snappy);
  hidden.setCount(QStringLiteral("1"));
  hidden.setCount(QStringLiteral("2"));
  EXPECT_FALSE(hidden.isRolling());
  Motion::setInstant(true);
}

}  // namespace
