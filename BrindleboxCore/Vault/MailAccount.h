#pragma once
// One configured mail account as kept in accounts.json. The password is not
// part of it.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPServer.h"
#include "Util/Date.h"
#include "Util/Json.h"
#include "Util/UUID.h"

namespace bx {

struct MailAccount {
    UUID id;
    std::string label;
    std::string username;
    IMAPServer server;
    std::string provider;
    std::vector<std::string> folders;       // raw mailbox names to back up; empty: the inbox
    std::vector<IMAPMailbox> knownFolders;  // the last LIST
    std::optional<Date> lastBackup;

    MailAccount() = default;
    MailAccount(UUID id, std::string label, std::string username, IMAPServer server, std::string provider,
                std::vector<std::string> folders, std::vector<IMAPMailbox> knownFolders,
                std::optional<Date> lastBackup = std::nullopt)
        : id(id),
          label(std::move(label)),
          username(std::move(username)),
          server(std::move(server)),
          provider(std::move(provider)),
          folders(std::move(folders)),
          knownFolders(std::move(knownFolders)),
          lastBackup(lastBackup) {}

    // The account's folder in the vault, made from the label (at most 60
    // characters and 150 UTF-8 bytes). A label that cleans to nothing gives
    // "Account", and a label that would land in the importer's "Imported"
    // branch gets " (account)" appended, so backed-up mail never lands in the
    // vault root or among imported mail.
    std::string directoryName() const;

    friend bool operator==(const MailAccount&, const MailAccount&) = default;
};

// JSON form of one element of accounts.json. Every key but "lastBackup" is
// required; "lastBackup" is left out when absent. Unknown keys are ignored.
template <>
struct JSONCodec<MailAccount> {
    static MailAccount decode(const json& v, const std::string& path);
    static json encode(const MailAccount& a);
};

}  // namespace bx

template <>
struct std::hash<bx::MailAccount> {
    std::size_t operator()(const bx::MailAccount& a) const noexcept;
};
