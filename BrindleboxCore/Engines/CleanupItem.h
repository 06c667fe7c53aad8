#pragma once
// One server message in a free-up plan, with the result of checking its local
// copy. Only an item whose status is `verified` may ever leave the server.
#include <cstdint>
#include <optional>
#include <string>

#include "Util/Date.h"

namespace bx {

struct CleanupItem {
    // The outcome of the copy check. Two statuses are equal when they are the
    // same case; two size mismatches only when both sizes agree as well.
    class Status {
    public:
        enum class Kind { pending, verified, notBackedUp, unreadable, sizeMismatch };

        static Status pending() { return Status(Kind::pending); }
        static Status verified() { return Status(Kind::verified); }
        static Status notBackedUp() { return Status(Kind::notBackedUp); }
        static Status unreadable() { return Status(Kind::unreadable); }
        static Status sizeMismatch(std::int64_t local, std::int64_t server) {
            Status s(Kind::sizeMismatch);
            s.local_ = local;
            s.server_ = server;
            return s;
        }

        Status() = default;  // pending

        Kind kind() const { return kind_; }
        bool is(Kind k) const { return kind_ == k; }
        // Sizes of a size mismatch; 0 for every other case.
        std::int64_t local() const { return local_; }
        std::int64_t server() const { return server_; }

        bool operator==(const Status& other) const {
            if (kind_ != other.kind_) return false;
            if (kind_ != Kind::sizeMismatch) return true;
            return local_ == other.local_ && server_ == other.server_;
        }

    private:
        explicit Status(Kind k) : kind_(k) {}
        Kind kind_ = Kind::pending;
        std::int64_t local_ = 0;
        std::int64_t server_ = 0;
    };

    CleanupItem() = default;
    CleanupItem(std::uint32_t uid, std::int64_t serverSize, std::optional<Date> date,
                std::optional<std::string> localPath, Status status)
        : uid(uid), serverSize(serverSize), date(date), localPath(std::move(localPath)), status(status) {}

    std::uint32_t uid = 0;                 // valid under the plan's uidValidity
    std::int64_t serverSize = 0;           // RFC822.SIZE at survey time
    std::optional<Date> date;              // INTERNALDATE
    std::optional<std::string> localPath;  // vault-relative, "/" separated
    Status status;

    std::uint32_t id() const { return uid; }

    // Why the message stays on the server; nullopt for pending and verified.
    std::optional<std::string> keptReason() const;
};

}  // namespace bx
