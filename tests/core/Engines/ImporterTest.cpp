#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "Mime/MIMEParser.h"
#include "Util/Date.h"
#include "Engines/Importer.h"
#include "Vault/FileNames.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using bx::Importer;

namespace {

size_t fileCount(const fs::path& dir) {
    if (!fs::exists(dir)) return 0;
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) ++n;
    return n;
}

long long mtimeSeconds(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mtim.tv_sec;
}

}  // namespace

TEST(Importer, SplitMbox) {
    const std::string mbox =
        "From alice@example.com Mon Jan  1 00:00:00 2024\n"
        "Subject: one\n"
        "\n"
        "Body one\n"
        "From here on, this line follows a non-empty line\n"
        "\n"
        "From bob@example.com Tue Jan  2 00:00:00 2024\n"
        "Subject: two\n"
        "\n"
        ">From the start\n"
        ">>From twice\n"
        "\n\n";
    const auto messages = Importer::splitMbox(mbox);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Subject: one\n\nBody one\nFrom here on, this line follows a non-empty line\r\n");
    EXPECT_EQ(messages[1], "Subject: two\n\nFrom the start\n>From twice\r\n");

    // The same body line after an empty line starts a message of its own.
    EXPECT_EQ(Importer::splitMbox("From a\nX: 1\n\nFrom here on\nY: 2\n").size(), 2u);
    // CR LF files: a line holding only CR counts as empty.
    EXPECT_EQ(Importer::splitMbox("From a\r\nX: 1\r\n\r\nFrom b\r\nY: 2\r\n").size(), 2u);

    EXPECT_TRUE(Importer::splitMbox("").empty());
    EXPECT_TRUE(Importer::splitMbox("Subject: not an mbox\n\nFrom nowhere\n").empty());  // not after an empty line
    EXPECT_TRUE(Importer::splitMbox("From a").empty());                                   // no line end
    EXPECT_TRUE(Importer::splitMbox("From a\n").empty());                                 // nothing after it
    EXPECT_EQ(Importer::splitMbox("junk\n\nFrom a\nX: 1\n"), std::vector<std::string>{"X: 1\r\n"});
}

TEST(Importer, UnescapeFrom) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {">From the start\n", "From the start\n"},
        {">>From twice\n", ">From twice\n"},
        {"a\n>From x\n>>>From y", "a\nFrom x\n>>From y"},
        {">Fro", ">Fro"},
        {">>>", ">>>"},
        {"x >From not at line start\n", "x >From not at line start\n"},
        {">from lower case\n", ">from lower case\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Importer::unescapeFrom(c.in), c.out) << c.in;
}

TEST(Importer, Fingerprint) {
    EXPECT_EQ(Importer::fingerprint(""), "84222325");
    EXPECT_EQ(Importer::fingerprint("a"), "8601ec8c");  // FNV-1a 64 of "a" is af63dc4c8601ec8c
    EXPECT_EQ(Importer::fingerprint("foobar"), "f73967e8");  // of 85944171f73967e8
}

TEST(Importer, StoreFilesOnceUnderImported) {
    bx::test::TempDir dir;
    bx::ArchiveLayout layout(dir.path());
    const std::string eml =
        "From: A <a@example.com>\r\nDate: Tue, 05 Mar 2024 10:00:00 +0000\r\n"
        "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= / news\r\n\r\nHello\r\n";
    const std::string expected =
        "Imported/My Mail/2024/2024-03-05 Gr\xC3\xBC\xC3\x9F" "e news i" + Importer::fingerprint(eml) + ".eml";

    const auto first = Importer::store({eml}, "My: Mail", layout);
    ASSERT_EQ(first, std::vector<std::string>{expected});
    EXPECT_EQ(dir.read(expected), eml);
    EXPECT_EQ(mtimeSeconds(dir / expected), bx::secondsSince1970(*bx::parseISO8601("2024-03-05T10:00:00Z")));

    // Importing it again finds it.
    EXPECT_EQ(Importer::store({eml}, "My: Mail", layout), first);
    EXPECT_EQ(fileCount(dir / "Imported"), 1u);

    // Empty data and text that is not mail are skipped; a collection that
    // cleans to nothing is "Messages".
    const auto paths = Importer::store({"", "just some text\nwithout headers\n", "Subject: x\n\nhi\n"}, "///", layout);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0].rfind("Imported/Messages/", 0), 0u) << paths[0];
}

