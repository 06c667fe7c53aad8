#include "Safety/ReplyToCheck.h"

#include "Safety/Domains.h"

namespace bx {

std::optional<MailAddress> ReplyToCheck::mismatch(const std::vector<MailAddress>& from,
                                                  const std::vector<MailAddress>& replyTo) {
    if (from.empty()) return std::nullopt;
    const std::string senderDomain = from.front().domain();
    if (senderDomain.empty()) return std::nullopt;
    const std::string sender = Domains::registrable(senderDomain);
    for (const auto& r : replyTo) {
        const std::string d = r.domain();
        if (d.empty()) continue;
        if (Domains::registrable(d) != sender) return r;
    }
    return std::nullopt;
}

}  // namespace bx
