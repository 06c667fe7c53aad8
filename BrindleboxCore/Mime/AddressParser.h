#pragma once
#include <optional>
#include <string_view>
#include <vector>

#include "Mime/MailAddress.h"

namespace bx {

// Address headers (From, To, Cc, Reply-To) into addresses. Never fails: unreadable
// pieces are skipped.
struct AddressParser {
    static std::vector<MailAddress> parse(std::string_view value);
    static std::optional<MailAddress> one(std::string_view text);
    // parse() for a From field. A field holding nothing but an encoded
    // display name (no address at all) still names its sender: that name,
    // with an empty address.
    static std::vector<MailAddress> senders(std::string_view value);
};

}  // namespace bx
