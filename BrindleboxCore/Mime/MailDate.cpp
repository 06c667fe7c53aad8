#include "Mime/MailDate.h"

#include "Mime/MailDateForms.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include "Mime/MimeText.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

using Formatters = std::vector<std::unique_ptr<icu::SimpleDateFormat>>;

std::unique_ptr<icu::SimpleDateFormat> makeFormatter(const std::string& pattern, bool utc) {
    UErrorCode err = U_ZERO_ERROR;
    auto f =
        std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern), icu::Locale("en_US_POSIX"), err);
    if (U_FAILURE(err)) std::abort();  // a fixed pattern that does not build is a programming error
    if (utc) f->adoptTimeZone(icu::TimeZone::createTimeZone("UTC"));
    f->setLenient(false);
    return f;
}

Formatters makeFormatters(const std::vector<std::string>& patterns) {
    Formatters l;
    for (const auto& p : patterns) l.push_back(makeFormatter(p, true));
    return l;
}

// ICU formatters are not safe for concurrent use: each thread builds its own
// set once, on first use, from the shared pattern lists.
const Formatters& threadFormatters() {
    thread_local const Formatters list = makeFormatters(MailDate::patterns());
    return list;
}

const Formatters& threadLongFormatters() {
    thread_local const Formatters list = makeFormatters(MailDate::longPatterns());
    return list;
}

}  // namespace

const std::vector<std::string>& MailDate::patterns() {
    static const std::vector<std::string> p = {
        "EEE, d MMM yyyy HH:mm:ss Z", "d MMM yyyy HH:mm:ss Z",        "EEE, d MMM yyyy HH:mm Z", "d MMM yyyy HH:mm Z",
        "EEE, d MMM yy HH:mm:ss Z",   "EEE, d MMM yyyy HH:mm:ss zzz", "d MMM yyyy HH:mm:ss zzz",
    };
    return p;
}

const std::vector<std::string>& MailDate::longPatterns() {
    // Each ends in a zone; a text without one gets "+0000" like any other.
    static const std::vector<std::string> p = {
        "EEEE, MMMM d, yyyy h:mm a Z", "EEEE, MMMM d, yyyy h:mm:ss a Z", "MMMM d, yyyy h:mm a Z",
        "MMMM d, yyyy h:mm:ss a Z",    "EEEE, d MMMM yyyy HH:mm:ss Z",   "EEEE, d MMMM yyyy HH:mm Z",
        "d MMMM yyyy HH:mm:ss Z",      "EEEE, d MMMM yyyy h:mm a Z",
    };
    return p;
}

namespace {

// RFC 5322 reads a three-digit year as 1900 + the year ("101" is 2001). The
// year is the token after the month name in every accepted shape.
void widenThreeDigitYear(std::string& s) {
    std::size_t start = 0;
    std::string_view prev;
    while (start < s.size()) {
        std::size_t end = s.find(' ', start);
        if (end == std::string::npos) end = s.size();
        const std::string_view tok(s.data() + start, end - start);
        const bool isMonth = prev.size() == 3 && std::isalpha(static_cast<unsigned char>(prev[0])) &&
                             std::isalpha(static_cast<unsigned char>(prev[1])) &&
                             std::isalpha(static_cast<unsigned char>(prev[2]));
        if (isMonth && tok.size() == 3 &&
            std::all_of(tok.begin(), tok.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const int year = 1900 + std::stoi(std::string(tok));
            s.replace(start, 3, std::to_string(year));
            return;
        }
        prev = tok;
        start = end + 1;
    }
}

}  // namespace

namespace maildate {

namespace {

int digits(std::string_view t, std::size_t at, std::size_t count) {
    int v = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= t.size() || t[i] < '0' || t[i] > '9') return -1;
        v = v * 10 + (t[i] - '0');
    }
    return v;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + doe - 719468;
}

}  // namespace

