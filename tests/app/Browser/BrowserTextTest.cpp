// The texts of the three columns, as tables of inputs and the text shown.

#include "Browser/BrowserText.h"
#include "Store/ByteCountText.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace bx;

namespace {

class BrowserTextTest : public ::testing::Test {
protected:
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

TEST_F(BrowserTextTest, Subtitle) {
  struct Case {
    int visible;
    std::optional<int> newest, oldest;
    const char* expected;
  } cases[] = {
      {0, std::nullopt, std::nullopt, "0 messages"},
      {1, 2024, 2024, "1 message · 2024"},
      {3112, 2024, 2019, "3,112 messages · 2019–2024"},
  };
  for (const auto& c : cases) EXPECT_EQ(BrowserText::subtitle(c.visible, c.newest, c.oldest), QString::fromUtf8(c.expected));
}

TEST_F(BrowserTextTest, EmptyTextOfEveryShelf) {
  struct Case {
    SidebarItem item;
    const char* expected;
  } cases[] = {
      {SidebarItem::makeSmart(SmartFilter::recent), "Nothing arrived in the last 30 days. Back up to fetch new mail."},
      {SidebarItem::makeSmart(SmartFilter::attachments), "No message in your vault has attachments."},
      {SidebarItem::makeSmart(SmartFilter::trackers), "No message in your vault tried to track when you opened it."},
      {SidebarItem::makeSmart(SmartFilter::suspicious),
       "No message failed sender checks, used a look-alike address or hid a misleading link."},
      {SidebarItem::makeSmart(SmartFilter::large), "No message is larger than 5 MB."},
      {SidebarItem::makeAll(), "No messages match this view."},
      {SidebarItem::makeAccount("Work"), "No messages match this view."},
      {SidebarItem::makeFolder("Work", "INBOX"), "No messages match this view."},
      {SidebarItem::makeSaved(QUuid::createUuid()), "No messages match this view."},
  };
  for (const auto& c : cases) EXPECT_EQ(BrowserText::emptyText(c.item), QString::fromUtf8(c.expected));
}

TEST_F(BrowserTextTest, QueryTrimmingKeepsLineBreaks) {
  EXPECT_EQ(BrowserText::trimmed(QStringLiteral(" \t invoice\u00A0 ")), QStringLiteral("invoice"));
  EXPECT_EQ(BrowserText::trimmed(QStringLiteral("   ")), QString());
  EXPECT_EQ(BrowserText::trimmed(QStringLiteral("tax\n")), QStringLiteral("tax\n"));
  EXPECT_EQ(BrowserText::resultsText(1, "tax"), QStringLiteral("result for “tax”"));
  EXPECT_EQ(BrowserText::resultsText(2, "tax"), QStringLiteral("results for “tax”"));
}

TEST_F(BrowserTextTest, ReadingText) {
  EXPECT_EQ(BrowserText::readingText(0, 0), QStringLiteral("Messages appear as they’re indexed."));
  EXPECT_EQ(BrowserText::readingText(1200, 8431), QStringLiteral("1,200 of 8,431 messages indexed"));
}

TEST_F(BrowserTextTest, VaultHeaderYearSpan) {
  struct Case {
    std::optional<int> oldest, newest;
    std::optional<QString> expected;
  } cases[] = {
      {std::nullopt, std::nullopt, std::nullopt},
      {2024, 2024, QStringLiteral("2024")},
      {2016, 2024, QStringLiteral("2016–24")},
      {1999, 2001, QStringLiteral("1999–01")},
  };
  for (const auto& c : cases) EXPECT_EQ(BrowserText::yearSpan(c.oldest, c.newest), c.expected);
  EXPECT_FALSE(BrowserText::headerDetail(0, std::nullopt, std::nullopt).contains(QStringLiteral("·")));
  EXPECT_TRUE(BrowserText::headerDetail(2'400'000'000, 2016, 2024).endsWith(QStringLiteral(" · 2016–24")));
}

// The vault header writes sizes as every other view does (the ledger, the
// settings, the reader): one formatter.
TEST_F(BrowserTextTest, VaultHeaderSizeIsTheFileStyleCount) {
  for (long long n : {0LL, 999LL, 12'345LL, 3'400'000LL, 2'400'000'000LL})
    EXPECT_EQ(BrowserText::headerDetail(n, std::nullopt, std::nullopt), ByteCountText::file(n)) << n;
  EXPECT_EQ(BrowserText::headerDetail(12'345, std::nullopt, std::nullopt), QStringLiteral("12 KB"));
}

TEST_F(BrowserTextTest, StripStatusTitleAndDetail) {
  struct Title {
    bool problems, noAccounts, ever;
    const char* expected;
  } titles[] = {
      {true, false, true, "Needs attention"},
      {true, true, false, "Needs attention"},
      {false, true, false, "No accounts yet"},
      {false, false, true, "Backed up"},
      {false, false, false, "Not backed up yet"},
  };
  for (const auto& t : titles)
    EXPECT_EQ(BrowserText::statusTitle(t.problems, t.noAccounts, t.ever), QString::fromUtf8(t.expected));

  struct Detail {
    std::optional<QString> ago;
    bool schedule;
    std::optional<int> hours;
    int accounts;
    const char* expected;
  } details[] = {
      {std::nullopt, false, std::nullopt, 1, "1 acct"},
      {std::nullopt, false, std::nullopt, 0, "0 accts"},
      {QStringLiteral("12 min ago"), false, std::nullopt, 2, "12 min ago · 2 accts"},
      {std::nullopt, true, std::nullopt, 1, "auto 6 h"},  // nothing stored: the six hours the settings show
      {std::nullopt, true, 0, 1, "auto 1 h"},
      {std::nullopt, true, -3, 1, "auto 1 h"},
      {QStringLiteral("just now"), true, 12, 1, "just now · auto 12 h"},
  };
  for (const auto& d : details)
    EXPECT_EQ(BrowserText::statusDetail(d.ago, d.schedule, d.hours, d.accounts), QString::fromUtf8(d.expected));
}

TEST_F(BrowserTextTest, RunningProgress) {
  BackupProgress p;
  EXPECT_EQ(BrowserText::runningTitle(p), QStringLiteral("Connecting…"));
  EXPECT_EQ(BrowserText::progressLine(p), QString());
  EXPECT_EQ(BrowserText::progressFraction(p), 0);
  p.account = "Work";
  p.phase = "Downloading";
  p.folder = "INBOX";
  EXPECT_EQ(BrowserText::runningTitle(p), QStringLiteral("Downloading · INBOX"));
  EXPECT_EQ(BrowserText::progressLine(p), QStringLiteral("Work"));
  p.messagesDone = 1204;
  p.messagesTotal = 3310;
  p.bytesDone = 84'200'000;
  EXPECT_EQ(BrowserText::progressLine(p), QStringLiteral("1,204 / 3,310 · 84.2 MB"));
  EXPECT_DOUBLE_EQ(BrowserText::progressFraction(p), 1204.0 / 3310.0);
  p.messagesDone = 5000;
  EXPECT_GT(BrowserText::progressFraction(p), 1.0) << "a message fraction is passed on uncapped";
  p.bytesTotal = 100;
  p.bytesDone = 250;
  EXPECT_EQ(BrowserText::progressFraction(p), 1.0);
  EXPECT_EQ(BrowserText::indexingLine(1200, 8431), QStringLiteral("Indexing 1,200 of 8,431"));
}

TEST_F(BrowserTextTest, OutsideTextsStayLiteral) {
  EXPECT_EQ(BrowserText::windowTitle(QStringLiteral("Draft [*] notes")), QStringLiteral("Draft [*][*] notes"));
  const QString tip = BrowserText::plainToolTip(QStringLiteral("R&D <b>x</b> <img src=x>"));
  EXPECT_TRUE(tip.startsWith(QStringLiteral("<qt>")));
  EXPECT_TRUE(tip.contains(QStringLiteral("R&amp;D &lt;b&gt;x&lt;/b&gt; &lt;img src=x&gt;")));
  EXPECT_NE(BrowserText::sidebarKey(SidebarItem::makeFolder("a/b", "c")),
            BrowserText::sidebarKey(SidebarItem::makeFolder("a", "b/c")));
}

}  // namespace
