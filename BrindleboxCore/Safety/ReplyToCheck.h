#pragma once
#include <optional>
#include <vector>

#include "Mime/MailAddress.h"

namespace bx {

struct ReplyToCheck {
    // The first Reply-To address whose registrable domain differs from that
    // of the first From address; nullopt when there is none, no sender or
    // the sender has no domain.
    static std::optional<MailAddress> mismatch(const std::vector<MailAddress>& from,
                                               const std::vector<MailAddress>& replyTo);
};

}  // namespace bx
