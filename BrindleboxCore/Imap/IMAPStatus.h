#pragma once

#include <optional>
#include <string_view>

namespace bx {

// Status word of a tagged or untagged status response.
enum class IMAPStatus { ok, no, bad, preauth, bye };

// "OK", "NO", "BAD", "PREAUTH" or "BYE".
std::string_view rawValue(IMAPStatus status);

// Exact match on the raw value; callers upper-case server words first.
std::optional<IMAPStatus> imapStatusFromRawValue(std::string_view text);

}  // namespace bx
