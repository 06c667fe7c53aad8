#pragma once
// Shared pieces of the backup engine tests: a Dovecot account seeded with
// messages, a vault, and checks of what the vault holds.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Engines/BackupRunner.h"
#include "Vault/ArchiveLayout.h"
#include "Vault/MailAccount.h"
#include "support/DovecotFixture.h"
#include "support/FakeIMAPServer.h"
#include "support/TempDir.h"

namespace bx::test {

struct Seeded {
    std::uint32_t uid = 0;
    std::string bytes;
    std::chrono::system_clock::time_point internalDate;
};

inline std::chrono::system_clock::time_point seedDate(int i) {
    // Spread over several years, whole seconds, odd hours so day edges matter.
    return std::chrono::system_clock::time_point(std::chrono::seconds(1577836800LL + i * 43200LL + (i % 24) * 3600 + 7));
}

// `count` messages; the Date header deliberately differs from INTERNALDATE.
inline std::vector<SeedMessage> makeSeed(int count, int first = 0, size_t bigEvery = 0, size_t bigSize = 0) {
    std::vector<SeedMessage> out;
    for (int i = first; i < first + count; ++i) {
        std::string subject = "Message " + std::to_string(i);
        if (i % 7 == 3) subject = "Re: a/b " + std::to_string(i);
        if (i % 11 == 5) subject = "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_" + std::to_string(i) + "?=";
        std::string body = "Body of message " + std::to_string(i) + ".\r\n";
        if (bigEvery && i % bigEvery == bigEvery - 1) {
            std::string line(76, 'x');
            line += "\r\n";
            while (body.size() < bigSize) body += line;
        }
        std::vector<std::string> extra = {"Date: Mon, 01 Jan 1990 00:00:00 +0000",
                                          "Message-ID: <seed" + std::to_string(i) + "@example.com>"};
        out.push_back({makeMessage(subject, body, "Sender <s@example.com>", "Me <me@example.com>", extra),
                       seedDate(i), {}});
    }
    return out;
}

// Dovecot without fsync: seeding thousands of messages stays quick.
inline DovecotOptions quickDovecot() {
    DovecotOptions o;
    o.extraConfig = "mail_fsync = never\n";
    return o;
}

inline MailAccount testAccount(const DovecotFixture& dovecot, std::vector<std::string> folders,
                               const std::string& label = "Test Account") {
    return MailAccount(UUID::random(), label, users::alice.name, IMAPServer("localhost", dovecot.imapsPort(), false),
                       "custom", std::move(folders), {});
}

inline long long mtimeOf(const std::filesystem::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

// Every regular file of the vault outside the state folder: path -> (size, mtime, inode).
struct FileFacts {
    std::uintmax_t size;
    long long mtime;
    ino_t inode;
    friend bool operator==(const FileFacts&, const FileFacts&) = default;
};

inline std::map<std::string, FileFacts> snapshot(const std::filesystem::path& root) {
    std::map<std::string, FileFacts> out;
    if (!std::filesystem::exists(root)) return out;
    for (auto it = std::filesystem::recursive_directory_iterator(root); it != std::filesystem::recursive_directory_iterator();
         ++it) {
        if (it->path().filename() == ".brindlebox") {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        out[std::filesystem::relative(it->path(), root).generic_string()] = {
            static_cast<std::uintmax_t>(st.st_size), st.st_mtim.tv_sec, st.st_ino};
    }
    return out;
}

// The server's side of a session's opening on the fake server: greeting,
// LOGIN, and a LIST that holds INBOX only. Scripts go on from the EXAMINE.
inline FakeIMAPServer& scriptSignInAndList(FakeIMAPServer& fake) {
    return fake.send("* OK [CAPABILITY IMAP4rev1] fake ready\r\n")
        .expect("{tag} LOGIN *")
        .send("{tag} OK logged in\r\n")
        .expect("{tag} LIST \"\" \"*\"")
        .send("* LIST (\\HasNoChildren) \"/\" INBOX\r\n{tag} OK listed\r\n");
}

}  // namespace bx::test
