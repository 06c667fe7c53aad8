// Importing .eml and mbox files through the store's queue: file kinds,
// counts and texts, and that a mailbox read in pieces gives the same
// messages as the whole file.
#include "LongWorkSupport.h"

#include "Theme/Theme.h"
#include "Engines/Importer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace bx;
using namespace bx::test;
namespace fs = std::filesystem;

namespace {

std::string mail(const std::string& subject, const std::string& body = "Hello.\r\n") {
    return "From: Sender <s@example.com>\r\nTo: r@example.com\r\nSubject: " + subject +
           "\r\nDate: Mon, 01 Jan 2024 10:00:00 +0000\r\nMessage-ID: <" + subject + "@example.com>\r\n\r\n" + body;
}

std::string mbox(int first, int count) {
    std::string out;
    for (int i = first; i < first + count; ++i)
        out += "From sender@example.com Mon Jan  1 10:00:00 2024\r\n" + mail("m" + std::to_string(i)) + "\r\n";
    return out;
}

fs::path write(const fs::path& dir, const std::string& name, const std::string& bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return dir / name;
}

std::vector<std::string> emlFiles(const fs::path& root) {
    std::vector<std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && e.path().extension() == ".eml") out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

struct ImportStore {
    ArchiveLayout layout;
    std::optional<QString> importMessage;
    std::vector<ToastRecord> toasts;
    int reloads = 0;

    ImportQueue::Host host() {
        ImportQueue::Host h;
        h.layout = [this] { return layout; };
        h.setImportMessage = [this](const std::optional<QString>& m) { importMessage = m; };
        h.importMessage = [this] { return importMessage; };
        h.toast = [this](const QString& t, const QString& s, const ThemeColor& c) { toasts.push_back({t, s, c}); };
        h.reloadArchive = [this] { ++reloads; };
        return h;
    }
};

}  // namespace

TEST(ImportRules, KindsAndCollections) {
    struct Case {
        const char* name;
        const char* head;
        bool mailbox;
        const char* collection;
    } cases[] = {
        {"Archive.mbox", "Subje", true, "Archive"},
        {"OLD.MBOX", "", true, "OLD"},
        {"box.Mbx", "", true, "box"},
        {"notes.txt", "From ", true, "notes"},
        {"letter.eml", "From ", true, "letter"},
        {"letter.eml", "From:", false, "letter"},
        {"2024.backup.mbox", "", true, "2024.backup"},
        {"README", "Hi th", false, "README"},
        {".mbox", "Subje", false, ".mbox"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImportRules::isMailbox(c.name, c.head), c.mailbox) << c.name;
        EXPECT_EQ(ImportRules::collectionName(c.name), c.collection) << c.name;
    }
}

TEST(ImportRules, Texts) {
    EXPECT_EQ(ImportRules::statusLine({1, 0, 0}), QStringLiteral("Imported 1 message"));
    EXPECT_EQ(ImportRules::statusLine({12, 2, 1}), QStringLiteral("Imported 12 messages · 2 skipped"));
    EXPECT_EQ(ImportRules::statusLine({0, 1, 1}), QStringLiteral("Imported 0 messages · 1 skipped"));
    EXPECT_EQ(ImportRules::statusLine({1234, 0, 0}), QStringLiteral("Imported 1234 messages"));
    EXPECT_EQ(ImportRules::nothingImportedLine(1), QStringLiteral("Nothing imported — 1 file wasn’t a valid email"));
    EXPECT_EQ(ImportRules::nothingImportedLine(2), QStringLiteral("Nothing imported — 2 files weren’t a valid email"));
}

// Pieces cut anywhere a separator may start must split into exactly the
// messages of the whole file: CRLF and LF files, ">From " lines, a "From "
// line inside a body (not after an empty line), junk before the first
// separator, and a file without a final line end.
TEST(ImportRules, PiecesSplitLikeTheWholeFile) {
    TempDir dir;
    const std::string lf = "junk line\n\nFrom a@b Mon Jan  1 10:00:00 2024\nSubject: one\n\nbody\nFrom here on\n>From x\n\n"
                           "From c@d Tue Jan  2 10:00:00 2024\nSubject: two\n\n\n\nFrom e@f Wed\nSubject: three\n\nend";
    const std::string crlf = mbox(0, 30);
    for (const std::string& content : {lf, crlf}) {
        const fs::path file = write(dir.path(), "box.mbox", content);
        const auto whole = Importer::splitMbox(content);
        for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(60), std::size_t(1000),
                                  std::size_t(1) << 20}) {
            std::vector<std::string> got;
            std::size_t pieces = 0;
            ASSERT_TRUE(ImportRules::forEachMboxPiece(file, piece, [&](std::string_view p) {
                ++pieces;
                for (auto& m : Importer::splitMbox(p)) got.push_back(m);
            }));
            EXPECT_EQ(got, whole) << "piece " << piece;
            if (piece == 1000 && content == crlf) EXPECT_GT(pieces, 3u);
        }
    }
    EXPECT_FALSE(ImportRules::forEachMboxPiece(dir.path() / "missing.mbox", 100, [](std::string_view) {}));
}

