#pragma once
#include <map>
#include <optional>
#include <string>

namespace bx {

struct ContentType {
    std::string type;     // lower case when it came from a header
    std::string subtype;  // lower case when it came from a header
    // Parameters with lower-case keys, values as HeaderParams::parse decoded them.
    std::map<std::string, std::string> params;

    // text/plain; charset=us-ascii: the type of a part without a usable Content-Type.
    static const ContentType& defaultText();

    std::string mimeType() const { return type + "/" + subtype; }
    std::optional<std::string> charset() const;

    bool operator==(const ContentType&) const = default;
};

}  // namespace bx
