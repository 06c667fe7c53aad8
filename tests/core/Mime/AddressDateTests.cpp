#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include <nlohmann/json.hpp>

#include "Mime/AddressParser.h"
#include "Mime/MIMEParser.h"
#include "Mime/MailAddress.h"
#include "Mime/MailDate.h"
#include "Mime/MailDateForms.h"

using namespace bx;

namespace {
std::vector<MailAddress> A(std::initializer_list<std::pair<const char*, const char*>> l) {
    std::vector<MailAddress> r;
    for (auto& [n, e] : l) r.push_back({n, e});
    return r;
}
long long epoch(std::optional<MailDate::TimePoint> t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t->time_since_epoch()).count();
}

// Each text parses to its time in seconds, or (nullopt) gives no date.
struct DateCase {
    std::string in;
    std::optional<long long> secs;
};
template <std::size_t N>
void expectDates(const DateCase (&cases)[N]) {
    for (const auto& c : cases) {
        auto d = MailDate::parse(c.in);
        if (!c.secs) {
            EXPECT_FALSE(d) << c.in << " read as " << (d ? epoch(d) : 0);
            continue;
        }
        ASSERT_TRUE(d) << c.in;
        EXPECT_EQ(epoch(d), *c.secs) << c.in;
    }
}
} // namespace

TEST(AddressParser, Parse) {
    struct Case { std::string in; std::vector<MailAddress> out; } cases[] = {
        {"Ann Example <ann@host>", A({{"Ann Example", "ann@host"}})},
        {"\"Doe, John\" <jd@host>, x@host", A({{"Doe, John", "jd@host"}, {"", "x@host"}})},
        {R"("Say \"hi\"" <a@host>)", A({{"Say \"hi\"", "a@host"}})},
        {"=?utf-8?q?J=C3=B6rg?= <j@host>", A({{"J\xC3\xB6rg", "j@host"}})},
        {"bob@host (Bob Smith)", A({{"Bob Smith", "bob@host"}})},
        {"Friends: a@host, b@host;", A({{"", "a@host"}, {"", "b@host"}})},
        {"undisclosed-recipients:;", {}},
        {"<a@host>", A({{"", "a@host"}})},
        {"a@host", A({{"", "a@host"}})},
        {"not an address", {}},
        {"", {}},
        {"a@x; b@y", A({{"", "a@x"}, {"", "b@y"}})},
        {"\"a <b>, c\" <d@e>", A({{"a <b>, c", "d@e"}})},
        {"x@y (a, b), z@w", A({{"a, b", "x@y"}, {"", "z@w"}})},
        {"x@y (it's \"q, r), z@w", A({{"it's \"q, r", "x@y"}, {"", "z@w"}})},
        {"  Name  <  n@h  >  ", A({{"Name", "n@h"}})},
        {"Broken <", {}},
        {"Nobody <>", A({{"Nobody", ""}})},
        {",,,", {}},
        {"a@b >>>, c@d", A({{"", "a@b >>>"}, {"", "c@d"}})},
        // a list that lost its comma splits after each closing ">"
        {"Ann Smith <ann@example.com> Bob Jones <bob@example.com>",
         A({{"Ann Smith", "ann@example.com"}, {"Bob Jones", "bob@example.com"}})},
        {"<a@x>\r\n <b@y> \"C, D\" <c@z>", A({{"", "a@x"}, {"", "b@y"}, {"C, D", "c@z"}})},
        {"Ann <a@x> (work), Bob <b@y>", A({{"Ann", "a@x"}, {"Bob", "b@y"}})},
        {"Ann <a@x> trailing words", A({{"Ann", "a@x"}})},
        {"Ann <a@x> b@y", A({{"Ann", "a@x"}, {"", "b@y"}})},
    };
    for (const auto& c : cases) EXPECT_EQ(AddressParser::parse(c.in), c.out) << c.in;
}

