#pragma once
// Turns any failure into a short title and one line of advice for the user.
#include <exception>
#include <optional>
#include <string>

namespace bx {

struct BackupSummary;

struct FriendlyError {
    struct Message {
        std::string title;   // a short headline without a final period
        std::string advice;  // what to do

        // title + ". " + advice, for single-line places.
        std::string text() const { return title + ". " + advice; }
        friend bool operator==(const Message&, const Message&) = default;
    };

    // Recognises cancellation (CancellationError), CleanupError, every
    // IMAPError (a failed connection by the transport's cause when it names
    // one, else by the words of its message) and the file-system failures that matter for a vault (disk
    // full, no permission or a read-only volume); anything else gets the
    // error's own description. `host` names the server in the texts ("the
    // server" when absent). Never fails.
    static Message describe(const std::exception& error, const std::optional<std::string>& host = std::nullopt);
    // The same for whatever was thrown, also non-std exceptions.
    static Message describe(std::exception_ptr error, const std::optional<std::string>& host = std::nullopt);

    // What a finished backup left out (messages too large to receive,
    // folders the server refused), by folder and subject, and the deletion
    // marks of an interrupted release it took off, as one message for the
    // account; absent when there is nothing to tell.
    static std::optional<Message> describe(const BackupSummary& summary);
};

}  // namespace bx