std::optional<MailDate::TimePoint> readCommonForm(std::string_view t) {
    static constexpr std::string_view kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // from 1970-01-01
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int weekday = -1;
    if (t.size() > 5 && t[3] == ',' && t[4] == ' ') {
        for (int i = 0; i < 7; ++i)
            if (t.substr(0, 3) == kDays[i]) weekday = i;
        if (weekday < 0) return std::nullopt;
        t.remove_prefix(5);
    }
    // d MMM yyyy HH:mm:ss +hhmm, the day in one or two digits.
    const std::size_t dayDigits = t.size() > 1 && t[1] == ' ' ? 1 : 2;
    if (t.size() != dayDigits + 24) return std::nullopt;
    const int day = digits(t, 0, dayDigits);
    t.remove_prefix(dayDigits);
    if (t[0] != ' ' || t[4] != ' ' || t[9] != ' ' || t[12] != ':' || t[15] != ':' || t[18] != ' ') return std::nullopt;
    int month = 0;
    for (int i = 0; i < 12; ++i)
        if (t.substr(1, 3) == kMonths[i]) month = i + 1;
    const int year = digits(t, 5, 4), hour = digits(t, 10, 2), minute = digits(t, 13, 2), second = digits(t, 16, 2);
    const char sign = t[19];
    const int zoneHours = digits(t, 20, 2), zoneMinutes = digits(t, 22, 2);
    if (month == 0 || year < 1900 || year > 2199 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || (sign != '+' && sign != '-') || zoneHours < 0 || zoneHours > 23 ||
        zoneMinutes < 0 || zoneMinutes > 59)
        return std::nullopt;
    static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int length = kLengths[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day < 1 || day > length) return std::nullopt;
    const long long days = daysFromCivil(year, month, day);
    if (weekday >= 0 && ((days % 7) + 7) % 7 != weekday) return std::nullopt;
    const long long offset = (zoneHours * 60LL + zoneMinutes) * 60 * (sign == '-' ? -1 : 1);
    const long long seconds = days * 86400 + hour * 3600LL + minute * 60LL + second - offset;
    return MailDate::TimePoint(std::chrono::seconds(seconds));
}

namespace {

std::optional<MailDate::TimePoint> readWithFormatters(const std::string& s, const Formatters& formatters,
                                                      const std::vector<std::string>& patterns) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(s);
    // ICU reads a two-digit year under "yyyy" literally ("24" is the year 24),
    // which would leave the two-digit pattern unreachable and date such mail
    // two millennia back. A four-digit-year pattern that lands before the year
    // 100 is passed over, so the "yy" pattern gets its turn.
    constexpr UDate year100 = -59011459200000.0;
    // A time point counts nanoseconds in 64 bits (about 1677 to 2262); a date
    // outside that cannot be held and is no date rather than a wrapped one.
    constexpr UDate limit = 9223372036854.0;  // milliseconds in 2^63 ns
    for (std::size_t i = 0; i < formatters.size(); ++i) {
        const auto& f = formatters[i];
        icu::ParsePosition pos(0);
        UDate d = f->parse(u, pos);
        if (pos.getErrorIndex() >= 0 || pos.getIndex() != u.length()) continue;
        if (d < year100 && patterns[i].find("yyyy") != std::string::npos) continue;
        if (!(d > -limit && d < limit)) return std::nullopt;
        auto ms = std::chrono::milliseconds(static_cast<long long>(d));
        return MailDate::TimePoint(std::chrono::duration_cast<MailDate::TimePoint::duration>(ms));
    }
    return std::nullopt;
}

}  // namespace

std::optional<MailDate::TimePoint> readWithICU(const std::string& s) {
    return readWithFormatters(s, threadFormatters(), MailDate::patterns());
}

}  // namespace maildate

namespace {

// Nearly every Date field has the common form; the patterns are for the rest.
std::optional<MailDate::TimePoint> readWithPatterns(const std::string& s, const Formatters& formatters,
                                                    const std::vector<std::string>& patterns) {
    if (auto d = maildate::readCommonForm(s)) return d;
    return maildate::readWithFormatters(s, formatters, patterns);
}

}  // namespace

std::optional<MailDate::TimePoint> MailDate::parse(std::string_view value) {
    std::string_view t = trimWhitespaceNewlines(value);
    if (std::size_t lp = t.find('('); lp != std::string_view::npos) t = trimSpacesTabs(t.substr(0, lp));
    // A date is short; anything long is not one and would only cost time.
    if (t.size() > 256) return std::nullopt;
    std::string s;
    s.reserve(t.size() + 8);
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == ' ' && i + 1 < t.size() && t[i + 1] == ' ') {
            s.push_back(' ');
            ++i;
        } else {
            s.push_back(t[i]);
        }
    }
    widenThreeDigitYear(s);
    if (s.empty()) return std::nullopt;
    // A date written without a zone is read as UTC, the zone the rest of the
    // system shows such times in, rather than dropped (a message without a
    // date would be filed under the day it was imported).
    const std::string utc = s + " +0000";
    for (const auto& [list, names] :
         {std::pair{&threadFormatters(), &patterns()}, std::pair{&threadLongFormatters(), &longPatterns()}}) {
        if (auto d = readWithPatterns(s, *list, *names)) return d;
        if (auto d = readWithPatterns(utc, *list, *names)) return d;
    }
    return std::nullopt;
}

std::string MailDate::rfc5322(TimePoint date) {
    auto f = makeFormatter("EEE, d MMM yyyy HH:mm:ss Z", false);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString out;
    f->format(static_cast<UDate>(ms), out);
    std::string s;
    out.toUTF8String(s);
    return s;
}

}  // namespace bx
