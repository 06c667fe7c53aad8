#pragma once

#include "Imap/IMAPValue.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Util/Json.h"

namespace bx {

// One entry of a LIST reply.
struct IMAPMailbox {
    std::string name;                      // as the server sent it (modified UTF-7); used unchanged in commands
    std::string displayName;               // name decoded for showing
    std::optional<std::string> delimiter;  // absent when the server sent NIL
    std::vector<std::string> attributes;   // as sent, in the server's order

    IMAPMailbox() = default;
    IMAPMailbox(std::string name, std::string displayName, std::optional<std::string> delimiter = std::nullopt,
                std::vector<std::string> attributes = {})
        : name(std::move(name)),
          displayName(std::move(displayName)),
          delimiter(std::move(delimiter)),
          attributes(std::move(attributes)) {}

    // From the values of an untagged response, e.g. those of
    // `* LIST (\HasNoChildren) "/" INBOX`; absent when they are not a LIST reply.
    static std::optional<IMAPMailbox> fromListResponse(const std::vector<IMAPValue>& values);

    // False when an attribute is \Noselect or \NonExistent (any letter case).
    bool isSelectable() const;
    // "sent", "drafts", "trash", "junk", "archive", "all", "flagged",
    // "inbox", or absent.
    std::optional<std::string> role() const;

    friend bool operator==(const IMAPMailbox&, const IMAPMailbox&) = default;
};

// JSON: {"name", "displayName", "delimiter"?, "attributes"}. An absent
// delimiter is left out; a missing or null "delimiter" reads as absent. The
// other keys are required; failures throw JSONDecodeError.
template <>
struct JSONCodec<IMAPMailbox> {
    static IMAPMailbox decode(const json& v, const std::string& path);
    static json encode(const IMAPMailbox& mailbox);
};
void to_json(nlohmann::json& j, const IMAPMailbox& mailbox);
void from_json(const nlohmann::json& j, IMAPMailbox& mailbox);

}  // namespace bx

template <>
struct std::hash<bx::IMAPMailbox> {
    std::size_t operator()(const bx::IMAPMailbox& m) const noexcept;
};
