#pragma once

#include "Imap/IMAPValue.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bx {

// The data of one untagged FETCH reply.
struct IMAPFetchItem {
    std::int64_t sequence = 0;
    std::optional<std::uint32_t> uid;
    std::optional<std::int64_t> size;  // RFC822.SIZE
    std::optional<std::chrono::system_clock::time_point> internalDate;
    std::vector<std::string> flags;                 // as sent, in the server's order
    std::optional<std::vector<std::uint8_t>> body;  // BODY[...] or RFC822

    // From the values of an untagged response, e.g. those of
    // "* 12 FETCH (UID 4711 FLAGS (\Seen))"; absent when they are not a FETCH
    // reply. The rvalue form moves the body bytes instead of copying them.
    static std::optional<IMAPFetchItem> fromValues(const std::vector<IMAPValue>& values);
    static std::optional<IMAPFetchItem> fromValues(std::vector<IMAPValue>&& values);
};

}  // namespace bx
