#include "Imap/IMAPDate.h"
#include "Imap/IMAPQuote.h"
#include "Imap/ModifiedUTF7.h"
#include "Imap/UIDSet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

using namespace bx;

namespace bx {
// The formatter alone, without the fast path for the common shape.
std::optional<std::chrono::system_clock::time_point> parseIMAPDateWithFormatter(std::string_view text);
}  // namespace bx

namespace {

std::chrono::system_clock::time_point utc(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
    using namespace std::chrono;
    return sys_days(year(y) / month(m) / day(d)) + hours(hh) + minutes(mm) + seconds(ss);
}

}  // namespace

TEST(IMAPQuote, NeedsLiteral) {
    const std::pair<std::string, bool> cases[] = {
        {"plain", false},        {"say \"hi\" there", false}, {"back\\slash", false}, {"", false},
        {"tab\there", false},    {std::string("nul\0x", 5), false}, {"\x7f", false},
        {"caf\xC3\xB6", true},   {"line\nbreak", true},       {"cr\ronly", true},      {"\x80", true},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(IMAPQuote::needsLiteral(text), expected);
    }
}

TEST(IMAPQuote, Quoted) {
    const std::pair<std::string, std::string> cases[] = {
        {"", R"("")"},
        {"INBOX", R"("INBOX")"},
        {"Sent Items", R"("Sent Items")"},
        {"\"\\x", R"("\"\\x")"},  // backslashes doubled first, then quotes escaped
        {"a\\\"b", R"("a\\\"b")"},
        {"\\\\", R"("\\\\")"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(IMAPQuote::quoted(text), expected);
    }
    EXPECT_EQ(IMAPQuote::quoted("\"\\x").size(), 7u);
}

TEST(UIDSet, String) {
    const std::pair<std::vector<std::uint32_t>, std::string> cases[] = {
        {{5, 3, 4, 9, 3, 10, 12}, "3:5,9:10,12"},
        {{7}, "7"},
        {{4294967295u, 4294967294u}, "4294967294:4294967295"},
        {{4294967295u, 0}, "0,4294967295"},
        {{}, ""},
        {{1, 1, 1}, "1"},
        {{2, 4, 6}, "2,4,6"},
        {{10, 9, 8, 7, 1}, "1,7:10"},
    };
    for (const auto& [uids, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(UIDSet::string(uids), expected);
    }
}

TEST(ModifiedUTF7, Decode) {
    const std::pair<std::string, std::string> cases[] = {
        {"INBOX", "INBOX"},
        {"Entw&APw-rfe", "Entw\u00FCrfe"},
        {"R&AOk-sum&AOk-", "R\u00E9sum\u00E9"},
        {"R &- D", "R & D"},
        {"&-&-", "&&"},
        {"a&b", "a&b"},
        {"a&-b&c", "a&b&c"},
        {"&*-x", "&*-x"},
        {"&U,BTFw-", "\u53F0\u5317"},          // "," stands for "/"
        {"&2D3eAA-", "\U0001F600"},            // a surrogate pair
        {"&2D0-", "&2D0-"},                    // an unpaired surrogate
        {"&AP-", "&AP-"},                      // odd number of bytes
        {"&A-", "&A-"},                        // not whole Base64
        {"&AP=w-", "&AP=w-"},                  // padding in the middle
        {"caf\xC3\xA9&AOk-", "caf\xC3\xA9\u00E9"},  // 8-bit text passes through
        {"~peter/mail/&U,BTFw-/&ZeVnLIqe-", "~peter/mail/\u53F0\u5317/\u65E5\u672C\u8A9E"},
    };
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ModifiedUTF7::decode(name), expected);
    }
}

