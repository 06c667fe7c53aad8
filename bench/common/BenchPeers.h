#pragma once
// Pieces the server benchmarks share: message bodies of a chosen size, scratch
// folders on tmpfs and the configuration that points mbsync at the fixture.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/DovecotFixture.h"
#include "support/RawIMAPClient.h"
#include "support/TestCerts.h"

namespace bx::bench {

// Printable lines of 76 characters until at least `size` bytes.
inline std::string bodyOfSize(std::size_t size, std::mt19937& rng) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .,";
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
    std::string body;
    body.reserve(size + 80);
    while (body.size() < size) {
        for (int i = 0; i < 76; ++i) body += alphabet[pick(rng)];
        body += "\r\n";
    }
    return body;
}

// Appends `count` messages with bodies of about `size` bytes to a mailbox of
// the fixture's first user, 500 per APPEND round.
inline void seedMailbox(const bx::test::DovecotFixture& dovecot, const std::string& mailbox, int count,
                        std::size_t size, unsigned seed = 42) {
    std::mt19937 rng(seed);
    std::vector<bx::test::SeedMessage> batch;
    for (int i = 0; i < count; ++i) {
        batch.push_back({bx::test::makeMessage("Message " + std::to_string(i), bodyOfSize(size, rng)), {}, {}});
        if (batch.size() == 500 || i + 1 == count) {
            dovecot.append(bx::test::users::alice, mailbox, batch);
            batch.clear();
        }
    }
}

// A fresh folder on /dev/shm, so disk speed stays out of the comparison.
inline std::filesystem::path shmDir(const std::string& name) {
    std::string tmpl = "/dev/shm/bx-bench-" + name + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp on /dev/shm failed");
    return tmpl;
}

// Writes root/mbsyncrc for a channel "pull" that copies `mailbox` of the
// fixture's first user over TLS into the Maildir root/mail. Returns its path.
inline std::filesystem::path writeMbsyncConfig(const std::filesystem::path& root, std::uint16_t imapsPort,
                                               const std::string& mailbox = "INBOX") {
    const std::filesystem::path conf = root / "mbsyncrc";
    std::ofstream c(conf);
    c << "IMAPAccount bench\nHost localhost\nPort " << imapsPort << "\nUser " << bx::test::users::alice.name
      << "\nPass " << bx::test::users::alice.password << "\nSSLType IMAPS\nCertificateFile "
      << bx::test::TestCerts::get().trustedCA.string() << "\nAuthMechs LOGIN\n\n"
      << "IMAPStore remote\nAccount bench\n\n"
      << "MaildirStore local\nPath " << (root / "mail").string() << "/\nInbox "
      << (root / "mail" / "INBOX").string() << "\nSubFolders Verbatim\n\n"
      << "Channel pull\nFar :remote:\nNear :local:\nPatterns " << mailbox
      << "\nCreate Near\nSync Pull\nSyncState *\n";
    std::filesystem::create_directories(root / "mail");
    return conf;
}

}  // namespace bx::bench
