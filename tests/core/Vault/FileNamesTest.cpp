#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Imap/IMAPMailbox.h"
#include "Util/Date.h"
#include "Util/Unicode.h"
#include "Vault/FileNames.h"
#include "support/Process.h"

using bx::FileNames;

namespace {

bx::Date at(const char* iso) { return *bx::parseISO8601(iso); }

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

struct SanitizeCase {
    const char* what;
    std::string input;
    int max;
    int maxBytes;
    std::string expected;
};

}  // namespace

TEST(FileNames, SanitizeRules) {
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 18 bytes
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";  // DE, two scalars
    const std::string cjk = "\xE6\xBC\xA2";                         // one 3-byte ideograph
    const SanitizeCase cases[] = {
        {"colon and slash become spaces, runs collapse", "Re: a/b", 80, 150, "Re a b"},
        {"all nine forbidden characters", "a/b\\c:d*e?f\"g<h>i|j", 80, 150, "a b c d e f g h i j"},
        {"only question marks", "????", 80, 150, ""},
        {"only white space", " \t \xE2\x80\x83 ", 80, 150, ""},
        {"leading dots removed", "...word", 80, 150, "word"},
        {"dots after trimming removed", "  ..x", 80, 150, "x"},
        {"a dot brought to the front by a trim goes too", ". ..", 80, 150, ""},
        {"no dot-only name after a trim", ". .", 80, 150, ""},
        {"a hidden name after a trim", ". .x", 80, 150, "x"},
        {"tab and CR LF trimmed away", "\tHello\r\n", 80, 150, "Hello"},
        {"line breaks inside become one space", "a\r\n\nb\xE2\x80\xA8" "c", 80, 150, "a b c"},
        {"control characters and DEL", "a\x01" "b\x7F" "c", 80, 150, "a b c"},
        {"other text unchanged", "Caf\xC3\xA9 \xE2\x80\x94 50%", 80, 150, "Caf\xC3\xA9 \xE2\x80\x94 50%"},
        {"200 characters cut to 80", repeat("x", 200), 80, 150, repeat("x", 80)},
        {"cut trims again", repeat("x", 79) + " y", 80, 150, repeat("x", 79)},
        {"80 CJK characters cut to 150 bytes", repeat(cjk, 80), 80, 150, repeat(cjk, 50)},
        {"emoji sequence kept whole by the character cut", "a" + family + "b", 2, 150, "a" + family},
        {"emoji sequence dropped whole by the byte cut", "ab" + family, 60, 10, "ab"},
        {"flag never split", "a" + flag, 60, 5, "a"},
        {"invalid UTF-8 repaired", std::string("a\xFF" "b"), 80, 150, "a\xEF\xBF\xBD" "b"},
    };
    for (const auto& c : cases) {
        const std::string got = FileNames::sanitize(c.input, c.max, c.maxBytes);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_TRUE(bx::isValidUTF8(got)) << c.what;
    }
}

TEST(FileNames, TruncateUTF8NeverSplitsACharacter) {
    EXPECT_EQ(FileNames::truncateUTF8("abc", 3), "abc");
    EXPECT_EQ(FileNames::truncateUTF8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(FileNames::truncateUTF8("e\xCC\x81x", 2), "");  // e + combining acute is one character
    EXPECT_EQ(FileNames::truncateUTF8("e\xCC\x81x", 3), "e\xCC\x81");
}

TEST(FileNames, MessagePath) {
    EXPECT_EQ(FileNames::messagePath(at("2024-03-07T08:15:02Z"), "Re: a/b", "17"), "2024/2024-03-07 Re a b 17.eml");
    EXPECT_EQ(FileNames::messagePath(at("2024-03-07T08:15:02Z"), "???", "i84222325"),
              "2024/2024-03-07 (no subject) i84222325.eml");
    EXPECT_EQ(FileNames::messagePath(at("1999-12-31T23:59:59Z"), "", "4294967295"),
              "1999/1999-12-31 (no subject) 4294967295.eml");
}

TEST(FileNames, FolderDirectory) {
    using bx::IMAPMailbox;
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("Work/Projects", "Work/Projects", "/")), "Work - Projects");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("Work.Projects", "Work.Projects", ".")), "Work - Projects");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("Work/Projects", "Work/Projects")), "Work Projects");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("Entw&APw-rfe", "Entw\xC3\xBCrfe", "/")), "Entw\xC3\xBCrfe");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("x", "", "/")), "Folder");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("..", "..", "/")), "Folder");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox(". ..", ". ..", "/")), "Folder");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox(". .", ". .", "/")), "Folder");
    EXPECT_EQ(FileNames::folderDirectory(IMAPMailbox("a", "a", "")), "a");
}

// The formatters use the process's time zone; this runs in a child process
// started with TZ set (see LocalTimeZoneDecidesYearAndDay).
TEST(FileNamesChild, PrintMessagePath) {
    if (!std::getenv("BX_FILENAMES_CHILD")) GTEST_SKIP() << "runs only as a child";
    std::printf("PATH=%s\n", FileNames::messagePath(at("2023-12-31T23:30:00Z"), "New year", "5").c_str());
}

TEST(FileNames, LocalTimeZoneDecidesYearAndDay) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const auto r = bx::test::runCommand({"env", "TZ=Etc/GMT-1", "BX_FILENAMES_CHILD=1", self,
                                         "--gtest_filter=FileNamesChild.PrintMessagePath"});
    ASSERT_TRUE(r.ok()) << r.err;
    EXPECT_NE(r.out.find("PATH=2024/2024-01-01 New year 5.eml"), std::string::npos) << r.out;
    // And in UTC (this process) the same instant is still in 2023.
    EXPECT_EQ(FileNames::messagePath(at("2023-12-31T23:30:00Z"), "New year", "5"), "2023/2023-12-31 New year 5.eml");
}
