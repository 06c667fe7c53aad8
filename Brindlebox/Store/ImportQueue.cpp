#include "Store/ImportQueue.h"

#include "Store/WorkerThreads.h"
#include "Theme/Theme.h"
#include "Engines/Importer.h"

#include <cstdio>
#include <fstream>
#include <memory>

namespace bx {

namespace {

bool startsWithFrom(std::string_view line) { return line.size() >= 5 && line.substr(0, 5) == "From "; }

// The extension after the last dot of the name; a name's leading dot does
// not start one (".mbox" has none).
std::string extensionOf(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

bool ImportRules::isMailbox(const std::filesystem::path& file, std::string_view firstBytes) {
    std::string ext = extensionOf(file);
    for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "mbox" || ext == "mbx") return true;
    return firstBytes.size() >= 5 && firstBytes.substr(0, 5) == "From ";
}

std::string ImportRules::collectionName(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    const std::string ext = extensionOf(file);
    if (ext.empty() && name.find('.') == std::string::npos) return name;
    if (ext.empty()) return name;
    return name.substr(0, name.size() - ext.size() - 1);
}

QString ImportRules::statusLine(const ImportCounts& counts) {
    QString line = QStringLiteral("Imported ") + QString::number(counts.imported) + QStringLiteral(" message") +
                   (counts.imported == 1 ? QString() : QStringLiteral("s"));
    if (counts.skipped >= 1) line += QStringLiteral(" · ") + QString::number(counts.skipped) + QStringLiteral(" skipped");
    return line;
}

QString ImportRules::nothingImportedLine(std::int64_t files) {
    return QStringLiteral("Nothing imported — ") + QString::number(files) + QStringLiteral(" file") +
           (files == 1 ? QStringLiteral(" wasn’t") : QStringLiteral("s weren’t")) + QStringLiteral(" a valid email");
}

bool ImportRules::forEachMboxPiece(const std::filesystem::path& file, std::size_t pieceBytes,
                                   const std::function<void(std::string_view)>& piece) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(file.c_str(), "rb"));
    if (!f) return false;
    constexpr std::size_t readSize = 1u << 20;
    std::string buffer;
    std::size_t scan = 0;       // start of the first line not looked at yet
    bool previousBlank = true;  // whether the line before `scan` was empty
    std::vector<char> chunk(readSize);
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), f.get());
        if (got == 0) {
            if (std::ferror(f.get())) return false;
            break;
        }
        buffer.append(chunk.data(), got);
        // Look at each complete line; cut before a separator once the piece
        // is long enough.
        for (;;) {
            const std::size_t lf = buffer.find('\n', scan);
            if (lf == std::string::npos) break;
            const std::string_view line(buffer.data() + scan, lf - scan);
            if (previousBlank && startsWithFrom(line) && scan > 0 && scan >= pieceBytes) {
                piece(std::string_view(buffer.data(), scan));
                buffer.erase(0, scan);
                scan = 0;
                continue;  // the same line again, now at the start
            }
            previousBlank = line.empty() || line == "\r";
            scan = lf + 1;
        }
    }
    if (!buffer.empty()) piece(buffer);
    return true;
}

ImportCounts ImportRules::importFile(const std::filesystem::path& file, const ArchiveLayout& layout,
                                     std::size_t pieceBytes) {
    ImportCounts counts;
    std::string head;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in || std::filesystem::is_directory(file)) {
            counts.skipped = counts.skippedFiles = 1;
            return counts;
        }
        head.resize(5);
        in.read(head.data(), 5);
        head.resize(std::size_t(in.gcount()));
    }

    if (isMailbox(file, head)) {
        const std::string collection = collectionName(file);
        bool failed = false;
        const bool read = forEachMboxPiece(file, pieceBytes, [&](std::string_view piece) {
            const std::vector<std::string> messages = Importer::splitMbox(piece);
            if (failed) {
                counts.skipped += std::int64_t(messages.size());
                return;
            }
            try {
                const auto paths = Importer::store(messages, collection, layout);
                counts.imported += std::int64_t(paths.size());
                counts.skipped += std::int64_t(messages.size() - paths.size());
            } catch (...) {
                // The vault refused (disk full, no permission): the rest of
                // the file is only counted.
                failed = true;
                counts.skipped += std::int64_t(messages.size());
            }
        });
        if (!read) counts.skipped += 1;
    } else {
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            counts.skipped = counts.skippedFiles = 1;
            return counts;
        }
        try {
            const auto paths = Importer::store({std::move(bytes)}, looseCollection, layout);
            counts.imported += std::int64_t(paths.size());
            counts.skipped += 1 - std::int64_t(paths.size());
        } catch (...) {
            counts.skipped += 1;
        }
    }
    counts.skippedFiles = counts.skipped > 0 ? 1 : 0;
    return counts;
}

ImportQueue::ImportQueue(Host host, QObject* parent) : QObject(parent), host_(std::move(host)) {
    pool_.setMaxThreadCount(1);
    pool_.setExpiryTimeout(-1);
}

ImportQueue::~ImportQueue() { pool_.waitForDone(); }

void ImportQueue::importFiles(const std::vector<std::filesystem::path>& files) {
    const ArchiveLayout layout = host_.layout();
    host_.setImportMessage(QStringLiteral("Importing…"));
    const std::size_t pieces = pieceBytes;
    pool_.start([this, files, layout, pieces] {
        ImportCounts total;
        for (const auto& file : files) {
            const ImportCounts one = ImportRules::importFile(file, layout, pieces);
            total.imported += one.imported;
            total.skipped += one.skipped;
            total.skippedFiles += one.skippedFiles;
        }
        postTo(this, [this, total] { publish(total); });
    });
}

void ImportQueue::publish(const ImportCounts& counts) {
    host_.setImportMessage(ImportRules::statusLine(counts));
    if (counts.imported == 0 && counts.skipped >= 1) {
        host_.toast(ImportRules::nothingImportedLine(counts.skippedFiles),
                    QStringLiteral("exclamationmark.triangle.fill"), Theme::caution);
    } else {
        host_.toast(host_.importMessage().value_or(QStringLiteral("Imported")),
                    QStringLiteral("tray.and.arrow.down.fill"), Theme::seal);
    }
    host_.reloadArchive();
    emit importFinished(counts);
}

}  // namespace bx
