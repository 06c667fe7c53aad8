// The pure pieces of the scrub and network scenarios: which months are
// visited, the drag steps and their verdict, and reading the request log.

#include "UITest/UITest.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace bx;

TEST(UITestScrub, MonthVisits) {
  using V = std::vector<int>;
  EXPECT_EQ(UITest::scrubMonthIndexes(60), V({0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 59, 3}));
  EXPECT_EQ(UITest::scrubMonthIndexes(51), V({0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 50, 3}));
  EXPECT_EQ(UITest::scrubMonthIndexes(4), V({0, 1, 2, 3, 3, 3}));
  // Fewer than four months: the fourth-newest does not exist.
  for (int n : {0, 1, 3}) EXPECT_EQ(UITest::scrubMonthIndexes(n), std::nullopt) << n;
}

TEST(UITestScrub, DragStepsAndVerdict) {
  const auto drag200 = UITest::dragIndexes(200);
  ASSERT_EQ(drag200.size(), 38u);
  EXPECT_EQ(drag200.front(), 0);
  EXPECT_EQ(drag200.back(), 148);
  EXPECT_EQ(UITest::dragIndexes(9), std::vector<int>({0, 4, 8}));
  EXPECT_TRUE(UITest::dragIndexes(0).empty());
  EXPECT_EQ(UITest::dragName(2), "rapid drag keeps the list on the spine\u2019s month (2 misses)");
  EXPECT_EQ(UITest::dragName(1), "rapid drag keeps the list on the spine\u2019s month (1 misses)");
}

TEST(UITestNetwork, RequestLog) {
  QTemporaryDir dir;
  struct Case {
    const char* name;
    QByteArray content;
    QStringList expected;
  };
  const QList<Case> cases{
      {"blank lines are not requests", "\n\nREQ GET /hero.png\n\n", {"REQ GET /hero.png"}},
      {"carriage return kept", "CONN\r\nREQ GET /a\n", {"CONN\r", "REQ GET /a"}},
      {"last line without feed", "CONN\nREQ", {"CONN", "REQ"}},
      {"not UTF-8 reads as none", "REQ GET /\xff\xfe\n", {}},
      {"empty", "", {}},
  };
  for (const Case& c : cases) {
    const QString path = dir.filePath("log");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(c.content);
    f.close();
    EXPECT_EQ(UITest::requests(path), c.expected) << c.name;
  }
  EXPECT_TRUE(UITest::requests(dir.filePath("missing")).isEmpty());
  EXPECT_TRUE(UITest::requests(QString()).isEmpty());
}

TEST(UITestNetwork, RequestListText) {
  EXPECT_EQ(UITest::requestListText({}), "[]");
  EXPECT_EQ(UITest::requestListText({"REQ GET /hero.png"}), "[\"REQ GET /hero.png\"]");
  EXPECT_EQ(UITest::requestListText({"a \"q\" \\", QString("x\r"), QString("t\tz")}),
            "[\"a \\\"q\\\" \\\\\", \"x\\r\", \"t\\tz\"]");
  // A control character never reaches the line unescaped.
  EXPECT_FALSE(UITest::requestListText({QString(QChar(0x1b)) + "x"}).contains(QChar(0x1b)));
}
