#include "Mime/MailDate.h"

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

std::optional<MailDate::TimePoint> readWithPatterns(const std::string& s, const Formatters& formatters,
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
