#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "Util/AtomicFile.h"
#include "Util/Date.h"
#include "Util/Json.h"
#include "Util/Unicode.h"
#include "Util/UUID.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace bx;

TEST(DateText, RoundTripsAndRejectsMalformed) {
    struct Case {
        const char* text;
        std::optional<long long> seconds;  // nullopt: must fail
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2024-03-07T08:15:02Z", 1709799302},
        {"2024-03-07T09:15:02+01:00", 1709799302},
        {"2024-03-07T09:15:02+0100", 1709799302},
        {"2024-03-07T08:15:02.750Z", 1709799302},
        {"2024-02-29T00:00:00Z", 1709164800},
        {"1969-12-31T23:59:59Z", -1},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2024-03-07 08:15:02Z", std::nullopt},
        {"2024-03-07T08:15:02", std::nullopt},
        {"2024-03-07T24:00:00Z", std::nullopt},
        {"2024-3-07T08:15:02Z", std::nullopt},
        {"2024-03-07T08:15:02Zjunk", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto d = parseISO8601(c.text);
        if (!c.seconds) {
            EXPECT_FALSE(d) << c.text;
        } else {
            ASSERT_TRUE(d) << c.text;
            EXPECT_EQ(secondsSince1970(*d), *c.seconds) << c.text;
        }
    }
    EXPECT_EQ(formatISO8601(dateFromSeconds(1709799302)), "2024-03-07T08:15:02Z");
    EXPECT_EQ(formatISO8601(dateFromSeconds(-1)), "1969-12-31T23:59:59Z");
    // Fractions are dropped, not rounded up.
    EXPECT_EQ(formatISO8601(dateFromSeconds(1709799302) + std::chrono::milliseconds(999)),
              "2024-03-07T08:15:02Z");
}

TEST(StrictJSON, DecodesOnlyWhatIsThere) {
    const json obj = parseJSON(R"({"port": 993, "big": 70000, "frac": 2.5, "whole": 4.0,
                                   "neg": -1, "name": "x", "flag": true, "nul": null,
                                   "when": "2024-03-07T08:15:02Z",
                                   "id": "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"})");
    EXPECT_EQ(requiredKey<std::uint16_t>(obj, "port"), 993);
    EXPECT_THROW(requiredKey<std::uint16_t>(obj, "big"), JSONDecodeError);
    EXPECT_THROW(requiredKey<int>(obj, "frac"), JSONDecodeError);
    EXPECT_EQ(requiredKey<int>(obj, "whole"), 4);
    EXPECT_THROW(requiredKey<std::uint32_t>(obj, "neg"), JSONDecodeError);
    EXPECT_THROW(requiredKey<int>(obj, "name"), JSONDecodeError);
    EXPECT_THROW(requiredKey<std::string>(obj, "port"), JSONDecodeError);
    EXPECT_THROW(requiredKey<bool>(obj, "missing"), JSONDecodeError);
    EXPECT_THROW(requiredKey<bool>(obj, "nul"), JSONDecodeError);
    EXPECT_FALSE(optionalKey<bool>(obj, "nul"));
    EXPECT_FALSE(optionalKey<bool>(obj, "missing"));
    EXPECT_THROW(optionalKey<bool>(obj, "name"), JSONDecodeError);
    EXPECT_EQ(formatISO8601(requiredKey<Date>(obj, "when")), "2024-03-07T08:15:02Z");
    EXPECT_EQ(requiredKey<UUID>(obj, "id").string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_THROW(parseJSON("{\"a\":"), JSONDecodeError);
    EXPECT_THROW(requiredKey<int>(json::array(), "a"), JSONDecodeError);
}

TEST(StrictJSON, StringLiteralsAlwaysReadBack) {
    struct Case {
        std::string raw;
        bool escapeSlash;
        std::string written;
    };
    const Case cases[] = {
        {"plain", false, "\"plain\""},
        {"a/b", false, "\"a/b\""},
        {"a/b", true, "\"a\\/b\""},
        {"q\"\\\n\t\x01", false, "\"q\\\"\\\\\\n\\t\\u0001\""},
        {"caf\xC3\xA9", false, "\"caf\xC3\xA9\""},
        {"bad\xFF", false, "\"bad\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases) {
        std::string out;
        appendJSONString(out, c.raw, c.escapeSlash);
        EXPECT_EQ(out, c.written) << c.raw;
        EXPECT_EQ(parseJSON(out).get<std::string>(), lossyUTF8(c.raw)) << c.raw;
    }
}

TEST(UUIDText, RandomIsVersion4AndRoundTrips) {
    const UUID a = UUID::random(), b = UUID::random();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.string()[14], '4');
    EXPECT_EQ(UUID::parse(a.string()), a);
    EXPECT_FALSE(UUID::parse("E621E1F8C36C495A93FC0C247A3E6E5F"));
    EXPECT_FALSE(UUID::parse("G621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
}

TEST(AtomicFile, ExclusiveCreateNeverReplaces) {
    const test::TempDir tmp("bx-util");
    const fs::path& dir = tmp.path();
    const fs::path file = dir / "a.eml";
    const Date when = dateFromSeconds(1600000000);
    EXPECT_TRUE(createFileExclusive(file, "first", when));
    EXPECT_FALSE(createFileExclusive(file, "second"));
    EXPECT_EQ(readFile(file), "first");
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);
    // No temp files are left behind, whatever happened.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // Many writers racing for one name: exactly one wins.
    const fs::path raced = dir / "raced.eml";
    std::atomic<int> wins{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            if (createFileExclusive(raced, "writer " + std::to_string(i))) ++wins;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wins.load(), 1);

    writeFileAtomically(dir / "state.json", "{}");
    writeFileAtomically(dir / "state.json", "{\"v\":1}");
    EXPECT_EQ(readFile(dir / "state.json"), "{\"v\":1}");
    EXPECT_FALSE(readFile(dir / "missing"));
}

TEST(AtomicFile, FailureLeavesNothingBehind) {
    // A file-size limit makes the write fail part-way, as a full disk would
    // (and works as root, unlike folder permissions).
    const test::TempDir tmp("bx-util");
    const fs::path& dir = tmp.path();
    writeFileAtomically(dir / "x.json", "old");
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big(4096, 'x');
    EXPECT_THROW(createFileExclusive(dir / "x.eml", big), std::system_error);
    EXPECT_THROW(writeFileAtomically(dir / "x.json", big), std::system_error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readFile(dir / "x.json"), "old");
    EXPECT_FALSE(fs::exists(dir / "x.eml"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST(UnicodeText, CountsAndCutsWholeCharacters) {
    struct Case {
        std::string text;
        size_t characters;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"Cafe\xCC\x81", 4},                         // e + combining acute
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 1},     // flag: two regional indicators
        {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", 1},  // ZWJ sequence
        {"a\r\nb", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(characterCount(c.text), c.characters) << c.text;

    EXPECT_EQ(prefixCharacters("Cafe\xCC\x81 au lait", 4), "Cafe\xCC\x81");
    EXPECT_EQ(prefixCharacters("ab", 5), "ab");
    // 5 bytes cannot hold "e" + its combining mark after "Caf": stop before it.
    EXPECT_EQ(truncateUTF8Bytes("Cafe\xCC\x81", 5), "Caf");
    EXPECT_EQ(truncateUTF8Bytes("Cafe\xCC\x81", 6), "Cafe\xCC\x81");
    EXPECT_EQ(truncateUTF8Bytes("\xE2\x82\xAC\xE2\x82\xAC", 4), "\xE2\x82\xAC");
    EXPECT_EQ(truncateUTF8Bytes("abc", 0), "");
}

TEST(UnicodeText, CharacterPassesNest) {
    // A callback that measures other text must not disturb the outer pass.
    std::vector<std::string> seen;
    forEachCharacter("e\xCC\x81xy", [&](std::string_view ch) {
        seen.emplace_back(ch);
        EXPECT_EQ(characterCount("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA" "ab"), 3u);
        return seen.size() < 2;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"e\xCC\x81", "x"}));
    EXPECT_EQ(trimCodePoints("--\xC3\xA9-", [](char32_t c) { return c == U'-'; }), "\xC3\xA9");
    EXPECT_EQ(trimCodePoints("\xFF  ", [](char32_t c) { return c == U' '; }), "\xFF");
}

TEST(UnicodeText, WhitespaceIsSpaceSeparatorsAndTab) {
    EXPECT_TRUE(isWhitespaceChar(U' '));
    EXPECT_TRUE(isWhitespaceChar(U'\t'));
    EXPECT_TRUE(isWhitespaceChar(U'\u00A0'));
    EXPECT_TRUE(isWhitespaceChar(U'\u3000'));
    EXPECT_FALSE(isWhitespaceChar(U'\n'));
    EXPECT_FALSE(isWhitespaceChar(U'\r'));
    EXPECT_EQ(trimWhitespace("\t \xC2\xA0 name \xE3\x80\x80"), "name");
    EXPECT_EQ(trimWhitespace("\nname\n"), "\nname\n");
    EXPECT_EQ(trimWhitespace("   "), "");
}

TEST(UnicodeText, NamedWhitespaceClasses) {
    struct Case {
        char32_t c;
        bool whitespace, separator, regexSpace, orNewline, unicodeWhite;
    };
    const Case cases[] = {
        {U' ', true, true, true, true, true},
        {U'\t', true, false, true, true, true},
        {U'\n', false, false, true, true, true},
        {U'\v', false, false, false, true, true},
        {U'\f', false, false, true, true, true},
        {U'\r', false, false, true, true, true},
        {U'\u0085', false, false, false, true, true},
        {U'\u00A0', true, true, true, true, true},
        {U'\u2028', false, true, true, true, true},
        {U'\u200B', false, false, false, false, false},  // zero width space is a format character
        {U'x', false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.c));
        EXPECT_EQ(isWhitespaceChar(c.c), c.whitespace);
        EXPECT_EQ(isSeparatorChar(c.c), c.separator);
        EXPECT_EQ(isRegexSpace(c.c), c.regexSpace);
        EXPECT_EQ(isWhitespaceOrNewline(c.c), c.orNewline);
        EXPECT_EQ(isUnicodeWhiteSpace(c.c), c.unicodeWhite);
    }
    EXPECT_EQ(trimSpacesTabs(" \t a b\t "), "a b");
    EXPECT_EQ(trimSpacesTabs("\na\n"), "\na\n");
    EXPECT_EQ(trimWhitespaceNewlines("\r\n\xC2\x85 a \xE2\x80\xA8"), "a");
}

TEST(UnicodeText, ProtocolWordsFoldOnlyASCII) {
    EXPECT_EQ(asciiUppercased("n\u0131l"), "N\u0131L");  // a dotless i is no "I"
    EXPECT_EQ(asciiUppercased("stra\u00DFe"), "STRA\u00DFE");  // nor does the eszett grow to "SS"
    EXPECT_EQ(asciiLowercased("\u0130NBOX"), "\u0130nbox");
    EXPECT_EQ(asciiLowercased("UID-fetch 7"), "uid-fetch 7");
    EXPECT_TRUE(asciiEqualsIgnoringCase("Content-Type", "content-TYPE"));
    EXPECT_FALSE(asciiEqualsIgnoringCase("\u00C9", "\u00E9"));
    EXPECT_FALSE(asciiEqualsIgnoringCase("ab", "abc"));
    // Text for people still takes full Unicode case.
    EXPECT_EQ(lowercased("\u00C9COLE.example"), "\u00E9cole.example");
    EXPECT_TRUE(equalsIgnoringCase("\u00C9t\u00E9", "\u00E9T\u00C9"));
    EXPECT_FALSE(equalsIgnoringCase("a", "b"));
    EXPECT_TRUE(isASCII("plain text, longer than one word"));
    EXPECT_FALSE(isASCII("plain text, longer than one word\xC3\xA9"));
    EXPECT_FALSE(isASCII("\x80"));
}

TEST(UnicodeText, DecimalNumbers) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> unsignedValue;
        std::optional<std::int64_t> signedValue;
    };
    const Case cases[] = {
        {"0", 0u, 0},
        {"4294967295", 4294967295u, 4294967295},
        {"4294967296", {}, 4294967296},
        {"007", 7u, 7},
        {"+5", {}, 5},  // an identifier never takes a sign
        {"-5", {}, -5},
        {"-0", {}, 0},
        {"9223372036854775807", {}, INT64_MAX},
        {"-9223372036854775808", {}, INT64_MIN},
        {"9223372036854775808", {}, {}},
        {"", {}, {}},
        {"+", {}, {}},
        {" 1", {}, {}},
        {"1 ", {}, {}},
        {"1x", {}, {}},
        {"\xD9\xA1", {}, {}},  // a non-ASCII digit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDecimal<std::uint32_t>(c.text), c.unsignedValue);
        EXPECT_EQ(parseSignedDecimal<std::int64_t>(c.text), c.signedValue);
    }
    EXPECT_EQ(parseSignedDecimal<std::uint32_t>("-0"), 0u);
    EXPECT_EQ(parseSignedDecimal<std::uint32_t>("-1"), std::nullopt);
}

TEST(UnicodeText, ValidityAndRepair) {
    EXPECT_TRUE(isValidUTF8("plain \xC3\xA9"));
    EXPECT_FALSE(isValidUTF8("\xC3"));
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(isValidUTF8("\xC0\xAF"));      // overlong
    EXPECT_EQ(lossyUTF8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(lossyUTF8("\xC3\xA9"), "\xC3\xA9");
}
