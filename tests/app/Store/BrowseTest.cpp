// The visible list, shelves, saved searches, month groups, scrubbing,
// selection and opening.

#include "StoreFixture.h"

#include "Theme/Theme.h"
#include "Vault/AccountSyncState.h"

namespace bx::test {
namespace {

class BrowseTest : public StoreTest {
protected:
  // Work/INBOX: march-1, march-2 (invoice), feb (invoice); Work/Sent: jan;
  // Home/INBOX: dec 2023.
  AppStore& browseStore() {
    put("Work/INBOX/m1.eml", eml("march-one", "Fri, 15 Mar 2024 10:00:00 +0000"));
    put("Work/INBOX/m2.eml", eml("invoice march", "Sun, 10 Mar 2024 10:00:00 +0000"));
    put("Work/INBOX/f.eml", eml("invoice february", "Sat, 10 Feb 2024 10:00:00 +0000"));
    put("Work/Sent/j.eml", eml("january", "Wed, 10 Jan 2024 10:00:00 +0000"));
    put("Home/INBOX/d.eml", eml("december", "Sun, 10 Dec 2023 10:00:00 +0000"));
    AppStore& s = makeStore();
    scan(s);
    return s;
  }
  static std::vector<int> groupMonths(const AppStore& s) {
    std::vector<int> out;
    for (const auto& g : s.groups()) out.push_back(g.key.index());
    return out;
  }
  static std::optional<std::string> opened(const AppStore& s) {
    if (!s.openMessage()) return std::nullopt;
    return s.openMessage()->record.path;
  }
};

TEST_F(BrowseTest, SidebarSelectionsAndQueries) {
  AppStore& s = browseStore();
  EXPECT_EQ(s.visible().size(), 5u);
  EXPECT_EQ(groupMonths(s), (std::vector<int>{24290, 24289, 24288, 24287}));
  EXPECT_EQ(s.timeline().currentMonth(), MonthKey(2024, 3));

  struct Case {
    SidebarItem item;
    QString query;
    std::vector<std::string> expected;
    QString title;
  };
  const std::vector<Case> cases{
      {SidebarItem::makeAccount("Home"), "", {"Home/INBOX/d.eml"}, "Home"},
      {SidebarItem::makeFolder("Work", "Sent"), "", {"Work/Sent/j.eml"}, "Sent"},
      {SidebarItem::makeAll(), "invoice", {"Work/INBOX/m2.eml", "Work/INBOX/f.eml"}, "Everything"},
      {SidebarItem::makeAll(), " \t ", {"Work/INBOX/m1.eml", "Work/INBOX/m2.eml", "Work/INBOX/f.eml",
                                        "Work/Sent/j.eml", "Home/INBOX/d.eml"}, "Everything"},
      {SidebarItem::makeAll(), "invoice febr", {"Work/INBOX/f.eml"}, "Everything"},
      {SidebarItem::makeSmart(SmartFilter::large), "", {}, "Over 5 MB"},
      {SidebarItem::makeFolder("Work", "INBOX"), "invoice", {"Work/INBOX/m2.eml", "Work/INBOX/f.eml"}, "INBOX"},
  };
  for (const Case& c : cases) {
    s.setQuery(c.query);
    s.setSidebar(c.item);
    EXPECT_EQ(paths(s.visible()), c.expected) << c.query.toStdString() << " " << c.title.toStdString();
    EXPECT_EQ(s.sidebarTitle(), c.title);
  }
}

TEST_F(BrowseTest, SavedSearchesCombineWithTheTypedText) {
  AppStore& s = browseStore();
  const SavedSearch invoices{QUuid::createUuid(), "Invoices", "invoice"};
  const SavedSearch empty{QUuid::createUuid(), "All", ""};
  s.setSavedSearches({invoices, empty});
  EXPECT_TRUE(std::filesystem::exists(vault / ".brindlebox/filters.json"));

  s.setSidebar(SidebarItem::makeSaved(invoices.id));
  EXPECT_EQ(paths(s.visible()), (std::vector<std::string>{"Work/INBOX/m2.eml", "Work/INBOX/f.eml"}));
  EXPECT_EQ(s.sidebarTitle(), "Invoices");
  s.setQuery("march");
  EXPECT_EQ(paths(s.visible()), (std::vector<std::string>{"Work/INBOX/m2.eml"}));
  s.setQuery("");
  s.setSidebar(SidebarItem::makeSaved(empty.id));
  EXPECT_EQ(s.visible().size(), 5u);
  // A removed entry: everything with the typed text, titled "Saved Search".
  s.setSavedSearches({invoices});
  s.setQuery("january");
  EXPECT_EQ(paths(s.visible()), (std::vector<std::string>{"Work/Sent/j.eml"}));
  EXPECT_EQ(s.sidebarTitle(), "Saved Search");
}

TEST_F(BrowseTest, SavingTheTypedSearch) {
  AppStore& s = browseStore();
  s.setQuery("  invoice  ");
  s.saveCurrentSearch();
  ASSERT_EQ(s.savedSearches().size(), 1);
  const SavedSearch saved = s.savedSearches()[0];
  EXPECT_EQ(saved.query, "invoice");
  EXPECT_EQ(saved.name, "Invoice");
  EXPECT_EQ(s.query(), "");
  EXPECT_EQ(s.sidebar(), SidebarItem::makeSaved(saved.id));
  EXPECT_EQ(s.visible().size(), 2u);
  ASSERT_TRUE(s.toast());
  EXPECT_EQ(s.toast()->text, "Saved “Invoice” to the sidebar");
  EXPECT_EQ(s.toast()->symbol, "magnifyingglass.circle.fill");
  const auto onDisk = SavedSearch::decodeList(QByteArray::fromStdString(dir.read(vault / ".brindlebox/filters.json")));
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(*onDisk, s.savedSearches());
  // Only spaces: nothing happens.
  s.setQuery(" \t");
  s.saveCurrentSearch();
  EXPECT_EQ(s.savedSearches().size(), 1);
}

TEST_F(BrowseTest, SelectionFollowsTheList) {
  AppStore& s = browseStore();
  // Nothing selected: both directions select the first message.
  for (int step : {1, -1}) {
    s.setSelectedPath(std::nullopt);
    s.selectNext(step);
    EXPECT_EQ(s.selectedPath(), QString("Work/INBOX/m1.eml"));
  }
  s.selectNext(1);
  s.selectNext(10);  // clamped at the end
  EXPECT_EQ(s.selectedPath(), QString("Home/INBOX/d.eml"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened(s) == "Home/INBOX/d.eml"; }, 5000));

