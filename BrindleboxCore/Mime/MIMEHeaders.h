#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bx {

// One header line of a message or part. The value is unfolded and trimmed but
// still raw: encoded words are decoded only where a subject, display name or
// file name is read.
struct HeaderField {
    std::string name;
    std::string value;
    bool operator==(const HeaderField&) const = default;
};

// The ordered header fields of a message or part. Duplicates are kept.
struct MIMEHeaders {
    std::vector<HeaderField> fields;

    // Value of the first field whose name matches without regard to case
    // (Unicode case folding, not a byte compare); nullopt when none does.
    std::optional<std::string> operator[](std::string_view name) const;
    std::optional<std::string> get(std::string_view name) const { return (*this)[name]; }
    // Values of every matching field, in header order.
    std::vector<std::string> all(std::string_view name) const;

    // Case-insensitive comparison of two header names, as used by the lookups.
    static bool namesEqual(std::string_view a, std::string_view b);

    bool operator==(const MIMEHeaders&) const = default;
};

}  // namespace bx
