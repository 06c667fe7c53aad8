#pragma once
// Host names and registrable domains, shared by every safety check and by the
// reader's link policy.
#include <optional>
#include <string>
#include <string_view>

namespace bx {

struct Domains {
    // The lower-cased host of a URL, or nullopt when the text is not a URL
    // with a host. Any user information before "@" is not part of the host:
    // "http://bank.example@evil.example/" leads to evil.example.
    static std::optional<std::string> host(std::string_view url);

    // The registrable domain: the last two labels, or the last three under
    // one of the known two-level public suffixes ("co.uk", "com.au" ...).
    // Fewer than three labels come back as given (lower-cased, trimmed).
    static std::string registrable(std::string_view domain);

    // The first "."-separated label (empty pieces skipped), or the whole text
    // when it has none.
    static std::string firstLabel(std::string_view domain);

    // Unicode-aware lower case (root locale).
    static std::string lower(std::string_view s);
};

}  // namespace bx
