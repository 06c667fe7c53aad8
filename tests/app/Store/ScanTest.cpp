// The vault scan keeps the index in step with the files.

#include "StoreFixture.h"

#include "Index/VaultScan.h"
#include "Util/AtomicFile.h"

namespace bx::test {
namespace {

TEST_F(StoreTest, ScanIndexesMessagesAndSkipsHiddenFolders) {
  put("Work/INBOX/a.eml", eml("alpha", "Tue, 05 Mar 2024 10:00:00 +0000"));
  put("Work/INBOX/b.EML", eml("beta", "Wed, 06 Mar 2024 10:00:00 +0000"));
  put("Work/INBOX/notes.txt", "not mail");
  put("Work/.hidden/c.eml", eml("hidden"));
  put(".brindlebox/d.eml", eml("state"));
  put("Loose.eml", eml("top"));  // no folder component
  AppStore& s = makeStore();
  scan(s);
    // Equal dates keep the index's order (ascending paths).
  EXPECT_EQ(paths(s.records()), (std::vector<std::string>{"Work/INBOX/b.EML", "Loose.eml", "Work/INBOX/a.eml"}));
  const MessageRecord* loose = nullptr;
  for (auto& r : s.records())
    if (r.path == "Loose.eml") loose = &r;
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->folder, "");
  EXPECT_TRUE(std::filesystem::exists(vault / ".brindlebox/index.json"));
}

// Links: one that leads to a message file counts under its own name; a
// broken one, one to a folder named like a message and a folder behind a
// link do not.
TEST_F(StoreTest, WalkFollowsLinksToFilesButNotToFolders) {
  put("Work/INBOX/a.eml", eml("alpha"));
  put("Outside/b.eml", eml("beta"));
  namespace fs = std::filesystem;
  fs::create_symlink(vault / "Outside/b.eml", vault / "Work/INBOX/linked.eml");
  fs::create_symlink(vault / "Outside/missing.eml", vault / "Work/INBOX/broken.eml");
  fs::create_directory_symlink(vault / "Outside", vault / "Work/INBOX/folder.eml");
  fs::create_directory_symlink(vault / "Outside", vault / "Work/Linked");
  std::vector<std::string> found;
  for (const auto& [path, mtime] : VaultScan::walk(vault)) {
    found.push_back(path);
    EXPECT_GT(mtime, 0) << path;
  }
  EXPECT_EQ(found, (std::vector<std::string>{"Outside/b.eml", "Work/INBOX/a.eml", "Work/INBOX/linked.eml"}));
  EXPECT_TRUE(VaultScan::walk(vault / "no such folder").empty());
}

TEST_F(StoreTest, UnchangedVaultIsNotReadOrWrittenAgain) {
  put("Work/INBOX/a.eml", eml("alpha"));
  {
    AppStore& s = makeStore();
    scan(s);
  }
  const auto indexFile = vault / ".brindlebox/index.json";
  setMtime(indexFile, 1'000'000'000);
  AppStore& s = makeStore();
  const auto events = scan(s);
  EXPECT_EQ(events, (std::vector<std::string>{"0/0", "nil", "records", "nil"}));
  EXPECT_EQ(mtimeOf(indexFile), 1'000'000'000);
  EXPECT_EQ(s.records().size(), 1u);

  // And the core scan reads no message file at all.
  std::unique_ptr<SearchIndex> index = SearchIndex::load(indexFile);
  int reads = 0;
  VaultScan::Events counting;
  counting.read = [&](const std::filesystem::path& p) {
    ++reads;
    return readFile(p);
  };
  const auto result = VaultScan::run(*index, s.layout(), {}, counting);
  EXPECT_TRUE(result.completed);
  EXPECT_FALSE(result.changed);
  EXPECT_EQ(reads, 0);
}

TEST_F(StoreTest, ModificationTimeToleranceIsOneSecond) {
  const auto file = put("Work/INBOX/a.eml", eml("alpha"));
  setMtime(file, 1'700'000'000);
  AppStore& s = makeStore();
  scan(s);
  struct Case {
    double shift;
    bool reindexed;
  };
  for (const Case c : {Case{0.5, false}, Case{1.0, false}, Case{2.0, true}}) {
    setMtime(file, 1'700'000'000 + c.shift);
    // Change the file's contents (same size) so a re-index is visible.
    std::string text = eml("omega");
    dir.write(file, text);
    setMtime(file, 1'700'000'000 + c.shift);
    scan(s);
    ASSERT_EQ(s.records().size(), 1u);
    EXPECT_EQ(s.records()[0].subject == "omega", c.reindexed) << c.shift;
    // Put the indexed time back for the next case.
    dir.write(file, eml("alpha"));
    setMtime(file, 1'700'000'000);
    scan(s);
    setMtime(file, 1'700'000'000);
  }
}

TEST_F(StoreTest, DeletedFilesLeaveRecordsAndFolderCounts) {
  put("Work/INBOX/a.eml", eml("alpha"));
  const auto b = put("Work/INBOX/b.eml", eml("beta"));
  AppStore& s = makeStore();
  scan(s);
  EXPECT_EQ(s.folders().at(QStringLiteral("Work"))[0].count, 2);
  std::filesystem::remove(b);
  scan(s);
  EXPECT_EQ(paths(s.records()), (std::vector<std::string>{"Work/INBOX/a.eml"}));
  EXPECT_EQ(s.folders().at(QStringLiteral("Work"))[0].count, 1);
  EXPECT_EQ(s.count(QStringLiteral("Work"), QStringLiteral("INBOX")), 1);
}

TEST_F(StoreTest, LargeScanPublishesEveryFiftyFiles) {
  for (int i = 0; i < 120; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Work/INBOX/%03d.eml", i);
    put(name, eml("m" + std::to_string(i), "Tue, 05 Mar 2024 10:" + std::to_string(10 + i / 60 % 10) + ":" +
                                               std::to_string(10 + i % 50) + " +0000"));
  }
  AppStore& s = makeStore();
  std::vector<size_t> sizes;
  QObject::connect(&s, &AppStore::recordsChanged, &s, [&] { sizes.push_back(s.records().size()); });
  const auto events = scan(s);
  // Progress at 50 and 100, the list in between (a list is skipped only
  // while the GUI has not taken the previous one), the final state last.
  std::vector<std::string> progress;
  for (const auto& e : events)
    if (e != "records") progress.push_back(e);
  EXPECT_EQ(progress, (std::vector<std::string>{"0/0", "0/120", "50/120", "100/120", "nil"}));
  EXPECT_EQ(events[3], "records");
  EXPECT_EQ(events[events.size() - 2], "records");
  ASSERT_GE(sizes.size(), 2u);
  EXPECT_EQ(sizes.front(), 50u);
  EXPECT_EQ(sizes.back(), 120u);
  // Merged batches give the same list as sorting all at once.
  auto records = s.records();
  std::vector<MessageRecord> resorted = records;
  std::stable_sort(resorted.begin(), resorted.end(),
                   [](const MessageRecord& a, const MessageRecord& b) { return a.date > b.date; });
  EXPECT_EQ(paths(records), paths(resorted));
}

TEST_F(StoreTest, SecondReloadCancelsTheFirst) {
  for (int i = 0; i < 200; ++i) put("Work/INBOX/" + std::to_string(i) + ".eml", eml("m" + std::to_string(i)));
  AppStore& s = makeStore();
  ScanLog log(s);
  s.reloadArchive();
  s.reloadArchive();
  ASSERT_TRUE(QTest::qWaitFor([&] { return log.finished(); }, 20000));
  QTest::qWait(200);
  EXPECT_EQ(s.records().size(), 200u);
  // One final publish only: the first run published nothing after being replaced.
  EXPECT_EQ(std::count(log.events.begin(), log.events.end(), std::string("nil")), 1);
}

TEST_F(StoreTest, FolderRowsPutInboxFirstThenNaturalOrder) {
  for (const char* f : {"Sent", "INBOX", "Archive 10", "Archive 2"})
    put(std::string("Work/") + f + "/1.eml", eml(std::string("x") + f[0]));
  AppStore& s = makeStore();
  scan(s);
  QStringList order;
  for (const auto& row : s.folders().at(QStringLiteral("Work"))) order << row.folder;
  EXPECT_EQ(order, (QStringList{"INBOX", "Archive 2", "Archive 10", "Sent"}));
  EXPECT_EQ(s.folders().at(QStringLiteral("Work"))[0].id(), QStringLiteral("Work/INBOX"));
}

TEST(VaultScanPaths, RelativePathsByComponents) {
  struct Case {
    std::string root, file, expected;
  };
  const std::vector<Case> cases{
      {"/v", "/v/Work/INBOX/a.eml", "Work/INBOX/a.eml"},
      {"/v/", "/v/Work/a.eml", "Work/a.eml"},
      {"/vault", "/vault2/a.eml", ""},  // a sibling that shares a prefix is not inside
      {"/v", "/v/Caf\xC3\xA9/a.eml", "Caf\xC3\xA9/a.eml"},
  };
  for (const Case& c : cases) EXPECT_EQ(VaultScan::relativePath(c.root, c.file), c.expected) << c.file;
}

TEST_F(StoreTest, SymlinkedRootDoesNotReindexEverything) {
  put("Work/INBOX/a.eml", eml("alpha"));
  const auto link = dir / "link";
  std::filesystem::create_directory_symlink(vault, link);
  qputenv("BRINDLEBOX_ARCHIVE_DIR", QByteArray::fromStdString(link.string() + "/"));
  AppStore& s = makeStore();
  scan(s);
  ASSERT_EQ(paths(s.records()), (std::vector<std::string>{"Work/INBOX/a.eml"}));
  setMtime(vault / ".brindlebox/index.json", 1'000'000'000);
  const auto events = scan(s);
  EXPECT_EQ(events.front(), "0/0");
  EXPECT_EQ(events[1], "nil");  // nothing to add
  EXPECT_EQ(mtimeOf(vault / ".brindlebox/index.json"), 1'000'000'000);
}

// While a rescan runs, a search answers from the index of the last finished
// scan, whose slots no longer number the list being published: hits must be
// matched to the list's records by path.
TEST_F(StoreTest, SearchDuringARescanMatchesTheListByPath) {
  auto name = [](int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Work/INBOX/%02d.eml", i);
    return std::string(buf);
  };
  auto content = [](int i, bool invoice) {
    char date[64];
    std::snprintf(date, sizeof date, "Tue, 05 Mar 2024 10:10:%02d +0000", i);
    return eml((invoice ? "invoice n" : "note n") + std::to_string(i), date);
  };
  // Newest first: the highest number first.
  auto expected = [&](int parity) {
    std::vector<std::string> out;
    for (int i = 59; i >= 0; --i)
      if (i % 2 == parity) out.push_back(name(i));
    return out;
  };
  for (int i = 0; i < 60; ++i) put(name(i), content(i, i % 2 == 0));
  AppStore& s = makeStore();
  scan(s);
  s.setQuery("invoice");
  ASSERT_EQ(paths(s.visible()), expected(0));

  for (int i = 0; i < 60; ++i) {
    const auto file = put(name(i), content(i, i % 2 == 1));
    setMtime(file, mtimeOf(file) + 10);
  }
  std::optional<std::vector<std::string>> midScan;
  QObject::connect(&s, &AppStore::visibleChanged, &s, [&] {
    // The first list at 50 of 60; the final one comes while progress still reads 50.
    if (!midScan && s.indexing() && s.indexing()->done == 50) midScan = paths(s.visible());
  });
  scan(s);
  ASSERT_TRUE(midScan);
  EXPECT_EQ(*midScan, expected(0));
  EXPECT_EQ(paths(s.visible()), expected(1));
  // The list keeps whole records once the scan has finished.
  ASSERT_FALSE(s.visible().empty());
  EXPECT_EQ(s.visible().front()->subject, "invoice n59");
  EXPECT_EQ(s.visible().front()->fromEmail, "ann@example.com");
}

}  // namespace
}  // namespace bx::test

namespace bx::test {
namespace {

TEST_F(StoreTest, LearnsSendersOnlyFromRepeatedVerifiedMail) {
  const std::string pass = "Authentication-Results: mx.example.org; spf=pass; dkim=pass; dmarc=pass\r\n";
  int n = 0;
  auto send = [&](const std::string& from, bool verified) {
    ++n;
    put("Work/INBOX/" + std::to_string(n) + ".eml",
        eml("s" + std::to_string(n), "Tue, 05 Mar 2024 10:00:00 +0000", from, verified ? pass : ""));
  };
  send("Ann Lee <ann@mail.bank.com>", true);
  send("Ann Lee <ann@bank.com>", true);            // same registrable domain, twice
  send("Shop <news@shop.example>", true);           // once only
  send("Pat <pat@one.example>", true);
  send("Pat <pat@one.example>", true);
  send("Pat <pat@two.example>", true);              // Pat writes from two domains
  send("Pat <pat@two.example>", true);
  send("Eve <eve@unverified.example>", false);
  send("Eve <eve@unverified.example>", false);
  AppStore& s = makeStore();
  scan(s);
  EXPECT_EQ(s.knownDomains(), (std::set<std::string>{"bank.com", "one.example", "two.example"}));
  EXPECT_EQ(s.knownNames(), (std::map<std::string, std::string>{{"ann lee", "bank.com"}}));
}
}  // namespace
}  // namespace bx::test
