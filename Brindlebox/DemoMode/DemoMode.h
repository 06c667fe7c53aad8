#pragma once
// The made-up vault that demo and screenshot runs open instead of the user's.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QDateTime>

namespace bx {

struct DemoMode {
    // Writes the demo vault afresh (two accounts, the filler, the featured
    // mail and the sync state a backup would have left) and returns its root.
    // Never fails: whatever cannot be written is skipped and the store opens
    // what is there.
    static std::filesystem::path prepareArchive(const QDateTime& now = QDateTime::currentDateTime());

    // The root prepareArchive writes: in this user's private temp folder, so
    // nobody else can plant the folder or links where it is removed and written.
    static std::filesystem::path archiveRoot();

    static constexpr const char* personalID = "6F1B7C8E-0000-4000-8000-000000000001";
    static constexpr const char* studioID = "6F1B7C8E-0000-4000-8000-000000000002";

    // Process-wide; prepareArchive leaves it empty.
    static std::vector<std::pair<std::string, QByteArray>> pending;
};

}  // namespace bx
