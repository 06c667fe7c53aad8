#pragma once
// Copies chosen .eml and mbox files into the vault.
//
// Imports run one after another on a single worker thread: two imports
// started close together would otherwise race for the same file names (the
// vault's create-if-absent write is the second guard). A mailbox file is
// read and split in pieces of a few megabytes, so importing a file of
// gigabytes holds one piece in memory, never the whole file.
#include "Theme/ThemeColor.h"
#include "Vault/ArchiveLayout.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bx {

struct ImportCounts {
    std::int64_t imported = 0;      // messages written (or already in the vault)
    std::int64_t skipped = 0;       // messages and unreadable files not written
    std::int64_t skippedFiles = 0;  // files that gave at least one skipped
    friend bool operator==(const ImportCounts&, const ImportCounts&) = default;
};

struct ImportRules {
    // A mailbox to split: the extension is mbox or mbx (any case), or the
    // file begins with "From ".
    static bool isMailbox(const std::filesystem::path& file, std::string_view firstBytes);
    // The collection of a mailbox file: its name without the last extension.
    static std::string collectionName(const std::filesystem::path& file);
    static constexpr const char* looseCollection = "Loose Messages";

    // "Imported 12 messages · 2 skipped".
    static QString statusLine(const ImportCounts& counts);
    // "Nothing imported — 2 files weren’t a valid email".
    static QString nothingImportedLine(std::int64_t files);

    // Calls `piece` with consecutive parts of the mbox file, each ending just
    // before a message separator (or at the end of the file), so splitting
    // every piece gives the same messages as splitting the whole file. A
    // piece is at least `pieceBytes` long unless it is the last one; a
    // single message longer than that travels alone. False when the file
    // cannot be opened or read.
    static bool forEachMboxPiece(const std::filesystem::path& file, std::size_t pieceBytes,
                                 const std::function<void(std::string_view)>& piece);

    // One file into the vault, counted.
    static ImportCounts importFile(const std::filesystem::path& file, const ArchiveLayout& layout,
                                   std::size_t pieceBytes = defaultPieceBytes);
    static constexpr std::size_t defaultPieceBytes = 8u << 20;
};

class ImportQueue : public QObject {
    Q_OBJECT
public:
    struct Host {
        std::function<ArchiveLayout()> layout;
        std::function<void(const std::optional<QString>&)> setImportMessage;
        std::function<std::optional<QString>()> importMessage;
        std::function<void(const QString& text, const QString& symbol, const ThemeColor& tint)> toast;
        std::function<void()> reloadArchive;
    };

    explicit ImportQueue(Host host, QObject* parent = nullptr);
    ~ImportQueue() override;

    // Queues the import of the files; returns at once.
    void importFiles(const std::vector<std::filesystem::path>& files);
    // Waits until every queued import has been worked off (tests).
    void waitForWorker() { pool_.waitForDone(); }

    std::size_t pieceBytes = ImportRules::defaultPieceBytes;

signals:
    // One import has published its status line, toast and reload.
    void importFinished(bx::ImportCounts counts);

private:
    void publish(const ImportCounts& counts);

    Host host_;
    QThreadPool pool_;
};

}  // namespace bx
