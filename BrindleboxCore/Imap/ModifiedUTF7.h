#pragma once

#include <string>
#include <string_view>

namespace bx {

// Mailbox names as servers send them (RFC 3501 5.1.3), decoded leniently:
// whatever cannot be decoded is kept as sent.
struct ModifiedUTF7 {
    static std::string decode(std::string_view name);
};

}  // namespace bx