TEST(MailAddress, DerivedValues) {
    MailAddress a{"", "ann@Host"};
    EXPECT_EQ(a.display(), "ann@Host");
    EXPECT_EQ(a.domain(), "host");
    EXPECT_EQ(a.formatted(), "ann@Host");
    MailAddress b{"Ann", "ann@x.org"};
    EXPECT_EQ(b.display(), "Ann");
    EXPECT_EQ(b.formatted(), "Ann <ann@x.org>");
    EXPECT_EQ((MailAddress{"", "postmaster"}).domain(), "postmaster");
    EXPECT_EQ((MailAddress{"", ""}).domain(), "");
    EXPECT_EQ((MailAddress{"", "@@"}).domain(), "");
    EXPECT_EQ((MailAddress{"", "a@B@C@@"}).domain(), "c");
    EXPECT_EQ((MailAddress{"", "x@\xC3\x89X.FR"}).domain(), "\xC3\xA9x.fr");
}

TEST(MailAddress, JSON) {
    MailAddress a{"Ann", "a@x"};
    nlohmann::json j = a;
    EXPECT_EQ(j.dump(), R"({"email":"a@x","name":"Ann"})");
    EXPECT_EQ(nlohmann::json::parse(R"({"name":"N","email":"e","extra":1})").get<MailAddress>(), (MailAddress{"N", "e"}));
    EXPECT_THROW(nlohmann::json::parse(R"({"name":"N"})").get<MailAddress>(), nlohmann::json::exception);
    EXPECT_THROW(nlohmann::json::parse(R"({"name":"N","email":5})").get<MailAddress>(), nlohmann::json::exception);
    EXPECT_THROW(nlohmann::json::parse(R"(["N","e"])").get<MailAddress>(), nlohmann::json::exception);

    EXPECT_EQ(decodeJSON<MailAddress>(json::parse(R"({"email":"e","name":"N","x":[]})")), (MailAddress{"N", "e"}));
    EXPECT_THROW(decodeJSON<MailAddress>(json::parse(R"({"name":"N"})")), JSONDecodeError);
    EXPECT_THROW(decodeJSON<MailAddress>(json::parse(R"({"name":1,"email":"e"})")), JSONDecodeError);
    EXPECT_EQ(encodeJSON(MailAddress{"N", "e"}).dump(), R"({"email":"e","name":"N"})");
}

TEST(MailDate, Parse) {
    // 2024-03-05 09:15:00 +0100 = 08:15:00Z
    const long long t = 1709626500;
    const DateCase cases[] = {
        {"Tue, 5 Mar 2024 09:15:00 +0100", t},
        {"Tue, 5 Mar 2024 09:15:00 +0100 (CET)", t},
        {"  Tue, 5 Mar 2024 09:15:00 +0100\r\n", t},
        {"5 Mar 2024 09:15:00 +0100", t},
        {"Tue, 5 Mar 2024 09:15 +0100", t},
        {"5 Mar 2024 09:15 +0100", t},
        {"Tue, 5 Mar 24 09:15:00 +0100", t},   // two-digit year: not the year 24 AD
        {"Fri, 5 Mar 99 09:15:00 +0100", 920621700},
        {"Tue, 5 Mar 2024 08:15:00 GMT", t},
        {"Tue, 5 Mar 2024 08:15:00 UTC", t},
        {"5 Mar 2024 08:15:00 GMT", t},
        {"Tue,  5 Mar 2024 09:15:00 +0100", t},
        {"Tue, 05 Mar 2024 09:15:00 +0100", t},
        {"tue, 5 mar 2024 09:15:00 +0100", t},
        {"2024-03-05T08:15:00Z", std::nullopt},
        {"", std::nullopt},
        {"Tue, 5 Mar 2024 09:15:00 +0100 trailing", std::nullopt},
        {"Tue, 31 Feb 2024 09:15:00 +0100", std::nullopt},
        {std::string(100000, ' ') + "x", std::nullopt},
    };
    expectDates(cases);
    EXPECT_EQ(MailDate::patterns().size(), 7u);
}

