#pragma once
// Instants in time as the core library passes them around, and their text form
// in the vault's JSON files (ISO-8601, whole seconds, UTC with "Z").
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace bx {

using Date = std::chrono::system_clock::time_point;

// Seconds since 1970-01-01T00:00:00Z, fractions dropped toward minus infinity.
long long secondsSince1970(Date d);
Date dateFromSeconds(long long seconds);

// "2024-03-07T08:15:02Z". Fractions of a second are dropped.
std::string formatISO8601(Date d);

// Accepts "YYYY-MM-DDTHH:MM:SS" followed by "Z", "+hh:mm", "-hh:mm", "+hhmm" or
// "-hhmm", with an optional fraction of a second (ignored). Anything else,
// including out-of-range fields, gives nullopt.
std::optional<Date> parseISO8601(std::string_view text);

}  // namespace bx
