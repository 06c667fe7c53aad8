// The flat month list and the painted rows.

#include "AppTestSupport.h"
#include "Browser/MessageDelegate.h"
#include "Browser/MonthListModel.h"
#include "Theme/Theme.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace bx;

namespace {

MessageRecord record(const std::string& path, const std::string& subject = "Hello") {
  MessageRecord r;
  r.path = path;
  r.account = "Work";
  r.folder = "INBOX";
  r.subject = subject;
  r.fromName = "Ada Lovelace";
  r.fromEmail = "ada@example.org";
  r.snippet = "A short snippet";
  r.date = dateFromSeconds(1'700'000'000);
  return r;
}

// A regroup into the same rows (an unchanged rescan, a key that found the
// same messages) must not reset the model: the list would lay out every row
// of the vault again. Other rows do reset it.
TEST(MonthListModel, TheSameRowsAgainKeepTheModelAndOthersResetIt) {
  std::vector<MessageRecord> recs{record("Work/INBOX/a.eml"), record("Work/INBOX/b.eml")};
  std::vector<MonthGroup> groups(1);
  groups[0].key = MonthKey(2024, 3);
  groups[0].records = {&recs[0], &recs[1]};
  MonthListModel m;
  m.setGroups(groups, 1);
  int resets = 0, changes = 0;
  QObject::connect(&m, &QAbstractItemModel::modelReset, [&] { ++resets; });
  QObject::connect(&m, &QAbstractItemModel::dataChanged, [&] { ++changes; });

  EXPECT_FALSE(m.setGroups(groups, 2));
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(changes, 1) << "the rows' contents are read again";
  EXPECT_EQ(m.version(), 2);
  EXPECT_EQ(m.rowOfPath(QStringLiteral("Work/INBOX/b.eml")), 2);

  auto fewer = groups;
  fewer[0].records.pop_back();
  auto otherMonth = groups;
  otherMonth[0].key = MonthKey(2024, 2);
  for (const auto& other : {fewer, otherMonth}) {
    EXPECT_TRUE(m.setGroups(other, 3));
    EXPECT_TRUE(m.setGroups(groups, 4));
  }
  EXPECT_EQ(resets, 4);
  EXPECT_EQ(m.rowCount(), 3);
}

TEST(MonthListModel, FlattensHeadersAndRowsAndFindsThemBack) {
  std::vector<MessageRecord> recs{record("Work/INBOX/a.eml"), record("Work/INBOX/b.eml"), record("Work/INBOX/c.eml")};
  std::vector<MonthGroup> groups(2);
  groups[0].key = MonthKey(2024, 3);
  groups[0].records = {&recs[0], &recs[1]};
  groups[1].key = MonthKey(2023, 12);
  groups[1].records = {&recs[2]};
  MonthListModel m;
  m.setGroups(groups, 7);
  ASSERT_EQ(m.rowCount(), 5);
  EXPECT_EQ(m.version(), 7);
  EXPECT_TRUE(m.isHeader(0));
  EXPECT_TRUE(m.isHeader(3));
  EXPECT_FALSE(m.isHeader(4));
  EXPECT_EQ(m.headerRow(MonthKey(2023, 12).index()), 3);
  EXPECT_EQ(m.headerRow(MonthKey(2022, 1).index()), -1);
  EXPECT_EQ(m.rowOfPath(QStringLiteral("Work/INBOX/c.eml")), 4);
  EXPECT_EQ(m.rowOfPath(QStringLiteral("missing")), -1);
  EXPECT_EQ(m.anchorAt(0), QStringLiteral("month:24290"));
  EXPECT_EQ(m.anchorAt(2), QStringLiteral("Work/INBOX/b.eml"));
  EXPECT_EQ(m.monthIndexAt(4), MonthKey(2023, 12).index());
  EXPECT_FALSE(m.flags(m.index(0)) & Qt::ItemIsSelectable) << "headers are never selected";
  EXPECT_TRUE(m.flags(m.index(1)) & Qt::ItemIsSelectable);
}

TEST(MessageDelegate, RowTextsAndGlyphs) {
  MessageRecord r = record("p");
  r.subject.clear();
  r.snippet.clear();
  EXPECT_EQ(MessageDelegate::subjectText(r), QStringLiteral("(no subject)"));
  EXPECT_EQ(MessageDelegate::snippetText(r), QStringLiteral(" ")) << "the third line stays";
  EXPECT_TRUE(MessageDelegate::glyphs(r).isEmpty());

  r.trust = SenderTrust::failed;
  r.trackers = 3;
  r.attachments = 1;
  ASSERT_TRUE(r.isSuspicious());
  const auto g = MessageDelegate::glyphs(r);
  ASSERT_EQ(g.size(), 3);
  EXPECT_EQ(g[0].symbol, QStringLiteral("exclamationmark.shield"));
  EXPECT_EQ(g[0].tooltip, QStringLiteral("Needs a second look"));
  EXPECT_EQ(g[1].tooltip, QStringLiteral("3 trackers blocked"));
  EXPECT_EQ(g[2].tooltip, QStringLiteral("1 attachment"));
  EXPECT_EQ(MessageDelegate::headerCountWord(1), QStringLiteral(" message"));
  EXPECT_EQ(MessageDelegate::headerCountWord(1204), QStringLiteral(" messages"));
}

TEST(MessageDelegate, LongAndRightToLeftTextsAreCutInsideTheirRoom) {
  const QRect item(0, 0, 420, MessageDelegate::rowHeight());
  struct Case {
    const char* name;
    std::string subject;
  } cases[] = {
      {"300 characters", std::string(300, 'W')},
      {"Arabic", "فاتورة الشهر الماضي مع جميع التفاصيل المطلوبة للمراجعة والموافقة عليها قبل نهاية الأسبوع القادم"},
      {"markup", "R&D <b>x</b> <img src=x>"},
  };
  for (const auto& c : cases) {
    MessageRecord r = record("p", c.subject);
    r.fromName = c.subject;
    const auto l = MessageDelegate::rowLayout(item, r);
    EXPECT_LE(l.sender.right(), l.date.left() - 6) << c.name;
    EXPECT_LE(l.subject.right(), item.right() - 8 - 12 + 1) << c.name;
    const QString shown = MessageDelegate::elided(QString::fromStdString(c.subject), Theme::Font::system(12.5),
                                                  l.subject.width());
    EXPECT_LE(QFontMetrics(Theme::Font::system(12.5)).horizontalAdvance(shown), l.subject.width()) << c.name;
  }
  // Markup is text: with room enough it is shown exactly as written.
  EXPECT_EQ(MessageDelegate::elided(QStringLiteral("R&D <b>x"), Theme::Font::body(), 1000), QStringLiteral("R&D <b>x"));
  EXPECT_EQ(MessageDelegate::elided(QStringLiteral("a\nb"), Theme::Font::body(), 1000), QStringLiteral("a b"));
}

class MessageRowPaint : public test::PinnedLook {};

TEST_F(MessageRowPaint, SelectedRowHasTheTintAndTheBarAndHoverDoesNotChangeIt) {
  const QRect item(0, 0, 400, MessageDelegate::rowHeight());
  const MessageRecord r = record("p");
  auto paint = [&](bool selected, bool hover) {
    QImage img(item.size(), QImage::Format_ARGB32);
    img.fill(Theme::panel.resolved());
    QPainter p(&img);
    MessageDelegate::paintRow(p, item, r, selected, hover);
    p.end();
    return img;
  };
  const QImage selected = paint(true, false);
  const auto l = MessageDelegate::rowLayout(item, r);
  const QColor bar = selected.pixelColor(l.bar.left() + 1, l.bar.center().y());
  EXPECT_TRUE(test::near(bar, Theme::focus.resolved(), 10)) << test::describe(bar);
  EXPECT_NE(selected.pixelColor(l.background.left() + 40, l.background.bottom() - 2), Theme::panel.resolved());
  const QImage plain = paint(false, false);
  EXPECT_EQ(plain.pixelColor(l.bar.left() + 1, l.bar.center().y()), Theme::panel.resolved());
  const QImage hovered = paint(false, true);
  EXPECT_NE(hovered.pixelColor(l.background.left() + 40, l.background.bottom() - 2),
            plain.pixelColor(l.background.left() + 40, l.background.bottom() - 2));
}

}  // namespace