// Long weekday and month names and the 12-hour clock, as some mail programs
// write them; a text without a zone is UTC like any other.
TEST(MailDate, LongFormsAfterTheSevenPatterns) {
    const DateCase cases[] = {
        {"Wednesday, April 03, 2002 5:56 AM", 1017813360},
        {"Wednesday, April 3, 2002 5:56 PM", 1017856560},
        {"Wednesday, April 03, 2002 12:05 AM", 1017792300},
        {"Wednesday, April 03, 2002 5:56:09 AM -0500", 1017831369},
        {"April 3, 2002 5:56 AM", 1017813360},
        {"Wednesday, 3 April 2002 05:56:00 +0000", 1017813360},
        {"3 April 2002 05:56:00 +0200", 1017806160},
        {"Wednesday, April 03, 2002 13:56 PM", std::nullopt},
        {"Someday, April 03, 2002 5:56 AM", std::nullopt},
    };
    expectDates(cases);
}

// A From field holding nothing but an encoded display name still names its
// sender; the other address fields keep skipping what is no address.
TEST(AddressParser, SenderWithoutAddress) {
    struct Case { std::string in; std::vector<MailAddress> out; } cases[] = {
        {"=?utf-8?q?J=C3=B6rg_M=C3=BCller?=", A({{"J\xC3\xB6rg M\xC3\xBCller", ""}})},
        {"  =?iso-8859-1?b?UGF5UGFs?=\r\n", A({{"PayPal", ""}})},
        {"Ann <ann@host>", A({{"Ann", "ann@host"}})},
        {"not an address", {}},
        {"=?utf-8?q?broken", {}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(AddressParser::senders(c.in), c.out) << c.in;
    EXPECT_TRUE(AddressParser::parse("=?utf-8?q?J=C3=B6rg?=").empty());

    const ParsedMessage m = MIMEParser::parse("From: =?utf-8?q?J=C3=B6rg?=\r\nTo: =?utf-8?q?Ann?=\r\n\r\nHi\r\n");
    ASSERT_EQ(m.from.size(), 1u);
    EXPECT_EQ(m.from[0].display(), "J\xC3\xB6rg");
    EXPECT_TRUE(m.from[0].email.empty());
    EXPECT_TRUE(m.to.empty());
}

// Years far from today must neither wrap around the 64-bit nanosecond clock
// nor land in another century; a date without a zone is still a date.
TEST(MailDate, YearsAndZonesAtTheEdges) {
    const DateCase cases[] = {
        {"Mon, 2 Apr 101 10:00:00 +0000", 986205600},   // three digits: 1900 + 101
        {"2 Apr 101 10:00 +0000", 986205600},
        {"2 Apr 1600 10:00:00 +0000", std::nullopt},    // before what the clock holds
        {"2 Apr 2300 10:00:00 +0000", std::nullopt},    // after it
        {"2 Apr 9999 10:00:00 +0000", std::nullopt},
        {"1 Jan 1678 00:00:00 +0000", -9214560000},     // just inside, both ends
        {"1 Jan 2262 00:00:00 +0000", 9214646400},
        {"Wed, 3 May 2006 00:09:22", 1146614962},        // no zone: UTC
        {"3 May 2006 00:09:22", 1146614962},
        {"Tue, 5 Mar 2024 09:15", 1709630100},
        {"Tue, 5 Mar 24 09:15:00", 1709630100},
        {"Wed, 3 May 2006", std::nullopt},
        {"Wed, 3 May 2006 00:09:22 +0000 +0000", std::nullopt},
    };
    expectDates(cases);
}

// The hand reader of the common form must give what the ICU patterns give,
// and leave alone whatever they might judge differently.
TEST(MailDate, CommonFormReadsAsThePatternsDo) {
    struct Case {
        const char* in;
        bool common;  // read by hand
    };
    const Case cases[] = {
        {"Tue, 5 Mar 2024 09:15:00 +0100", true},
        {"5 Mar 2024 09:15:00 +0100", true},
        {"Tue, 05 Mar 2024 09:15:00 -0830", true},
        {"Thu, 29 Feb 2024 23:59:59 +2359", true},
        {"Sat, 1 Jan 2000 00:00:00 -0000", true},
        {"Tue, 31 Dec 2199 12:00:00 +0000", true},
        {"Thu, 1 Jan 1970 00:00:00 +0000", true},
        {"Wed, 5 Mar 2024 09:15:00 +0100", false},   // the wrong weekday
        {"Thu, 29 Feb 2023 10:00:00 +0000", false},  // no such day
        {"Thu, 31 Apr 2024 10:00:00 +0000", false},
        {"Tue, 5 Mar 2024 24:00:00 +0000", false},
        {"Tue, 5 Mar 2024 09:60:00 +0000", false},
        {"Tue, 5 Mar 2024 09:15:60 +0000", false},
        {"Tue, 5 Mar 2024 09:15:00 +2400", false},
        {"Tue, 5 Mar 2024 09:15:00 +0160", false},
        {"Tue, 5 mar 2024 09:15:00 +0100", false},  // other spellings go to the patterns
        {"tue, 5 Mar 2024 09:15:00 +0100", false},
        {"Tue, 5 Mar 24 09:15:00 +0100", false},
        {"Tue, 5 Mar 2024 09:15 +0100", false},
        {"Tue, 5 Mar 2024 09:15:00 GMT", false},
        {"Tue, 5 Mar 2024 09:15:00 +01:00", false},
        {"Tue,  5 Mar 2024 09:15:00 +0100", false},
        {"Tue, 5 Mar 1899 09:15:00 +0100", false},
        {"Tue, 5 Mar 2024 09:15:00 +0100 ", false},
        {"Tue, 005 Mar 2024 09:15:00 +0100", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto hand = maildate::readCommonForm(c.in);
        EXPECT_EQ(hand.has_value(), c.common) << c.in;
        if (hand) EXPECT_EQ(hand, maildate::readWithICU(c.in)) << c.in;
    }

    // Many dates of the form, right and wrong weekdays and days included.
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::mt19937 rng(5322);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int read = 0;
    for (int i = 0; i < 20000; ++i) {
        char text[64];
        const int day = pick(1, 31), zone = pick(0, 23) * 100 + pick(0, 59);
        std::snprintf(text, sizeof text, "%s%s%d %s %d %02d:%02d:%02d %c%04d",
                      pick(0, 3) ? days[pick(0, 6)] : "", "", day, months[pick(0, 11)], pick(1900, 2199),
                      pick(0, 23), pick(0, 59), pick(0, 59), pick(0, 1) ? '+' : '-', zone);
        std::string s = text;
        if (s[0] >= 'A' && s[0] <= 'Z') s.insert(3, ", ");
        if (pick(0, 9) == 0 && day < 10) s.insert(s.find(' ') + 1, "0");
        const auto hand = maildate::readCommonForm(s);
        if (!hand) continue;
        ++read;
        ASSERT_EQ(hand, maildate::readWithICU(s)) << s;
    }
    EXPECT_GT(read, 5000);
}

TEST(MailDate, RFC5322UsesLocalZone) {
    auto tp = MailDate::TimePoint(std::chrono::seconds(1709626500));
    EXPECT_EQ(MailDate::rfc5322(tp), "Tue, 5 Mar 2024 08:15:00 +0000");  // TZ=UTC under ctest
    auto back = MailDate::parse(MailDate::rfc5322(tp));
    ASSERT_TRUE(back);
    EXPECT_EQ(epoch(back), 1709626500);
}
