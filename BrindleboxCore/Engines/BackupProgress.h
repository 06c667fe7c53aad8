#pragma once
// What a backup run reports while it works.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bx {

struct BackupProgress {
    std::string account;                            // the account's label
    std::string folder;                             // display name of the mailbox being worked on
    std::string phase;                              // "Checking", "Measuring", "Downloading" or "Done"
    std::int64_t messagesDone = 0;                  // stored from this mailbox so far in this run
    std::int64_t messagesTotal = 0;                 // new UIDs found in this mailbox
    std::int64_t bytesDone = 0;                     // byte lengths of the messages counted in messagesDone
    std::int64_t bytesTotal = 0;                    // server sizes of the new messages (unreported sizes count 0)
    std::vector<std::string> newFiles;              // vault-relative paths stored by the batch just finished
    std::string mailbox;                            // raw name of the mailbox being worked on
    std::map<std::string, std::int64_t> completed;  // raw name -> messages stored, per finished mailbox

    friend bool operator==(const BackupProgress&, const BackupProgress&) = default;
};

}  // namespace bx
