#pragma once
// What a release reports when it does not release everything it was asked to.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace bx {

class CleanupError : public std::exception {
public:
    enum class Kind { otherDeletedMessages, stopped, uidValidityChanged, nothingVerified };

    // n other messages of the folder already carry \Deleted and the server
    // cannot expunge selectively.
    static CleanupError otherDeletedMessages(std::int64_t n);
    // The release ended early. `released` messages are confirmed gone.
    // `unknown` counts messages whose fate could not be established (the
    // connection broke while they were being removed and no later check
    // succeeded); they are neither counted as released nor as untouched.
    static CleanupError stopped(std::int64_t released, std::int64_t total, std::optional<std::string> problem,
                                std::int64_t unknown = 0);
    static CleanupError uidValidityChanged();
    static CleanupError nothingVerified();

    Kind kind() const { return kind_; }
    std::int64_t otherDeleted() const { return count_; }                    // otherDeletedMessages
    std::int64_t released() const { return released_; }                     // stopped
    std::int64_t total() const { return total_; }                           // stopped
    std::int64_t unknown() const { return unknown_; }                       // stopped
    const std::optional<std::string>& problem() const { return problem_; }  // stopped

    // The one-sentence text shown to the user; what() returns the same text.
    const std::string& errorDescription() const { return description_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const CleanupError& other) const {
        return kind_ == other.kind_ && count_ == other.count_ && released_ == other.released_ &&
               total_ == other.total_ && problem_ == other.problem_ && unknown_ == other.unknown_;
    }

private:
    explicit CleanupError(Kind k) : kind_(k) {}
    void describe();

    Kind kind_;
    std::int64_t count_ = 0;
    std::int64_t released_ = 0;
    std::int64_t total_ = 0;
    std::int64_t unknown_ = 0;
    std::optional<std::string> problem_;
    std::string description_;
};

}  // namespace bx
