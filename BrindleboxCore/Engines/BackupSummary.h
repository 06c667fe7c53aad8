#pragma once
// What a finished backup run hands back.
#include <cstdint>
#include <string>
#include <vector>

namespace bx {

struct BackupSummary {
    std::int64_t newMessages = 0;  // stored in this run, written or recognised as present
    std::int64_t bytes = 0;        // their byte lengths, summed
    std::int64_t folders = 0;      // mailboxes finished, those with nothing new included
    std::vector<std::string> files;  // vault-relative paths of all stored messages, in order
    // Requested messages the server did not deliver. They are not given up on:
    // the next run asks for them again. The caller may tell the user.
    std::int64_t missing = 0;
};

}  // namespace bx
