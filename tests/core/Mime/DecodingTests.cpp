#include <gtest/gtest.h>

#include <random>

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include "Mime/Charsets.h"
#include "Mime/EncodedWords.h"
#include "Mime/HeaderParams.h"
#include "Mime/PercentDecode.h"
#include "Mime/TransferDecoding.h"

using namespace bx;

TEST(TransferDecoding, Base64) {
    struct Case { std::string in, out; } cases[] = {
        {"SGVsbG8", "Hello"},
        {"SGVs bG8=\r\n", "Hello"},
        {"SGVsbG8hX", "Hello!"},          // a single stray sextet is dropped
        {"SGVsbG8=X", "Hello\x17"},       // padding in the middle is ignored
        {"SGVs\r\nbG8h\r\n", "Hell" "o!"},
        {"", ""},
        {"====", ""},
        {"*&^%", ""},
        {"QQ", "A"},
        {"QUI", "AB"},
        {"/+8=", std::string("\xFF\xEF", 2)},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferDecoding::base64(c.in), c.out) << c.in;
}

// Whole groups of four are decoded in one step; text with line ends, junk
// and padding anywhere must still decode as one sextet at a time does.
TEST(TransferDecoding, Base64InGroupsIsBase64BySextets) {
    auto bySextets = [](const std::string& in) {
        static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        uint32_t acc = 0;
        int n = 0;
        for (char ch : in) {
            const auto v = alphabet.find(ch);
            if (v == std::string::npos) continue;
            acc = (acc << 6) | static_cast<uint32_t>(v);
            if (++n == 4) {
                out += {static_cast<char>(acc >> 16), static_cast<char>(acc >> 8), static_cast<char>(acc)};
                acc = 0;
                n = 0;
            }
        }
        if (n == 2) out += static_cast<char>(acc >> 4);
        if (n == 3) out += {static_cast<char>(acc >> 10), static_cast<char>(acc >> 2)};
        return out;
    };
    static const char pool[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n \t*";
    std::mt19937 rng(64);
    for (int i = 0; i < 2000; ++i) {
        std::string in(static_cast<std::size_t>(rng() % 200), 'A');
        const bool clean = i % 2 == 0;  // mostly the alphabet, now and then a line end
        for (auto& ch : in) ch = pool[rng() % (clean && rng() % 20 ? 64 : sizeof pool - 1)];
        ASSERT_EQ(TransferDecoding::base64(in), bySextets(in)) << in;
    }
}

TEST(TransferDecoding, QuotedPrintable) {
    struct Case { std::string in, out; } cases[] = {
        {"a=3Db", "a=b"},
        {"a=\r\nb", "ab"},
        {"a=\nb", "ab"},
        {"a=  \r\nb", "ab"},
        {"a=zz", "a=zz"},
        {"a=", "a"},
        {"a=  ", "a"},
        {"a_b", "a_b"},
        {"=C3=A9t=C3=A9", "\xC3\xA9t\xC3\xA9"},
        {"=c3=a9", "\xC3\xA9"},
        {"a=3", "a=3"},        // too short for a hex pair: "=" kept literally
        {"a= x", "a= x"},      // blanks after "=" are only skipped for the test
        {"a=\r", "a"},
        {"a=\rb", "a=\rb"},
        {"x=41=", "xA"},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferDecoding::quotedPrintable(c.in), c.out) << c.in;
}

TEST(TransferDecoding, DecodeSelectsByExactLowerCaseName) {
    EXPECT_EQ(TransferDecoding::decode("SGk=", "base64"), "Hi");
    EXPECT_EQ(TransferDecoding::decode("a=3Db", "quoted-printable"), "a=b");
    EXPECT_EQ(TransferDecoding::decode("SGk=", "BASE64"), "SGk=");
    EXPECT_EQ(TransferDecoding::decode("SGk=", "x-uuencode"), "SGk=");
}

// Plain text labelled base64 is read as it stands; real base64 with the
// blanks, padding and stray bytes it carries in the wild still decodes.
TEST(TransferDecoding, Base64LabelOnPlainText) {
    std::string bigBody, bigDecoded;
    for (int i = 0; i < 40; ++i) {
        bigBody += "SGVsbG8gd29ybGQsIHRoaXMgaXMgYSBsaW5lIG9mIGJhc2U2NCB0ZXh0ISEh\r\n";
        bigDecoded += "Hello world, this is a line of base64 text!!!";
    }
    struct Case { std::string in, out; } cases[] = {
        {"Hello, this is a plain message.\r\nSee you soon!\r\n", "Hello, this is a plain message.\r\nSee you soon!\r\n"},
        {"Thanks - see you, Ann\r\n", "Thanks - see you, Ann\r\n"},
        {"SGVsbG8=", "Hello"},
        {"SGVs bG8=\r\n", "Hello"},
        {"  SGVs\t\r\n  bG8h  \r\n", "Hello!"},  // blanks at line ends
        {"SGVs*bG8h", "Hello!"},                  // a stray byte
        {bigBody, bigDecoded},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferDecoding::decode(c.in, "base64"), c.out) << c.in;
    // A footer a list appended after a large encoded body is no reason to
    // show the body undecoded.
    const std::string footed = TransferDecoding::decode(bigBody + "-- \r\nList footer, see x.example\r\n", "base64");
    EXPECT_EQ(footed.substr(0, bigDecoded.size()), bigDecoded);
}

TEST(PercentDecode, Bytes) {
    EXPECT_EQ(PercentDecode::bytes("a%20b"), "a b");
    EXPECT_EQ(PercentDecode::bytes("%E2%82%AC"), "\xE2\x82\xAC");
    EXPECT_EQ(PercentDecode::bytes("100%"), "100%");
    EXPECT_EQ(PercentDecode::bytes("%4"), "%4");
    EXPECT_EQ(PercentDecode::bytes("%zz%41"), "%zzA");
}

TEST(Charsets, EncodingLookup) {
    EXPECT_FALSE(Charsets::encoding(std::nullopt));
    EXPECT_FALSE(Charsets::encoding(""));
    EXPECT_FALSE(Charsets::encoding("\" \""));
    EXPECT_FALSE(Charsets::encoding("x-unknown"));
    EXPECT_EQ(Charsets::encoding("\"UTF8\""), Charsets::utf8());
    EXPECT_EQ(Charsets::encoding("us-ascii"), Charsets::utf8());
    EXPECT_EQ(Charsets::encoding("ASCII"), Charsets::utf8());
    EXPECT_EQ(Charsets::encoding("cp1252"), Charsets::windows1252());
    EXPECT_EQ(Charsets::encoding("Windows-1252"), Charsets::windows1252());
    EXPECT_TRUE(Charsets::encoding("iso-8859-2"));
    EXPECT_TRUE(Charsets::encoding("koi8-r"));
    EXPECT_TRUE(Charsets::encoding("shift_jis"));
    EXPECT_TRUE(Charsets::encoding("iso-2022-jp"));
    EXPECT_EQ(Charsets::encoding("gb2312"), Charsets::encoding("GB18030"));
    EXPECT_EQ(Charsets::encoding("ks_c_5601-1987"), Charsets::encoding("euc-kr"));
    // implausible names never reach ICU's converter lookup
    EXPECT_FALSE(Charsets::encoding("../../etc/passwd"));
    EXPECT_FALSE(Charsets::encoding("utf-8,version=1"));
    EXPECT_FALSE(Charsets::encoding(std::string(100, 'a')));
}

TEST(Charsets, StringDecodesAndFallsBack) {
    struct Case { std::string bytes; std::optional<std::string> charset; std::string text; } cases[] = {
        {"caf\xE9", "iso-8859-1", "caf\xC3\xA9"},
        {"caf\xC3\xA9", "us-ascii", "caf\xC3\xA9"},          // 8-bit in us-ascii read as UTF-8
        {"caf\xE9", "us-ascii", "caf\xC3\xA9"},              // then Windows-1252
        {"caf\xE9", "x-unknown", "caf\xC3\xA9"},
        {"caf\xE9", std::nullopt, "caf\xC3\xA9"},
        {"\x80 \x9F", "utf-8", "\xE2\x82\xAC \xC5\xB8"},     // euro sign and Y diaeresis
        {"\xD6\xD0\xCE\xC4", "gb2312", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"\xC1\xC2", "koi8-r", "\xD0\xB0\xD0\xB1"},
        {"\x82\xA0", "shift_jis", "\xE3\x81\x82"},
        {"\x1B$B$\"\x1B(B", "iso-2022-jp", "\xE3\x81\x82"},
        {"+AOk-", "unicode-1-1-utf-7", "\xC3\xA9"},
        {std::string("\xFE\xFF\x00\xE9", 4), "utf-16", "\xC3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Charsets::string(c.bytes, c.charset ? std::optional<std::string_view>(*c.charset) : std::nullopt), c.text)
            << c.bytes << " / " << c.charset.value_or("nil");
}

TEST(Charsets, InvalidBytesInDeclaredCharsetAreDetected) {
    // Shift_JIS lead byte followed by an invalid trail byte: strict decoding
    // must fail, not substitute; the text keeps its charset with U+FFFD there.
    auto sjis = Charsets::encoding("shift_jis");
    ASSERT_TRUE(sjis);
    EXPECT_FALSE(Charsets::decode("\x82\x20", *sjis));
    EXPECT_FALSE(Charsets::decode("\x82", *sjis));  // truncated at the end
    EXPECT_EQ(Charsets::string("\x82\x20", "shift_jis"), "\xEF\xBF\xBD ");
    EXPECT_FALSE(Charsets::decode("\xC3", Charsets::utf8()));
    EXPECT_FALSE(Charsets::decode("\xED\xA0\x80", Charsets::utf8()));  // encoded surrogate
    EXPECT_FALSE(Charsets::decode("\xC0\xAF", Charsets::utf8()));      // overlong
}

// One bad sequence must not cost the rest of the text its charset.
TEST(Charsets, BadSequencesAreRepairedWhereTheyAre) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case { std::string bytes; std::optional<std::string> charset; std::string text; } cases[] = {
        // UTF-8 with one Latin-1 letter: only that byte is read as Windows-1252
        {"Gr\xC3\xBC\xC3\x9F" "e, caf\xE9 \xE2\x82\xAC", "utf-8", "Gr\xC3\xBC\xC3\x9F" "e, caf\xC3\xA9 \xE2\x82\xAC"},
        {"\xC3\xBC \xE2\x82 \x80", "utf-8", "\xC3\xBC \xC3\xA2\xE2\x80\x9A \xE2\x82\xAC"},  // a cut sequence: each byte
        {"\xC3\xBC\xFC", std::nullopt, "\xC3\xBC\xC3\xBC"},
        {"\xC3\xBC\xFC", "x-unknown", "\xC3\xBC\xC3\xBC"},
        // other charsets: ICU's substitute for the bad sequence, the rest decoded
        {"\x82\xA0\x82\x20\x82\xA2", "shift_jis", "\xE3\x81\x82" + fffd + " \xE3\x81\x84"},
        {"Caf+AOk- +AOk-t+\xE9-", "utf-7", "Caf\xC3\xA9 \xC3\xA9t" + fffd + fffd + "-"},
        {"\x1B$B$\"\x1B(B \xFF", "iso-2022-jp", "\xE3\x81\x82 " + fffd},
        // 8-bit text that is valid UTF-8 under another label was mislabelled
        {"caf\xC3\xA9 \xE2\x82\xAC", "iso-2022-jp", "caf\xC3\xA9 \xE2\x82\xAC"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Charsets::string(c.bytes, c.charset ? std::optional<std::string_view>(*c.charset) : std::nullopt), c.text)
            << c.bytes << " / " << c.charset.value_or("nil");
}

// Single-byte charsets are read through a table built from ICU's converter;
// every byte, and text of every byte, must come out as ICU reads it, and a
// byte the charset leaves unmapped must still fail a strict decode.
TEST(Charsets, SingleByteCharsetsReadAsICUReadsThem) {
    auto icuRead = [](const std::string& bytes, const char* name) -> std::optional<std::string> {
        UErrorCode err = U_ZERO_ERROR;
        UConverter* c = ucnv_open(name, &err);
        ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        std::u16string out(bytes.size() * 2 + 8, u'\0');
        err = U_ZERO_ERROR;
        const int32_t n = ucnv_toUChars(c, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                                        bytes.data(), static_cast<int32_t>(bytes.size()), &err);
        ucnv_close(c);
        if (U_FAILURE(err)) return std::nullopt;
        std::string utf8;
        icu::UnicodeString(reinterpret_cast<const UChar*>(out.data()), n).toUTF8String(utf8);
        return utf8;
    };
    std::mt19937 rng(8859);
    std::uniform_int_distribution<int> byte(0, 255);
    int unmapped = 0;
    for (const char* name : {"iso-8859-1", "iso-8859-2", "iso-8859-5", "iso-8859-7", "iso-8859-8", "iso-8859-15",
                             "koi8-r", "koi8-u", "windows-1250", "windows-1251", "windows-1253", "windows-1255",
                             "ibm866", "macintosh"}) {
        const auto enc = Charsets::encoding(name);
        ASSERT_TRUE(enc) << name;
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const auto ours = Charsets::decode(one, *enc);
            EXPECT_EQ(ours, icuRead(one, name)) << name << " byte " << b;
            if (!ours) {
                ++unmapped;
                EXPECT_EQ(Charsets::string("a" + one + "b", name).find("\xEF\xBF\xBD"), 1u) << name << " byte " << b;
            }
        }
        for (int i = 0; i < 50; ++i) {
            std::string text(static_cast<std::size_t>(byte(rng)), '\0');
            for (auto& ch : text) ch = static_cast<char>(byte(rng) < 128 ? byte(rng) & 0x7F : byte(rng));
            EXPECT_EQ(Charsets::decode(text, *enc), icuRead(text, name)) << name;
        }
    }
    EXPECT_GT(unmapped, 0);  // some of these charsets leave bytes unmapped
}

TEST(Charsets, UndefinedWindows1252BytesBecomeC1Controls) {
    // 0x81, 0x8D, 0x8F, 0x90, 0x9D have no Windows-1252 character; they map to
    // the C1 code points of the same value, so nothing else in the text is lost.
    std::string in = "\x81\x8D\x8F\x90\x9D\xE9";
    std::string want = "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\xC3\xA9";
    EXPECT_EQ(Charsets::string(in, "windows-1252"), want);
    EXPECT_EQ(Charsets::string(in, std::nullopt), want);
    EXPECT_EQ(Charsets::fromWindows1252(in), want);
}

TEST(Charsets, LossyUTF8ReplacesMaximalSubparts) {
    EXPECT_EQ(Charsets::lossyUTF8("a\xF0\x9F\x98" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Charsets::lossyUTF8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Charsets::lossyUTF8("ok\xE2\x82\xAC"), "ok\xE2\x82\xAC");
}

TEST(EncodedWords, Decode) {
    struct Case { std::string in, out; } cases[] = {
        {"plain text", "plain text"},
        {"=?utf-8?q?caf=C3=A9?= =?utf-8?q?_au_lait?=", "caf\xC3\xA9 au lait"},
        {"=?utf-8?b?w6k?=x", "\xC3\xA9x"},
        {"Re: =?iso-8859-1?Q?Gr=FC=DFe?=", "Re: Gr\xC3\xBC\xC3\x9F" "e"},
        {"=?utf-8?q?broken", "=?utf-8?q?broken"},
        {"=?utf-8?x?abc?=", "=?utf-8?x?abc?="},
        {"=?utf-8?q?a b?=", "=?utf-8?q?a b?="},
        {"=?utf-8?q?=C3=A9?= =?iso-8859-1?q?=E9?=", "\xC3\xA9\xC3\xA9"},
        // a character split across two words in the same charset comes out whole
        {"=?utf-8?b?4oI=?= =?UTF-8?b?rA==?=", "\xE2\x82\xAC"},
        {"=?utf-8*en?q?hi?=", "hi"},
        {"a  =?utf-8?q?x?=  b", "a  x  b"},
        {"=?utf-8?q?x?=\t\r\n=?utf-8?q?y?=", "xy"},
        {"=??q?caf=E9?=", "caf\xC3\xA9"},       // empty charset: UTF-8, then Windows-1252
        {"=?koi8-r?B?8NLJ18XU?=", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"x=?", "x=?"},
    };
    for (const auto& c : cases) EXPECT_EQ(EncodedWords::decode(c.in), c.out) << c.in;
}

TEST(HeaderParams, Parse) {
    auto p = HeaderParams::parse("attachment; filename=\"a;b.txt\"");
    EXPECT_EQ(p.value, "attachment");
    EXPECT_EQ(p.params["filename"], "a;b.txt");

    p = HeaderParams::parse(" text/plain ; CHARSET=\"utf-8\" ; junk ; x = 1");
    EXPECT_EQ(p.value, "text/plain");
    EXPECT_EQ(p.params["charset"], "utf-8");
    EXPECT_EQ(p.params["x"], "1");
    EXPECT_EQ(p.params.size(), 2u);

    p = HeaderParams::parse("attachment; filename*=utf-8''%E2%82%AC.pdf");
    EXPECT_EQ(p.params["filename"], "\xE2\x82\xAC.pdf");

    p = HeaderParams::parse("attachment; filename*0*=utf-8''a%20; filename*1=b.txt");
    EXPECT_EQ(p.params["filename"], "a b.txt");
    p = HeaderParams::parse("attachment; filename*1=b.txt; filename*0*=utf-8''a%20");
    EXPECT_EQ(p.params["filename"], "a b.txt");
    p = HeaderParams::parse("a; name=old; name*0=n; name*1=ew");
    EXPECT_EQ(p.params["name"], "new");
    p = HeaderParams::parse("a; title*0*=iso-8859-1'en'caf%E9; title*1*=%E9");
    EXPECT_EQ(p.params["title"], "caf\xC3\xA9\xC3\xA9");

    p = HeaderParams::parse("x; title*=''abc");
    EXPECT_EQ(p.params["title"], "abc");
    p = HeaderParams::parse("x; title*=iso-8859-1''%E9");
    EXPECT_EQ(p.params["title"], "\xC3\xA9");

    // backslash escapes inside quotes only
    p = HeaderParams::parse(R"(x; a="q\"uo\\te"; b=c\d)");
    EXPECT_EQ(p.params["a"], "q\"uo\\te");
    EXPECT_EQ(p.params["b"], "c\\d");
    // "*" followed by something other than a number is an ordinary name
    p = HeaderParams::parse("x; a*b=1");
    EXPECT_EQ(p.params["a*b"], "1");
    p = HeaderParams::parse("x; a=1; A=2");
    EXPECT_EQ(p.params["a"], "2");
    // quotes are stripped by whole characters: a combining mark on the closing
    // quote makes it another character, so the value stays as written
    p = HeaderParams::parse("x; a=\"abc\"\xCC\x81; b=\"\xC3\xA9\"; c=\"");
    EXPECT_EQ(p.params["a"], "\"abc\"\xCC\x81");
    EXPECT_EQ(p.params["b"], "\xC3\xA9");
    // an unterminated quote swallows the rest
    p = HeaderParams::parse("x; a=\"1; b=2");
    EXPECT_EQ(p.params["a"], "\"1; b=2");
}

TEST(HeaderParams, ManySectionsStayLinear) {
    std::string v = "attachment";
    for (int i = 0; i < 100000; ++i) v += "; n" + std::to_string(i) + "*0=x";
    auto p = HeaderParams::parse(v);
    EXPECT_EQ(p.params.size(), 100000u);
    EXPECT_EQ(p.params["n99999"], "x");
}

TEST(HeaderParams, Decode2231Bytes) {
    auto b = HeaderParams::decode2231Bytes("utf-8'en'%41b", true);
    EXPECT_EQ(b.data, "Ab");
    EXPECT_EQ(b.charset, "utf-8");
    b = HeaderParams::decode2231Bytes("''x", true);
    EXPECT_EQ(b.data, "x");
    EXPECT_FALSE(b.charset);
    b = HeaderParams::decode2231Bytes("a'b", true);
    EXPECT_EQ(b.data, "a'b");
    b = HeaderParams::decode2231Bytes("utf-8'en'x", false);
    EXPECT_EQ(b.data, "utf-8'en'x");
    b = HeaderParams::decode2231Bytes("a'b'c'd", true);
    EXPECT_EQ(b.charset, "a");
    EXPECT_EQ(b.data, "c'd");
}