TEST(Importer, UnparsableDateFilesUnderToday) {
    bx::test::TempDir dir;
    bx::ArchiveLayout layout(dir.path());
    const auto before = std::chrono::system_clock::now();
    const auto paths = Importer::store({"Subject: when?\nDate: someday\n\nbody\n"}, "c", layout);
    ASSERT_EQ(paths.size(), 1u);
    const auto today = bx::FileNames::formatDay(before);
    EXPECT_NE(paths[0].find(today + " when i"), std::string::npos) << paths[0];
    EXPECT_LE(std::abs(mtimeSeconds(dir / paths[0]) - bx::secondsSince1970(before)), 5);
}

// The splitter finds the same messages as Python's mailbox module in mbox
// files written by that module (which escapes body "From " lines).
TEST(Importer, SplitAgreesWithPythonMailbox) {
    bx::test::TempDir dir;
    const auto script = dir.write("make.py", R"PY(
import mailbox, sys, email.message
path = sys.argv[1]
box = mailbox.mbox(path, create=True)
for i in range(60):
    m = email.message.EmailMessage()
    m['From'] = 'sender%d@example.com' % i
    m['Subject'] = 'message %d' % i
    m['Message-ID'] = '<m%d@example.com>' % i
    body = 'line one\n'
    if i % 3 == 0: body += 'From the desk of nobody\n'
    if i % 4 == 0: body += '\nFrom after a blank line\n'
    if i % 5 == 0: body += '>From already quoted\n'
    m.set_content(body)
    box.add(m)
box.flush()
box.close()
for m in mailbox.mbox(path):
    print(m['Message-ID'])
)PY");
    const auto mboxPath = dir / "test.mbox";
    const auto r = bx::test::runCommand({"python3", script.string(), mboxPath.string()});
    ASSERT_TRUE(r.ok()) << r.err;
    std::vector<std::string> pythonIDs;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) pythonIDs.push_back(line);
    ASSERT_EQ(pythonIDs.size(), 60u);

    const auto messages = Importer::splitMbox(dir.read(mboxPath));
    std::vector<std::string> ours;
    for (const auto& m : messages) ours.push_back(bx::MIMEParser::headers(m)["Message-ID"].value_or("?"));
    EXPECT_EQ(ours, pythonIDs);

    bx::ArchiveLayout layout(dir / "vault");
    EXPECT_EQ(Importer::store(messages, "test", layout).size(), 60u);
    EXPECT_EQ(Importer::store(Importer::splitMbox(dir.read(mboxPath)), "test", layout).size(), 60u);
    EXPECT_EQ(fileCount(dir / "vault/Imported"), 60u);
}

// An mbox file read piece by piece splits as the whole file would, also where
// a line spans many reads.
TEST(Importer, SplitMboxFileAgreesWithTheWholeFileSplit) {
    const std::string huge(2621440, 'x');  // longer than two reads
    const std::string mail = "From: a@example.com\r\nSubject: s\r\n\r\nbody\r\n";
    const std::string texts[] = {
        "",
        "no separator at all\n",
        "preamble\nFrom a\n" + mail + "\nFrom b\n" + mail,
        "From a\n" + mail + "From not a separator\n\nFrom b\n>From escaped\n>>From twice\n",
        "From a\r\n" + mail + "\r\nFrom b\r\n\r\n\r\n",
        "From a\nbody\n\nFrom b",                   // the last separator has no line end
        "From a\n\nFrom b\n",                       // an empty message and a separator with nothing after it
        "From a\n" + huge + "\nFrom inside\n\nFrom b\nx\n",  // a long line is not blank
        "From a\n" + huge + "\n\nFrom b\n" + huge,  // ... and ends at its line end
        "\nFrom " + huge + "\nbody\n",             // a separator longer than a read
        "From a\nx\n>" + huge,
    };
    bx::test::TempDir dir;
    for (const auto& text : texts) {
        const auto file = dir.write("box.mbox", text);
        std::vector<std::string> streamed;
        Importer::splitMboxFile(file, [&](std::string&& m) { streamed.push_back(std::move(m)); });
        EXPECT_EQ(streamed, Importer::splitMbox(text)) << text.substr(0, 60);
    }
    EXPECT_THROW(Importer::splitMboxFile(dir / "missing.mbox", [](std::string&&) {}), std::system_error);

    // Stored from the file: the same paths as from the split in memory.
    const std::string box = "From a\n" + mail + "\nFrom b\nFrom: b@example.com\nSubject: t\n\nx\n\nFrom c\nnot mail\n";
    const auto file = dir.write("box.mbox", box);
    bx::ArchiveLayout layout(dir / "vault");
    const auto fromFile = Importer::storeMbox(file, "Old mail", layout);
    EXPECT_EQ(fromFile.size(), 2u);
    EXPECT_EQ(fromFile, Importer::store(Importer::splitMbox(box), "Old mail", layout));
}
