// The vault scan indexes files on several threads; what it builds must not
// depend on that.
#include <gtest/gtest.h>

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "Index/SearchIndex.h"
#include "Index/VaultScan.h"
#include "Util/AtomicFile.h"
#include "support/TempDir.h"

using namespace bx;
namespace fs = std::filesystem;

namespace {

const fs::path vaultData = fs::path(BX_SOURCE_DIR) / "tests/data/safety/vault";

// The fixture messages, and many more of every kind the parser tells apart:
// plain ASCII, text beyond ASCII, HTML, attachments, long bodies, no date.
void fillVault(const test::TempDir& vault) {
    for (const auto& e : fs::recursive_directory_iterator(vaultData))
        if (e.is_regular_file()) vault.write("Fixtures/INBOX" / fs::relative(e.path(), vaultData), *readFile(e.path()));
    for (int i = 0; i < 700; ++i) {
        const std::string n = std::to_string(i);
        std::string m = "From: Sender " + n + " <s" + n + "@example.com>\r\nTo: Ann <ann@example.org>\r\n";
        if (i % 5) m += "Date: Tue, " + std::to_string(1 + i % 28) + " Mar 2024 09:15:00 +0100\r\n";
        switch (i % 4) {
            case 0:
                m += "Subject: Report " + n + "\r\n\r\nQuarterly numbers " + n + " and more words\r\n";
                break;
            case 1:
                m += "Subject: =?utf-8?B?R3LDvMOfZQ==?= " + n +
                     "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nCaf\xE9 cr\xE8me na\xEFve " + n + "\r\n";
                break;
            case 2:
                m += "Subject: Letter " + n +
                     "\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>Hello <a href=\"https://example.net/\">"
                     "example.com</a> <img src=\"http://t.example/p.gif\" width=1 height=1> \xC3\xA9t\xC3\xA9 " +
                     n + "</p>\r\n";
                break;
            default:
                m += "Subject: Files " + n +
                     "\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n" + std::string(9000 + i, 'w') +
                     " \xE6\x97\xA5\xE6\x9C\xAC\r\n--b\r\nContent-Type: application/pdf; name=\"r" + n +
                     ".pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n--b--\r\n";
        }
        vault.write("Work/INBOX/2024/m" + n + ".eml", m);
    }
}

struct Scan {
    std::string indexText;
    std::vector<std::string> batchPaths;
    VaultScan::Result result;
};

Scan scan(const test::TempDir& vault, bool ownReader) {
    const ArchiveLayout layout(vault.path());
    SearchIndex index;
    VaultScan::Events events;
    Scan out;
    events.batch = [&](size_t, size_t, std::vector<MessageRecord> added) {
        for (const auto& r : added) out.batchPaths.push_back(r.path);
    };
    // A reader of the caller's own is called on the calling thread alone,
    // so that scan runs on one thread.
    if (ownReader) events.read = [](const fs::path& p) { return readFile(p); };
    out.result = VaultScan::run(index, layout, {}, events);
    out.indexText = index.encode();
    return out;
}

}  // namespace

TEST(VaultScan, ThreadedBuildIsTheOneThreadBuild) {
    test::TempDir vault;
    fillVault(vault);
    const Scan threaded = scan(vault, false);
    const Scan oneThread = scan(vault, true);
    EXPECT_TRUE(threaded.result.completed);
    EXPECT_GT(threaded.result.indexed, 700u);
    EXPECT_EQ(threaded.result.indexed, oneThread.result.indexed);
    EXPECT_EQ(threaded.batchPaths, oneThread.batchPaths);
    EXPECT_EQ(threaded.indexText, oneThread.indexText);

    // And the same as adding each file's record by hand, in the same order.
    SearchIndex byHand;
    for (const auto& [path, mtime] : VaultScan::walk(vault.path())) {
        const auto data = readFile(vault / path);
        ASSERT_TRUE(data) << path;
        auto [record, text] = SearchIndex::makeRecord(*data, path, mtime);
        byHand.add(std::move(record), text);
    }
    EXPECT_EQ(byHand.encode(), threaded.indexText);
}

TEST(VaultScan, StopEndsAThreadedBuildWithoutSaving) {
    test::TempDir vault;
    fillVault(vault);
    const ArchiveLayout layout(vault.path());
    SearchIndex index;
    std::stop_source stop;
    VaultScan::Events events;
    size_t reports = 0;
    events.batch = [&](size_t, size_t, std::vector<MessageRecord>) {
        if (++reports == 3) stop.request_stop();
    };
    const auto result = VaultScan::run(index, layout, stop.get_token(), events);
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(reports, 3u);
    EXPECT_EQ(index.count(), 3 * VaultScan::batchSize);
    EXPECT_FALSE(fs::exists(layout.indexURL()));
}
