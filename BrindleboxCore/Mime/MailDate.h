#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Util/Date.h"

namespace bx {

// The Date header: read with seven fixed ICU patterns (en_US_POSIX, UTC when the
// text carries no zone), written the RFC 5322 way in the local time zone.
struct MailDate {
    using TimePoint = Date;

    static std::optional<TimePoint> parse(std::string_view value);
    // The patterns of the formatters, in the order they are tried.
    static const std::vector<std::string>& patterns();
    // Tried after those: long weekday and month names, the 12-hour clock
    // ("Wednesday, April 03, 2002 5:56 AM"), as some mail programs write.
    static const std::vector<std::string>& longPatterns();
    static std::string rfc5322(TimePoint date);
};

}  // namespace bx
