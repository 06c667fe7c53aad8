#pragma once

#include "Imap/IMAPStatus.h"
#include "Imap/IMAPValue.h"

#include <optional>
#include <string>
#include <vector>

namespace bx {

// One parsed server response. Which fields are meaningful depends on kind:
//   tagged          tag, status, code, text
//   untaggedStatus  status, code, text
//   untagged        values (everything after the "*")
//   continuation    text
// Unused fields keep their defaults, so equality compares like with like.
struct IMAPResponse {
    enum class Kind { tagged, untaggedStatus, untagged, continuation };

    Kind kind = Kind::untagged;
    std::string tag;
    IMAPStatus status = IMAPStatus::ok;
    std::optional<std::string> code;
    std::string text;
    std::vector<IMAPValue> values;

    static IMAPResponse tagged(std::string tag, IMAPStatus status, std::optional<std::string> code, std::string text);
    static IMAPResponse untaggedStatus(IMAPStatus status, std::optional<std::string> code, std::string text);
    static IMAPResponse untagged(std::vector<IMAPValue> values);
    static IMAPResponse continuation(std::string text);

    bool isTagged() const { return kind == Kind::tagged; }
    bool isUntaggedStatus() const { return kind == Kind::untaggedStatus; }
    bool isUntagged() const { return kind == Kind::untagged; }
    bool isContinuation() const { return kind == Kind::continuation; }

    friend bool operator==(const IMAPResponse&, const IMAPResponse&) = default;
};

}  // namespace bx
