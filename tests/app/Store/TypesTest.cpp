// Value types, formatting and provider presets.

#include "Store/ProviderPreset.h"
#include "Store/StoreTypes.h"

#include <QJsonDocument>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <gtest/gtest.h>

namespace bx::test {
namespace {

using namespace std::chrono;

Date at(const char* iso) { return *parseISO8601(iso); }

TEST(MonthKeyTest, IndexOrderAndTitle) {
  EXPECT_EQ(MonthKey(2024, 3).index(), 24290);
  EXPECT_FALSE(MonthKey(2024, 1) < MonthKey(2023, 12));
  EXPECT_EQ(MonthKey(2024, 1).index(), 24288);
  EXPECT_EQ(MonthKey(2023, 12).index(), 24287);
  for (int i : {24287, 24288, 24290, 0, 11})
    EXPECT_EQ(MonthKey::fromIndex(i).index(), i);
  EXPECT_EQ(MonthKey::fromIndex(24287), MonthKey(2023, 12));
  EXPECT_EQ(MonthKey(at("2024-03-31T23:30:00Z")), MonthKey(2024, 3));  // TZ=UTC
  EXPECT_EQ(MonthKey(2024, 3).title(), QStringLiteral("March 2024"));
  EXPECT_EQ(MonthKey(12024, 12).title(), QStringLiteral("December 12024"));  // no grouping
}

// A month's bounds are kept once worked out; another zone in TZ is another
// calendar, also when an earlier zone comes back.
TEST(MonthKeyTest, BoundsFollowTheZoneInTZ) {
  const char* was = std::getenv("TZ");
  const std::optional<std::string> saved = was ? std::optional<std::string>(was) : std::nullopt;
  struct Case {
    const char* zone;
    MonthKey month;
    const char* start;
    const char* end;
  } cases[] = {
      {"UTC", {2024, 3}, "2024-03-01T00:00:00Z", "2024-04-01T00:00:00Z"},
      {"America/New_York", {2024, 3}, "2024-03-01T05:00:00Z", "2024-04-01T04:00:00Z"},  // summer time between
      {"Asia/Tokyo", {2024, 3}, "2024-02-29T15:00:00Z", "2024-03-31T15:00:00Z"},
      {"Asia/Tokyo", {2023, 12}, "2023-11-30T15:00:00Z", "2023-12-31T15:00:00Z"},
      {"UTC", {2024, 3}, "2024-03-01T00:00:00Z", "2024-04-01T00:00:00Z"},
      {"UTC", {2023, 12}, "2023-12-01T00:00:00Z", "2024-01-01T00:00:00Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.month.year) + "-" + std::to_string(c.month.month));
    setenv("TZ", c.zone, 1);
    tzset();
    for (int twice = 0; twice < 2; ++twice) {
      const auto [start, end] = MonthKey::bounds(c.month);
      EXPECT_EQ(start, at(c.start));
      EXPECT_EQ(end, at(c.end));
    }
  }
  if (saved)
    setenv("TZ", saved->c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(SmartFilterTest, RawValuesAndTitles) {
  EXPECT_EQ(SmartFilters::fromRawValue("trackers"), SmartFilter::trackers);
  EXPECT_FALSE(SmartFilters::fromRawValue("Trackers"));
  EXPECT_FALSE(SmartFilters::fromRawValue(""));
  QStringList titles;
  for (SmartFilter f : SmartFilters::allCases) titles << SmartFilters::title(f);
  EXPECT_EQ(titles, (QStringList{"Last 30 Days", "With Attachments", "Trackers Blocked", "Needs a Second Look",
                                 "Over 5 MB"}));
}

TEST(SmartFilterTest, ShelfBoundaries) {
  const double now = 2'000'000'000;
  auto rec = [&](double age, int64_t size, int64_t attachments, int64_t trackers) {
    MessageRecord r;
    r.date = MessageRecord::dateFromSeconds(now - age);
    r.size = size;
    r.attachments = attachments;
    r.trackers = trackers;
    return r;
  };
  struct Case {
    SmartFilter shelf;
    MessageRecord record;
    bool in;
  };
  const std::vector<Case> cases{
      {SmartFilter::recent, rec(2'592'000, 0, 0, 0), false},  // exactly 30 days
      {SmartFilter::recent, rec(2'591'999, 0, 0, 0), true},
      {SmartFilter::large, rec(0, 5'000'000, 0, 0), false},
      {SmartFilter::large, rec(0, 5'000'001, 0, 0), true},
      {SmartFilter::attachments, rec(0, 0, 1, 0), true},
      {SmartFilter::attachments, rec(0, 0, 0, 0), false},
      {SmartFilter::trackers, rec(0, 0, 0, 1), true},
      {SmartFilter::suspicious, rec(0, 0, 0, 0), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SmartFilters::contains(c.shelf, c.record, now), c.in)
        << SmartFilters::rawValue(c.shelf).toStdString() << " " << c.record.size;
  MessageRecord failed = rec(0, 0, 0, 0);
  failed.trust = SenderTrust::failed;
  EXPECT_TRUE(SmartFilters::contains(SmartFilter::suspicious, failed, now));
}

TEST(SavedSearchTest, StrictDecoding) {
  struct Case {
    const char* json;
    bool ok;
  };
  const std::vector<Case> cases{
      {R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"A","query":"a"}])", true},
      {R"([{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","name":"A","query":"a","extra":true}])", true},
      {R"([])", true},
      {R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","query":"a"}])", false},
      {R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":1,"query":"a"}])", false},
      {R"([{"id":"not-a-uuid","name":"A","query":"a"}])", false},
      {R"([{"id":"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}","name":"A","query":"a"}])", false},
      {R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"})", false},
      {R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"A","query":"a"})", false},
  };
  for (const Case& c : cases) EXPECT_EQ(SavedSearch::decodeList(c.json).has_value(), c.ok) << c.json;
}