TEST(ImportQueue, ImportsCountsAndToasts) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // name, content ("<missing>": not created)
        const char* status;
        const char* toast;
        const char* symbol;
        std::size_t written;
    } cases[] = {
        {"one message", {{"a.eml", mail("one")}}, "Imported 1 message", "Imported 1 message",
         "tray.and.arrow.down.fill", 1},
        {"rejected eml", {{"bad.eml", "just some words\r\n"}}, "Imported 0 messages · 1 skipped",
         "Nothing imported — 1 file wasn’t a valid email", "exclamationmark.triangle.fill", 0},
        {"two unreadable", {{"gone1.eml", "<missing>"}, {"gone2.mbox", "<missing>"}}, "Imported 0 messages · 2 skipped",
         "Nothing imported — 2 files weren’t a valid email", "exclamationmark.triangle.fill", 0},
        // One mbox of three non-messages is one file, not three.
        {"mbox of junk", {{"junk.mbox", "From a\r\nnot mail\r\n\r\nFrom b\r\nnope\r\n"}},
         "Imported 0 messages · 2 skipped", "Nothing imported — 1 file wasn’t a valid email",
         "exclamationmark.triangle.fill", 0},
        {"mixed", {{"Box.MBOX", mbox(0, 3)}, {"x.eml", mail("loose")}, {"bad.eml", "nothing\r\n"}},
         "Imported 4 messages · 1 skipped", "Imported 4 messages · 1 skipped", "tray.and.arrow.down.fill", 4},
    };
    int n = 0;
    for (const auto& c : cases) {
        ImportStore store;
        store.layout = ArchiveLayout(dir.path() / ("vault" + std::to_string(n)));
        const fs::path in = dir.path() / ("in" + std::to_string(n++));
        std::vector<fs::path> paths;
        for (const auto& [name, content] : c.files)
            paths.push_back(content == "<missing>" ? in / name : write(in, name, content));
        ImportQueue queue(store.host());
        queue.importFiles(paths);
        EXPECT_EQ(store.importMessage, QStringLiteral("Importing…")) << c.name;
        ASSERT_TRUE(spinUntil([&] { return store.reloads == 1; })) << c.name;
        EXPECT_EQ(store.importMessage, QString::fromUtf8(c.status)) << c.name;
        ASSERT_EQ(store.toasts.size(), 1u) << c.name;
        EXPECT_EQ(store.toasts[0].text, QString::fromUtf8(c.toast)) << c.name;
        EXPECT_EQ(store.toasts[0].symbol, QString::fromUtf8(c.symbol)) << c.name;
        EXPECT_EQ(store.toasts[0].tint, c.written ? Theme::seal : Theme::caution) << c.name;
        EXPECT_EQ(emlFiles(store.layout.root).size(), c.written) << c.name;
    }
}

TEST(ImportQueue, MailboxMessagesGoToTheirCollectionAndLooseOnesTogether) {
    TempDir dir;
    ImportStore store;
    store.layout = ArchiveLayout(dir.path() / "vault");
    ImportQueue queue(store.host());
    queue.importFiles({write(dir.path() / "in", "Old Mail.mbox", mbox(0, 2)), write(dir.path() / "in", "x.eml", mail("x"))});
    ASSERT_TRUE(spinUntil([&] { return store.reloads == 1; }));
    const auto files = emlFiles(store.layout.root);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.rfind("Imported/Old Mail/", 0) == 0; }), 2);
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.rfind("Imported/Loose Messages/", 0) == 0; }), 1);
}

// Two imports of the same files started back to back run one after the
// other: the second finds every message already present, none is written
// twice and neither fails.
TEST(ImportQueue, BackToBackImportsRunOneAfterTheOther) {
    TempDir dir;
    ImportStore store;
    store.layout = ArchiveLayout(dir.path() / "vault");
    const fs::path box = write(dir.path() / "in", "big.mbox", mbox(0, 200));
    ImportQueue queue(store.host());
    std::vector<ImportCounts> results;
    QObject::connect(&queue, &ImportQueue::importFinished, [&](const ImportCounts& c) { results.push_back(c); });
    queue.importFiles({box});
    queue.importFiles({box});
    ASSERT_TRUE(spinUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results[0], (ImportCounts{200, 0, 0}));
    EXPECT_EQ(results[1], (ImportCounts{200, 0, 0}));
    EXPECT_EQ(emlFiles(store.layout.root).size(), 200u);
    EXPECT_EQ(store.importMessage, QStringLiteral("Imported 200 messages"));
}
