#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Index/SearchIndex.h"
#include "support/TempDir.h"
#include "Util/AtomicFile.h"

using bx::MessageRecord;
using bx::SearchIndex;
namespace fs = std::filesystem;

namespace {

const fs::path vaultData = fs::path(BX_SOURCE_DIR) / "tests/data/safety/vault";

std::pair<MessageRecord, std::string> make(const std::string& eml, const std::string& path = "acct/INBOX/x.eml",
                                           double mtime = 1700000000) {
    return SearchIndex::makeRecord(eml, path, mtime);
}

std::string fixture(const std::string& rel) { return *bx::readFile(vaultData / rel); }

// Indexes every .eml below root in path order, as a vault scan would.
void indexFolder(SearchIndex& index, const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && e.path().extension() == ".eml") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        const std::string rel = fs::relative(f, root).generic_string();
        auto [record, text] = SearchIndex::makeRecord(*bx::readFile(f), rel, 1700000000.0);
        index.add(std::move(record), text);
    }
}

}  // namespace

TEST(MakeRecord, AccountAndFolderFromPath) {
    const std::string eml = "Subject: hi\r\n\r\nbody\r\n";
    struct Case {
        const char* path;
        const char* account;
        const char* folder;
    } cases[] = {
        {"work/INBOX/2024/x.eml", "work", "INBOX"},
        {"x.eml", "", ""},  // at the vault root: no account
        {"/a//b/c", "a", "b"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        auto [r, text] = make(eml, c.path);
        EXPECT_EQ(r.path, c.path);
        EXPECT_EQ(r.account, c.account) << c.path;
        EXPECT_EQ(r.folder, c.folder) << c.path;
        EXPECT_EQ(r.id, 0);
    }
}

TEST(MakeRecord, FieldsAndIndexedText) {
    const std::string eml =
        "From: Ann <ann@example.org>\r\n"
        "To: Bob Stone <bob@example.org>\r\n"
        "Cc: carol@example.org\r\n"
        "Subject: Plans\r\n"
        "Content-Type: text/plain\r\n\r\n"
        "Hello\n\n   world\tagain\r\n";
    auto [r, text] = make(eml, "acct/INBOX/p.eml", 1709647629.75);
    EXPECT_EQ(r.fromName, "Ann");
    EXPECT_EQ(r.fromEmail, "ann@example.org");
    EXPECT_EQ(r.to, "Bob Stone <bob@example.org>, carol@example.org");
    EXPECT_EQ(r.snippet, "Hello world again ");
    EXPECT_EQ(r.size, static_cast<int64_t>(eml.size()));
    EXPECT_EQ(r.mtime, 1709647629.75);
    // No Date header: the file's modification time.
    EXPECT_EQ(r.date, MessageRecord::dateFromSeconds(1709647629.75));
    EXPECT_EQ(r.trust, bx::SenderTrust::unknown);
    EXPECT_FALSE(r.senderFlag);
    EXPECT_EQ(text, "Plans\nAnn ann@example.org Bob Stone bob@example.org  carol@example.org\n"
                    "Hello\n\n   world\tagain\r\n\n");

    auto [empty, emptyText] = make("");
    EXPECT_EQ(empty.fromDisplay(), "(unknown sender)");
    EXPECT_EQ(empty.subject, "");
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(emptyText, "\n\n\n");
}

TEST(MakeRecord, SnippetAndBodyLimits) {
    std::string body(50000, 'a');
    for (size_t i = 100; i < body.size(); i += 100) body[i] = ' ';
    auto [r, text] = make("Subject: long\r\nContent-Type: text/plain\r\n\r\n\n" + body);
    EXPECT_EQ(r.snippet.size(), 180u);
    EXPECT_EQ(r.snippet[0], ' ');  // a leading line break becomes a blank, not trimmed
    // The body contributes only its first 40000 characters.
    const size_t bodyStart = text.find('\n', text.find('\n') + 1) + 1;
    const size_t bodyEnd = text.rfind('\n');
    EXPECT_EQ(bodyEnd - bodyStart, 40000u);

    auto [u, utext] = make("Subject: x\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" +
                           std::string(10, ' ') + [] {
                               std::string s;
                               for (int i = 0; i < 300; ++i) s += "\u00e9";
                               return s;
                           }());
    EXPECT_EQ(u.snippet.size(), 1 + 179 * 2u);  // 180 characters, not bytes
}

TEST(MakeRecord, RealMessages) {
    {
        auto [r, text] = make(fixture("home/Newsletters/2024/2024-03-05 Spring sale.eml"),
                              "home/Newsletters/2024/2024-03-05 Spring sale.eml");
        EXPECT_EQ(r.subject, "Spring sale: 30% off garden furniture");
        EXPECT_EQ(r.trust, bx::SenderTrust::verified);
        EXPECT_EQ(r.trackers, 2);
        EXPECT_EQ(r.remoteImages, 1);
        // The click-tracking address leads elsewhere than the text says.
        EXPECT_EQ(r.linkWarnings, 1);
        EXPECT_TRUE(r.isSuspicious());
        EXPECT_EQ(r.snippet.rfind("Spring sale Garden furniture at 30% off", 0), 0u) << r.snippet;
        EXPECT_EQ(bx::formatISO8601(r.date), "2024-03-05T14:07:09Z");
    }
    {
        auto [r, text] = make(fixture("work/INBOX/2024/2024-04-02 Your account is limited.eml"));
        EXPECT_EQ(r.trust, bx::SenderTrust::failed);
        EXPECT_TRUE(r.replyToMismatch);
        EXPECT_EQ(r.linkWarnings, 1);
        EXPECT_EQ(r.senderFlag, "Says Paypal, sent from paypal-notice.example");
        EXPECT_TRUE(r.isSuspicious());
        EXPECT_EQ(r.fromDisplay(), "PayPal Service");
    }
    {
        // One attached PDF counts; the inline logo shown by the HTML does not,
        // but both names are searchable.
        auto [r, text] = make(fixture("work/INBOX/2024/2024-03-28 Invoice March.eml"));
        EXPECT_EQ(r.attachments, 1);
        EXPECT_EQ(r.to, "Ann Lee <ann@example.org>, accounts@example.org");
        EXPECT_EQ(r.trust, bx::SenderTrust::verified);
        EXPECT_NE(text.find("logo.png Invoice-2024-03.pdf"), std::string::npos) << text;
    }
    {
        auto [r, text] = make(fixture("Imported/2022/2022-07-01 Bank notice.eml"), "Imported/2022/n.eml");
        EXPECT_EQ(r.account, "Imported");
        EXPECT_EQ(r.folder, "2022");
        EXPECT_EQ(r.trust, bx::SenderTrust::verified);
        EXPECT_EQ(r.senderFlag, "paypa1.com imitates paypal.com");
        EXPECT_TRUE(r.isSuspicious());
    }
}

TEST(SearchIndexVault, BuildSaveLoadSearch) {
    bx::test::TempDir dir;
    SearchIndex index;
    indexFolder(index, vaultData);
    ASSERT_EQ(index.count(), 7u);

    const auto file = dir / ".brindlebox/index.json";
    index.save(file);
    auto loaded = SearchIndex::load(file);
    ASSERT_EQ(loaded->count(), 7u);

    auto subjects = [&](const std::string& q) {
        std::vector<std::string> out;
        for (const auto& r : loaded->search(q)) out.push_back(r.subject);
        return out;
    };
    EXPECT_EQ(subjects("cafe"), (std::vector<std::string>{"Caf\u00e9 Cr\u00e8me ce soir?"}));
    EXPECT_EQ(subjects("CR\u00c8ME BR\u00dbL"), subjects("creme brul"));
    EXPECT_EQ(subjects("grusse munchen"), (std::vector<std::string>{"Gr\u00fc\u00dfe aus M\u00fcnchen"}));
    EXPECT_EQ(subjects("strassenbahn"), subjects("Stra\u00dfenbahn"));
    EXPECT_EQ(subjects("invoice 2024 pdf"), (std::vector<std::string>{"Invoice March 2024"}));
    EXPECT_EQ(subjects("ann"),
              (std::vector<std::string>{"Caf\u00e9 Cr\u00e8me ce soir?", "Your account is limited", "Invoice March 2024",
                                        "Spring sale: 30% off garden furniture", "Gr\u00fc\u00dfe aus M\u00fcnchen",
                                        "Unusual sign-in"}));
    EXPECT_EQ(subjects("quarterly"), (std::vector<std::string>{"Status report without a sender"}));
    EXPECT_EQ(loaded->record("home/INBOX/2024/2024-05-10 Cafe.eml")->fromName, "Ren\u00e9e Dupr\u00e9");

    // A rebuild of an unchanged vault writes the same bytes.
    SearchIndex again;
    indexFolder(again, vaultData);
    const auto second = dir / "second.json";
    again.save(second);
    EXPECT_EQ(dir.read(file), dir.read(second));

    // A truncated file loads empty and a rebuild brings everything back.
    const std::string bytes = dir.read(file);
    dir.write(".brindlebox/index.json", bytes.substr(0, bytes.size() - 7));
    auto broken = SearchIndex::load(file);
    EXPECT_EQ(broken->count(), 0u);
    indexFolder(*broken, vaultData);
    broken->save(file);
    EXPECT_EQ(dir.read(file), bytes);
}
