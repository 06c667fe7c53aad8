#include "Imap/IMAPDate.h"

#include "Util/Unicode.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace bx {

namespace {

struct Formatters {
    std::unique_ptr<icu::SimpleDateFormat> internal;
    std::unique_ptr<icu::SimpleDateFormat> search;
    std::mutex mutex;  // ICU formatters are not guaranteed safe for concurrent use
};

std::unique_ptr<icu::SimpleDateFormat> makeFormatter(const char* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    auto f = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern), icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) std::abort();
    f->adoptTimeZone(icu::TimeZone::createDefault());
    f->setLenient(false);
    return f;
}

Formatters& formatters() {
    static Formatters* f = [] {
        auto* made = new Formatters;
        made->internal = makeFormatter("d-MMM-yyyy HH:mm:ss Z");
        made->search = makeFormatter("d-MMM-yyyy");
        return made;
    }();
    return *f;
}

int twoDigits(std::string_view s, std::size_t at) {
    const char a = s[at], b = s[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    return (a - '0') * 10 + (b - '0');
}

// The shape servers send almost always, "dd-Mon-yyyy hh:mm:ss +hhmm" (day
// with one or two digits), read without the formatter, which costs several
// microseconds per call. Anything else, and any value at the edge of what the
// formatter accepts, goes to the formatter.
std::optional<std::chrono::system_clock::time_point> parseCommonShape(std::string_view s) {
    int day;
    if (s.size() == 26) {
        day = twoDigits(s, 0);
        s.remove_prefix(2);
    } else if (s.size() == 25 && s[0] >= '1' && s[0] <= '9') {
        day = s[0] - '0';
        s.remove_prefix(1);
    } else {
        return std::nullopt;
    }
    // s is now "-Mon-yyyy hh:mm:ss +hhmm".
    if (day < 1 || s[0] != '-' || s[4] != '-' || s[9] != ' ' || s[12] != ':' || s[15] != ':' || s[18] != ' ')
        return std::nullopt;
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::string_view mon = s.substr(1, 3);
    unsigned month = 0;
    for (unsigned m = 0; m < 12; ++m)
        if (mon == months[m]) month = m + 1;
    const int y1 = twoDigits(s, 5), y2 = twoDigits(s, 7);
    const int hh = twoDigits(s, 10), mm = twoDigits(s, 13), ss = twoDigits(s, 16);
    const char sign = s[19];
    const int zh = twoDigits(s, 20), zm = twoDigits(s, 22);
    if (month == 0 || y1 < 0 || y2 < 0 || hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59 ||
        (sign != '+' && sign != '-') || zh < 0 || zh > 23 || zm < 0 || zm > 59)
        return std::nullopt;
    const int year = y1 * 100 + y2;
    // Well inside what a time_point holds (about 1678...2262) and after the
    // formatter's calendar turns from Julian to Gregorian.
    if (year < 1700 || year > 2200) return std::nullopt;
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(month), std::chrono::day(unsigned(day))};
    if (!ymd.ok()) return std::nullopt;
    const auto offset = (sign == '+' ? 1 : -1) * (hours(zh) + minutes(zm));
    return system_clock::time_point(sys_days(ymd) + hours(hh) + minutes(mm) + seconds(ss) - offset);
}

}  // namespace

// The formatter path alone, for tests that check the fast path against it.
std::optional<std::chrono::system_clock::time_point> parseIMAPDateWithFormatter(std::string_view t);

std::optional<std::chrono::system_clock::time_point> IMAPDate::parse(std::string_view text) {
    const std::string_view t = trimCodePoints(text, isWhitespaceChar);
    if (auto fast = parseCommonShape(t)) return fast;
    return parseIMAPDateWithFormatter(t);
}

std::optional<std::chrono::system_clock::time_point> parseIMAPDateWithFormatter(std::string_view t) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(t.data(), int32_t(t.size())));
    Formatters& f = formatters();
    icu::ParsePosition pos(0);
    UDate when;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        when = f.internal->parse(u, pos);
    }
    // The whole text must match, not just a prefix of it.
    if (pos.getErrorIndex() >= 0 || pos.getIndex() != u.length() || u.isEmpty()) return std::nullopt;
    // A time_point counts nanoseconds in 64 bits; dates beyond that cannot be
    // represented and are treated as not matching.
    constexpr double limit = 9.2e12;  // milliseconds, just inside 2^63 ns
    if (!(when > -limit && when < limit)) return std::nullopt;
    const auto ms = std::chrono::milliseconds(static_cast<long long>(when));
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(ms));
}

std::string IMAPDate::searchString(std::chrono::system_clock::time_point date) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    Formatters& f = formatters();
    icu::UnicodeString u;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        f.search->format(UDate(ms), u);
    }
    std::string out;
    u.toUTF8String(out);
    return out;
}

}  // namespace bx