  // While a search is typed a selection that dropped out stays.
  s.setQuery("invoice");
  EXPECT_EQ(s.selectedPath(), QString("Home/INBOX/d.eml"));
  s.setQuery("");
  // With an empty query it moves to the first visible message and opens it.
  s.setSidebar(SidebarItem::makeFolder("Work", "INBOX"));
  EXPECT_EQ(s.selectedPath(), QString("Work/INBOX/m1.eml"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened(s) == "Work/INBOX/m1.eml"; }, 5000));
  // An empty list clears the selection and the reader.
  s.setSidebar(SidebarItem::makeSmart(SmartFilter::large));
  EXPECT_FALSE(s.selectedPath());
  EXPECT_FALSE(s.openMessage());
}

TEST_F(BrowseTest, ScrubPicksTheMonthOrItsOlderNeighbour) {
  AppStore& s = browseStore();
  struct Case {
    MonthKey request, chosen;
  };
  const std::vector<Case> cases{
      {MonthKey(2025, 1), MonthKey(2024, 3)},   // newer than every group
      {MonthKey(2024, 2), MonthKey(2024, 2)},
      {MonthKey(2023, 12), MonthKey(2023, 12)},
      {MonthKey(2020, 1), MonthKey(2023, 12)},  // older than every group: the last
  };
  s.setSidebar(SidebarItem::makeAccount("Work"));  // Mar, Feb, Jan 2024
  EXPECT_EQ(groupMonths(s), (std::vector<int>{24290, 24289, 24288}));
  s.scrub(MonthKey(2023, 11));
  EXPECT_EQ(s.timeline().currentMonth(), MonthKey(2024, 1));
  s.setSidebar(SidebarItem::makeAll());
  int token = s.timeline().scrubTarget()->token;
  for (const Case& c : cases) {
    s.scrub(c.request);
    ASSERT_TRUE(s.timeline().scrubTarget());
    EXPECT_EQ(s.timeline().scrubTarget()->key, c.chosen) << c.request.index();
    EXPECT_EQ(s.timeline().scrubTarget()->token, ++token);
    EXPECT_EQ(s.timeline().currentMonth(), c.chosen);
  }
  // Between two groups: the older neighbour.
  s.setSidebar(SidebarItem::makeAccount("Work"));
  s.setSidebar(SidebarItem::makeAll());
  s.setQuery("march january");  // no hits: no groups, nothing happens
  s.scrub(MonthKey(2024, 2));
  EXPECT_EQ(s.timeline().scrubTarget()->token, token);
}

TEST(Grouping, InterleavedMonthsAreMergedNewestFirst) {
  auto at = [](const char* iso, const char* path) {
    MessageRecord r;
    r.path = path;
    r.date = *parseISO8601(iso);
    return r;
  };
  const std::vector<MessageRecord> recs{at("2024-03-20T00:00:00Z", "a"), at("2024-02-20T00:00:00Z", "b"),
                                        at("2024-03-01T00:00:00Z", "c"), at("2024-01-01T00:00:00Z", "d")};
  std::vector<const MessageRecord*> in;
  for (auto& r : recs) in.push_back(&r);
  const auto groups = AppStore::group(in);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].key, MonthKey(2024, 3));
  ASSERT_EQ(groups[0].records.size(), 2u);
  EXPECT_EQ(groups[0].records[0]->path, "a");
  EXPECT_EQ(groups[0].records[1]->path, "c");
  EXPECT_EQ(groups[1].key, MonthKey(2024, 2));
  EXPECT_EQ(groups[2].key, MonthKey(2024, 1));
  // One unbroken run per month keeps the input order, unsorted.
  std::vector<const MessageRecord*> rising{&recs[3], &recs[1]};
  const auto kept = AppStore::group(rising);
  EXPECT_EQ(kept[0].key, MonthKey(2024, 1));
}

