#pragma once

#include <QString>

#include <cstdint>

namespace orrery {

// Unpacks a zip archive into a folder, keeping the tree, file modes and
// symbolic links. Refuses (throwing an UpdateError that says which entry and
// why) an entry that is absolute, climbs with "..", writes through a link, is
// a link that points outside the folder or leads to or through another link,
// is a hard link or special file, and stops at the caps on entries and bytes.
// Owners and set-id bits are never applied.
struct UnpackLimits {
  std::int64_t maxEntries = 100000;
  std::int64_t maxBytes = 4LL << 30;
};

void unpackZip(const QString& zipPath, const QString& intoFolder, const UnpackLimits& limits = {});

} // namespace orrery
