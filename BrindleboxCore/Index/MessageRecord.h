#pragma once
// The one-line summary of a message file: what the list shows, what the
// suspicious filter tests and what the search index keeps per message.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "Safety/SenderTrust.h"
#include "Util/Date.h"

namespace bx {

struct MessageRecord {
    int64_t id = 0;       // slot in the search index
    std::string path;     // vault-relative, "/" between components
    std::string account;  // first path component; "" for a file at the vault root
    std::string folder;   // second path component, or ""
    std::string subject;
    std::string fromName;
    std::string fromEmail;
    std::string to;       // To then Cc, formatted, joined with ", "
    Date date{};          // message date, else the file's modification time
    int64_t size = 0;     // bytes of the file
    std::string snippet;  // white space collapsed, at most 180 characters
    int64_t attachments = 0;
    int64_t trackers = 0;
    int64_t remoteImages = 0;
    SenderTrust trust = SenderTrust::unknown;
    bool replyToMismatch = false;
    int64_t linkWarnings = 0;
    double mtime = 0;                       // seconds since 1970 as the caller gave them
    std::optional<std::string> senderFlag;  // summary of the first sender warning

    // fromName, else fromEmail, else "(unknown sender)".
    std::string fromDisplay() const;
    // A failed verdict, a Reply-To elsewhere, a deceptive link or any sender flag.
    bool isSuspicious() const;
    // A file lying directly in the vault, outside any account's directory:
    // its path has no folder component, so its only component is its name.
    bool isAtVaultRoot() const;

    bool operator==(const MessageRecord&) const = default;

    // The record's JSON object; dates as ISO-8601 text with whole seconds.
    // "senderFlag" is left out when there is none.
    nlohmann::json toJSON() const;
    // Strict: every key but "senderFlag" is required with its exact JSON
    // type, "trust" must be one of the four raw values. Throws JSONDecodeError.
    static MessageRecord fromJSON(const nlohmann::json& j);

    // The same object written straight into a streaming writer.
    void writeJSON(class JSONWriter& w) const;

    // Dates as stored: "YYYY-MM-DDTHH:MM:SS" then "Z" or a zone offset; a
    // fraction of a second or any other form gives nullopt. Instants beyond
    // what Date can hold are clamped to its range.
    static std::optional<Date> decodeDate(std::string_view text);
    static std::string encodeDate(Date d);
    // A time in seconds since 1970 as a Date, clamped to Date's range.
    static Date dateFromSeconds(double seconds);
};

}  // namespace bx

template <>
struct std::hash<bx::MessageRecord> {
    size_t operator()(const bx::MessageRecord& r) const noexcept;
};
