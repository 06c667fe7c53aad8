#include "Util/Date.h"

#include <cstdio>

namespace bx {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool isLeap(long long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(long long y, unsigned m) {
    static const unsigned table[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : table[m - 1];
}

bool readDigits(std::string_view s, size_t pos, size_t count, int& out) {
    if (pos + count > s.size()) return false;
    int v = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = s[pos + i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

}  // namespace

long long secondsSince1970(Date d) {
    return std::chrono::floor<std::chrono::seconds>(d.time_since_epoch()).count();
}

Date dateFromSeconds(long long seconds) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(seconds)));
}

std::string formatISO8601(Date d) {
    const long long secs = secondsSince1970(d);
    long long days = secs / 86400;
    long long rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        days -= 1;
    }
    long long y;
    unsigned m, dd;
    civilFromDays(days, y, m, dd);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", y, m, dd, rem / 3600, (rem / 60) % 60,
                  rem % 60);
    return buf;
}

std::optional<Date> parseISO8601(std::string_view s) {
    int y, mo, d, h, mi, se;
    if (!readDigits(s, 0, 4, y) || s.size() < 20 || s[4] != '-' || !readDigits(s, 5, 2, mo) || s[7] != '-' ||
        !readDigits(s, 8, 2, d) || (s[10] != 'T' && s[10] != 't') || !readDigits(s, 11, 2, h) || s[13] != ':' ||
        !readDigits(s, 14, 2, mi) || s[16] != ':' || !readDigits(s, 17, 2, se))
        return std::nullopt;
    size_t pos = 19;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        const size_t start = pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        if (pos == start) return std::nullopt;
    }
    long long offset = 0;
    if (pos < s.size() && (s[pos] == 'Z' || s[pos] == 'z')) {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        const int sign = s[pos] == '-' ? -1 : 1;
        int oh, om;
        if (!readDigits(s, pos + 1, 2, oh)) return std::nullopt;
        size_t p = pos + 3;
        if (p < s.size() && s[p] == ':') ++p;
        if (!readDigits(s, p, 2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = sign * (oh * 3600LL + om * 60LL);
        pos = p + 2;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > daysInMonth(y, mo) || h > 23 || mi > 59 || se > 59)
        return std::nullopt;
    const long long secs = daysFromCivil(y, mo, d) * 86400LL + h * 3600LL + mi * 60LL + se - offset;
    return dateFromSeconds(secs);
}

}  // namespace bx