TEST(IMAPDate, Parse) {
    const std::pair<std::string, std::optional<std::chrono::system_clock::time_point>> cases[] = {
        {" 7-Mar-2024 09:15:02 +0100", utc(2024, 3, 7, 8, 15, 2)},
        {"07-Mar-2024 09:15:02 +0100", utc(2024, 3, 7, 8, 15, 2)},
        {"7-Mar-2024 09:15:02 +0100", utc(2024, 3, 7, 8, 15, 2)},
        {"\t 7-Mar-2024 09:15:02 +0100 \t", utc(2024, 3, 7, 8, 15, 2)},
        {"\u00A07-Mar-2024 09:15:02 +0100\u2003", utc(2024, 3, 7, 8, 15, 2)},  // Unicode spaces trimmed
        {"01-Jan-1970 00:00:00 +0000", utc(1970, 1, 1, 0, 0, 0)},
        {"29-Feb-2024 23:59:59 -1130", utc(2024, 3, 1, 11, 29, 59)},
        {"2024-03-07", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"7-Mar-2024 09:15:02 +0100\r\n", std::nullopt},  // line breaks are not trimmed
        {"7-Mar-2024 09:15:02 +0100 trailing", std::nullopt},
        {"7-Mar-2024 09:15:02", std::nullopt},
        {"7-Foo-2024 09:15:02 +0100", std::nullopt},
        {"32-Mar-2024 09:15:02 +0100", std::nullopt},
        {"1-Jan-1000 00:00:00 +0000", std::nullopt},  // beyond what a time_point holds
        {"1-Jan-9999 00:00:00 +0000", std::nullopt},
        {"1-Jan-1700 00:00:00 +0000", utc(1700, 1, 1, 0, 0, 0)},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(IMAPDate::parse(text), expected);
    }
}

TEST(IMAPDate, FastPathAgreesWithFormatter) {
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec", "mar", "MAR", "Foo"};
    const char* zones[] = {"+0000", "+0100", "-0500", "+1400", "-1200", "+0530", "-2359", "+2400", "+0060", "Z", "+01:00"};
    const char* times[] = {"00:00:00", "09:15:02", "23:59:59", "24:00:00", "12:60:00", "12:00:60", "1:00:00"};
    const char* years[] = {"1581", "1600", "1677", "1699", "1700", "1899", "2200", "2201", "2262", "2263", "1970", "2000", "2024", "2100", "9999", "0000", "24"};
    const char* days[] = {"1", "01", " 1", "9", "10", "28", "29", "30", "31", "32", "0", "00", "001"};
    std::mt19937 rng(7);
    int fast = 0;
    for (int i = 0; i < 20000; ++i) {
        auto pick = [&](auto& arr) { return std::string(arr[rng() % std::size(arr)]); };
        const std::string text = pick(days) + "-" + pick(months) + "-" + pick(years) + " " + pick(times) + " " + pick(zones);
        const auto expected = parseIMAPDateWithFormatter(text);
        const auto got = IMAPDate::parse(text);
        ASSERT_EQ(got, expected) << text;
        if (got) ++fast;
    }
    EXPECT_GT(fast, 1000);
}

TEST(IMAPDate, SearchStringUsesMachineZone) {
    // The process runs in UTC (the test environment pins TZ).
    EXPECT_EQ(IMAPDate::searchString(utc(2024, 3, 7, 0, 0, 0)), "7-Mar-2024");
    EXPECT_EQ(IMAPDate::searchString(utc(2024, 3, 7, 23, 59, 59)), "7-Mar-2024");
    EXPECT_EQ(IMAPDate::searchString(utc(1999, 12, 31, 12, 0, 0)), "31-Dec-1999");
    EXPECT_EQ(IMAPDate::searchString(utc(2024, 10, 1, 12, 0, 0)), "1-Oct-2024");
}

TEST(IMAPDate, SafeAcrossThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const int day = 1 + (i + t) % 28;
                const auto when = utc(2024, 2, unsigned(day), 12, 0, 0);
                if (IMAPDate::parse(std::to_string(day) + "-Feb-2024 13:00:00 +0100") != when) ++wrong;
                if (IMAPDate::searchString(when) != std::to_string(day) + "-Feb-2024") ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}