TEST_F(BrowseTest, CopyStatusOfOpenedMessages) {
  const std::string good = eml("good");
  put("Work/INBOX/good.eml", good);
  put("Work/INBOX/short.eml", good);
  put("Work/INBOX/empty0.eml", "");
  put("Work/INBOX/empty10.eml", "");
  const std::string notMail(40, 'x');
  put("Work/INBOX/nomail.eml", notMail);
  put("Work/INBOX/nosize.eml", good);
  put("Imported/Loose Messages/imp.eml", good);
  put("Imported/Loose Messages/impsized.eml", good);

  AppStore& s = makeStore();
  MailAccount work = account("Work");
  s.addAccount(work, "pw");
  FolderState folder("INBOX", "Work/INBOX", 1);
  const std::vector<std::pair<std::string, int64_t>> sized{
      {"Work/INBOX/good.eml", int64_t(good.size())},       {"Work/INBOX/short.eml", int64_t(good.size()) + 5},
      {"Work/INBOX/empty0.eml", 0},                         {"Work/INBOX/empty10.eml", 10},
      {"Work/INBOX/nomail.eml", int64_t(notMail.size())}, {"Imported/Loose Messages/impsized.eml", 3}};
  folder.sizes.emplace();
  int uid = 1;
  for (const auto& [path, size] : sized) {
    folder.files[std::to_string(uid)] = path;
    (*folder.sizes)[std::to_string(uid)] = size;
    ++uid;
  }
  AccountSyncState state;
  state.folders["INBOX"] = folder;
  s.layout().saveSync(state, work);
  scan(s);

  const int64_t n = int64_t(good.size());
  const std::vector<std::pair<std::string, CopyStatus>> cases{
      {"Work/INBOX/good.eml", CopyStatus::verified(n)},
      {"Work/INBOX/short.eml", CopyStatus::differs(n, n + 5)},
      {"Work/INBOX/empty0.eml", CopyStatus::differs(0, 0)},
      {"Work/INBOX/empty10.eml", CopyStatus::differs(0, 10)},
      {"Work/INBOX/nomail.eml", CopyStatus::differs(40, 40)},
      {"Work/INBOX/nosize.eml", CopyStatus::saved()},
      {"Imported/Loose Messages/imp.eml", CopyStatus::imported()},
      {"Imported/Loose Messages/impsized.eml", CopyStatus::differs(n, 3)},
  };
  for (const auto& [path, expected] : cases) {
    s.setSelectedPath(QString::fromStdString(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened(s) == path; }, 5000)) << path;
    EXPECT_EQ(s.openMessage()->copy, expected) << path;
    EXPECT_FALSE(s.openMessage()->unreadable);
  }
  EXPECT_EQ(s.openMessage()->fileSize, n);
}

TEST_F(BrowseTest, LateResultsOfEarlierSelectionsAreDropped) {
  AppStore& s = browseStore();
  std::vector<std::string> shown;
  QObject::connect(&s, &AppStore::openMessageChanged, &s, [&] {
    if (s.openMessage()) shown.push_back(s.openMessage()->record.path);
  });
  s.setSelectedPath(QString("Work/INBOX/m1.eml"));
  s.setSelectedPath(QString("Work/INBOX/m2.eml"));
  s.setSelectedPath(QString("Work/INBOX/f.eml"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened(s) == "Work/INBOX/f.eml"; }, 5000));
  QTest::qWait(300);
  EXPECT_EQ(shown, (std::vector<std::string>{"Work/INBOX/f.eml"}));
  // A path that is no record of the vault closes the reader.
  s.setSelectedPath(QString("Work/INBOX/none.eml"));
  EXPECT_FALSE(s.openMessage());
}

TEST_F(BrowseTest, UnreadableSelectionIsShownAsSuchNotAsThePreviousMessage) {
  AppStore& s = browseStore();
  s.setSelectedPath(QString("Work/INBOX/m1.eml"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened(s) == "Work/INBOX/m1.eml"; }, 5000));
  std::filesystem::remove(vault / "Work/INBOX/m2.eml");
  s.setSelectedPath(QString("Work/INBOX/m2.eml"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return opened(s) == "Work/INBOX/m2.eml"; }, 5000));
  EXPECT_TRUE(s.openMessage()->unreadable);
}

}  // namespace
}  // namespace bx::test