TEST(FmtTest, Ago) {
  const Date now = at("2024-06-01T12:00:00Z");
  struct Case {
    double seconds;
    const char* text;
  };
  const std::vector<Case> cases{
      {89.9, "just now"},   {90, "1 min ago"},    {3'599, "59 min ago"}, {3'600, "1 h ago"},
      {86'399, "23 h ago"}, {86'400, "1 d ago"},  {59.9 * 86'400, "59 d ago"},
      {-500, "just now"},   {60.0 * 86'400, "Apr 2, 2024"},
  };
  for (const Case& c : cases) {
    const Date d = now - duration_cast<system_clock::duration>(duration<double>(c.seconds));
    EXPECT_EQ(Fmt::ago(d, now), QString::fromUtf8(c.text)) << c.seconds;
  }
}

TEST(FmtTest, RowDate) {
  const Date now = at("2024-06-01T12:00:00Z");
  EXPECT_EQ(Fmt::rowDate(at("2024-06-01T07:05:00Z"), now), "07:05");
  EXPECT_EQ(Fmt::rowDate(at("2024-06-01T23:59:00Z"), now), "23:59");
  EXPECT_EQ(Fmt::rowDate(at("2024-05-31T00:01:00Z"), now), "Yesterday");
  EXPECT_EQ(Fmt::rowDate(at("2024-05-30T23:59:00Z"), now), "May 30");
  EXPECT_EQ(Fmt::rowDate(at("2023-06-01T10:00:00Z"), now), "Jun 01");
}

TEST(FmtTest, Bytes) {
  const std::vector<std::pair<int64_t, const char*>> cases{
      {0, "Zero KB"},           {1, "1 byte"},        {512, "512 bytes"}, {12'000, "12 KB"},
      {3'400'000, "3.4 MB"},    {2'000'000, "2 MB"},  {1'230'000'000, "1.23 GB"},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(Fmt::bytes(n), QString::fromUtf8(text)) << n;
}

TEST(SidebarItemTest, EqualityByCaseAndPayload) {
  EXPECT_EQ(SidebarItem::makeAccount("Work"), SidebarItem::makeAccount("Work"));
  EXPECT_NE(SidebarItem::makeAccount("Work"), SidebarItem::makeFolder("Work", ""));
  EXPECT_NE(SidebarItem::makeSmart(SmartFilter::large), SidebarItem::makeSmart(SmartFilter::recent));
  EXPECT_EQ(SidebarItem::makeAll(), SidebarItem());
  EXPECT_EQ(FolderSummary({"Work", "a/b", 1}).id(), "Work/a/b");
}

TEST(ProviderPresetTest, TableLookupAndNeeds) {
  const auto& all = ProviderPreset::all();
  QStringList ids;
  for (const auto& p : all) ids << p.id;
  EXPECT_EQ(ids, (QStringList{"gmail", "icloud", "yahoo", "fastmail", "outlook", "custom"}));
  EXPECT_EQ(ProviderPreset::named("gmail").name, "Gmail");
  EXPECT_EQ(ProviderPreset::named("Gmail").id, "custom");
  EXPECT_EQ(ProviderPreset::named("").id, "custom");
  const std::vector<std::pair<QString, QString>> needs{
      {"gmail", "App password · needs 2-Step Verification"},
      {"icloud", "App-specific password · needs two-factor"},
      {"yahoo", "App password from Account Security"},
      {"fastmail", "App password with IMAP access"},
      {"outlook", "App password · two-step verification"},
      {"custom", "Server name + password · TLS on 993"},
  };
  for (const auto& [id, text] : needs) EXPECT_EQ(ProviderPreset::named(id).needs(), text) << id.toStdString();
  for (const auto& p : all) {
    EXPECT_EQ(p.port, 993);
    EXPECT_EQ(p.host.isEmpty(), p.id == "custom");
    EXPECT_EQ(p.helpURL.has_value(), p.id != "custom");
    if (p.helpURL) EXPECT_EQ(p.helpURL->scheme(), "https");
    for (const QString& step : p.steps) EXPECT_FALSE(step.contains("http")) << step.toStdString();
  }
  EXPECT_EQ(ProviderPreset::named("gmail").steps.size(), 4);
  EXPECT_EQ(ProviderPreset::named("outlook").steps.size(), 3);
  EXPECT_EQ(ProviderPreset::named("custom").steps.size(), 3);
  ProviderPreset a = ProviderPreset::named("gmail"), b = a;
  b.note = std::nullopt;
  EXPECT_NE(a, b);
  EXPECT_NE(qHash(a), qHash(b));
}

}  // namespace
}  // namespace bx::test
