#pragma once
// Generates a vault of messages of the shapes real mailboxes hold, plus the
// same messages as a Maildir for notmuch and a file of prefix queries.
#include <cstdint>
#include <filesystem>

namespace bench {

void generateVault(const std::filesystem::path& root, int count, uint64_t seed);

}  // namespace bench
