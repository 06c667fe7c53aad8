#include "Imap/IMAPDate.h"

#include <memory>
#include <mutex>

#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

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

bool isTrimmed(UChar32 c) { return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR; }

std::string_view trim(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    int32_t len = int32_t(s.size());
    int32_t begin = 0;
    while (begin < len) {
        int32_t i = begin;
        UChar32 c;
        U8_NEXT(p, i, len, c);
        if (c < 0 || !isTrimmed(c)) break;
        begin = i;
    }
    int32_t end = len;
    while (end > begin) {
        int32_t i = end;
        UChar32 c;
        U8_PREV(p, begin, i, c);
        if (c < 0 || !isTrimmed(c)) break;
        end = i;
    }
    return s.substr(std::size_t(begin), std::size_t(end - begin));
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> IMAPDate::parse(std::string_view text) {
    const std::string_view t = trim(text);
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
