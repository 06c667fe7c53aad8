#pragma once
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace bx {

// A Content-Type or Content-Disposition value split into its leading value and
// its parameters (RFC 2045 quoting, RFC 2231 charset and continuations).
struct HeaderParams {
    using Params = std::map<std::string, std::string>;

    struct Parsed {
        std::string value;  // first segment, trimmed of spaces and tabs, case kept
        Params params;      // keys lower case
    };
    struct Bytes2231 {
        std::string data;
        std::optional<std::string> charset;
    };

    static Parsed parse(std::string_view value);
    // With first = true, "charset'language'text" gives the charset; the bytes are
    // the percent-decoded text.
    static Bytes2231 decode2231Bytes(std::string_view text, bool first);
};

}  // namespace bx
