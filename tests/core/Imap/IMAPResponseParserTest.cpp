#include "Imap/IMAPResponseParser.h"
#include "Imap/IMAPResponseReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace bx;

namespace bx {
void PrintTo(const IMAPValue& v, std::ostream* os) {
    switch (v.kind()) {
    case IMAPValue::Kind::atom: *os << "atom(" << *v.atomText() << ")"; break;
    case IMAPValue::Kind::string: *os << "string(" << testing::PrintToString(*v.text()) << ")"; break;
    case IMAPValue::Kind::nil: *os << "NIL"; break;
    case IMAPValue::Kind::list:
        *os << "(";
        for (const auto& i : v.items()) { PrintTo(i, os); *os << " "; }
        *os << ")";
    }
}
}  // namespace bx

namespace {

IMAPValue A(const char* s) { return IMAPValue::atom(s); }
IMAPValue S(std::string s) { return IMAPValue::string(std::string_view(s)); }
IMAPValue L(std::vector<IMAPValue> v) { return IMAPValue::list(std::move(v)); }
IMAPValue N() { return IMAPValue::nil(); }

std::string parseError(const std::string& raw) {
    try {
        IMAPResponseParser::parse(raw);
    } catch (const IMAPParseError& e) {
        EXPECT_STREQ(e.what(), e.description().c_str());
        return e.description();
    }
    return "(no error)";
}

std::string str(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

}  // namespace

// ---------------------------------------------------------------------------
// Parser: status lines

struct StatusCase {
    const char* raw;
    IMAPResponse expected;
};

TEST(IMAPResponseParser, StatusResponses) {
    const StatusCase cases[] = {
        {"B0003 OK [READ-WRITE] SELECT completed", IMAPResponse::tagged("B0003", IMAPStatus::ok, "READ-WRITE", "SELECT completed")},
        {"b0003 ok done", IMAPResponse::tagged("b0003", IMAPStatus::ok, std::nullopt, "done")},
        {"B0004 NO", IMAPResponse::tagged("B0004", IMAPStatus::no, std::nullopt, "")},
        {"B0004 NO [ALERT]", IMAPResponse::tagged("B0004", IMAPStatus::no, "ALERT", "")},
        {"A1 BAD  [X]   spaced  text ", IMAPResponse::tagged("A1", IMAPStatus::bad, "X", "spaced  text ")},
        {"A1 OK [unclosed code", IMAPResponse::tagged("A1", IMAPStatus::ok, "unclosed code", "")},
        {"A1 OK [BADCHARSET (a [b] c)] x", IMAPResponse::tagged("A1", IMAPStatus::ok, "BADCHARSET (a [b] c)", "x")},
        {"A1 OK text [not a code]", IMAPResponse::tagged("A1", IMAPStatus::ok, std::nullopt, "text [not a code]")},
        {"* OK [CAPABILITY IMAP4rev1 UIDPLUS] ready",
         IMAPResponse::untaggedStatus(IMAPStatus::ok, "CAPABILITY IMAP4rev1 UIDPLUS", "ready")},
        {"* OK [UIDVALIDITY 385] UIDs valid", IMAPResponse::untaggedStatus(IMAPStatus::ok, "UIDVALIDITY 385", "UIDs valid")},
        {"* bye going away", IMAPResponse::untaggedStatus(IMAPStatus::bye, std::nullopt, "going away")},
        {"* PREAUTH", IMAPResponse::untaggedStatus(IMAPStatus::preauth, std::nullopt, "")},
        {"*   NO   later", IMAPResponse::untaggedStatus(IMAPStatus::no, std::nullopt, "later")},
        {"+ go ahead", IMAPResponse::continuation("go ahead")},
        {"+", IMAPResponse::continuation("")},
        {"+   spaced", IMAPResponse::continuation("spaced")},
        {"+idling", IMAPResponse::continuation("idling")},
        {"+ bytes \xff here", IMAPResponse::continuation("bytes \xEF\xBF\xBD here")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(IMAPResponseParser::parse(std::string(c.raw)), c.expected);
    }
}

TEST(IMAPResponseParser, UntaggedValues) {
    const StatusCase cases[] = {
        {"* 5 EXISTS", IMAPResponse::untagged({A("5"), A("EXISTS")})},
        {"*", IMAPResponse::untagged({})},
        {"*   ", IMAPResponse::untagged({})},
        {"* OKAY then", IMAPResponse::untagged({A("OKAY"), A("then")})},
        {R"(* LIST (\HasNoChildren) "/" INBOX)", IMAPResponse::untagged({A("LIST"), L({A("\\HasNoChildren")}), S("/"), A("INBOX")})},
        {"* LIST () nil INBOX", IMAPResponse::untagged({A("LIST"), L({}), N(), A("INBOX")})},
        {"* X NiL nIL NILS", IMAPResponse::untagged({A("X"), N(), N(), A("NILS")})},
        // Only ASCII letters fold: a dotless i or an eszett never makes NIL.
        {"* X n\u0131l NIL\u00DF", IMAPResponse::untagged({A("X"), A("n\u0131l"), A("NIL\u00DF")})},
        {"* 1 FETCH (BODY[HEADER.FIELDS (FROM TO)] {3}\r\nabc)",
         IMAPResponse::untagged({A("1"), A("FETCH"), L({A("BODY[HEADER.FIELDS (FROM TO)]"), S("abc")})})},
        {"* 1 FETCH (BODY[] {3+}\nabc FLAGS (\\Seen))",
         IMAPResponse::untagged({A("1"), A("FETCH"), L({A("BODY[]"), S("abc"), A("FLAGS"), L({A("\\Seen")})})})},
        {"* X {0}\r\n", IMAPResponse::untagged({A("X"), S("")})},
        {"* X (((a)))", IMAPResponse::untagged({A("X"), L({L({L({A("a")})})})})},
        {"* X a\tb", IMAPResponse::untagged({A("X"), A("a\tb")})},
        {"* X a(b)c", IMAPResponse::untagged({A("X"), A("a"), L({A("b")}), A("c")})},
        // A stray "]" makes the bracket count negative: the rest belongs to the atom.
        {"* X a] b c", IMAPResponse::untagged({A("X"), A("a] b c")})},
        {"* X BODY[unclosed (x)", IMAPResponse::untagged({A("X"), A("BODY[unclosed (x)")})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(IMAPResponseParser::parse(std::string(c.raw)), c.expected);
    }
}

TEST(IMAPResponseParser, QuotedStringsKeepRawBytes) {
    // "a\\b\"c" on the wire: a, backslash, b, double quote, c.
    auto r = IMAPResponseParser::parse(std::string(R"(* X "a\\b\"c" "\q\"" "" "caf)" "\xC3\xA9" "\" \"\xff\""));
    ASSERT_EQ(r.values.size(), 6u);
    EXPECT_EQ(r.values[1], S("a\\b\"c"));
    EXPECT_EQ(r.values[2], S("q\""));  // an escape before any other byte keeps the byte
    EXPECT_EQ(r.values[3], S(""));
    EXPECT_EQ(r.values[4].text(), "caf\xC3\xA9");
    EXPECT_EQ(r.values[5], S("\xff"));  // bytes stay raw
}

// The offset is where reading gave up, counted from the response's first byte.
TEST(IMAPResponseParser, Errors) {
    struct Case {
        std::string raw;
        std::string description;
        std::size_t offset;
    };
    const Case cases[] = {
        {"", "empty response", 0},
        {" A1 OK", "empty response", 0},
        {"B0001 FOO bar", "bad tagged response: B0001 FOO bar", 6},
        {"B0001", "bad tagged response: B0001", 5},
        {"B0001 ", "bad tagged response: B0001 ", 6},
        {"A1 " + std::string(100, 'x'), "bad tagged response: A1 " + std::string(77, 'x'), 3},
        {"* 1 FETCH (FLAGS (\\Seen)", "unterminated list", 24},
        {"* X (", "unterminated list", 5},
        {"* X \"abc", "unterminated string", 8},
        {"* X \"abc\\", "unterminated string", 9},
        {"* FLAGS foo)", "unexpected character )", 11},
        {"* X \r", "unexpected character \r", 4},
        {"* X {", "bad literal", 5},
        {"* X {}", "bad literal", 5},
        {"* X {abc}", "bad literal", 5},
        {"* X {99999999999999999999}\r\n", "bad literal", 25},
        {"* X {12", "bad literal close", 7},
        {"* X {12+x", "bad literal close", 8},
        {"* 1 FETCH (X {5} Y)", "short literal", 16},
        {"* X {9223372036854775807}\r\nabc", "short literal", 27},
        {"* X {3}\r\nab", "short literal", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(parseError(c.raw), c.description);
        try {
            IMAPResponseParser::parse(c.raw);
        } catch (const IMAPParseError& e) {
            EXPECT_EQ(e.offset(), c.offset);
        }
    }
}

TEST(IMAPResponseParser, ListDepthIsBounded) {
    auto nested = [](int depth) { return "* X " + std::string(std::size_t(depth), '(') + "a" + std::string(std::size_t(depth), ')'); };
    EXPECT_NO_THROW(IMAPResponseParser::parse(nested(IMAPResponseParser::maxListDepth)));
    EXPECT_EQ(parseError(nested(IMAPResponseParser::maxListDepth + 1)), "lists nested too deeply");
    // Far deeper than any stack would survive without the bound.
    EXPECT_EQ(parseError("* X " + std::string(1'000'000, '(')), "lists nested too deeply");
}

TEST(IMAPResponseParser, Tokens) {
    EXPECT_EQ(IMAPResponseParser::tokens(R"(a "b c" (d))"), (std::vector<IMAPValue>{A("a"), S("b c"), L({A("d")})}));
    EXPECT_TRUE(IMAPResponseParser::tokens("").empty());
    EXPECT_TRUE(IMAPResponseParser::tokens("   ").empty());
    EXPECT_THROW(IMAPResponseParser::tokens("(a"), IMAPParseError);
}

TEST(IMAPValue, Accessors) {
    EXPECT_EQ(A("FLAGS").text(), "FLAGS");
    EXPECT_EQ(A("x").data(), (IMAPValue::Bytes{'x'}));
    EXPECT_EQ(S("caf\xC3\xA9").text(), "caf\xC3\xA9");
    EXPECT_EQ(S("caf\xE9").text(), "caf\xC3\xA9");  // not UTF-8: read as Latin 1
    EXPECT_EQ(S("a\0b").data()->size(), 1u);       // (string literal stops at NUL)
    EXPECT_EQ(IMAPValue::string(IMAPValue::Bytes{'a', 0, 'b'}).data(), (IMAPValue::Bytes{'a', 0, 'b'}));
    EXPECT_FALSE(L({A("a")}).text());
    EXPECT_FALSE(L({A("a")}).data());
    EXPECT_FALSE(N().text());
    EXPECT_FALSE(N().data());
    EXPECT_EQ(L({A("a"), N()}).items().size(), 2u);
    EXPECT_TRUE(A("a").items().empty());
    EXPECT_TRUE(S("a").items().empty());
    // Same text, different kinds: not equal.
    EXPECT_NE(A("a"), S("a"));
    EXPECT_NE(L({A("a")}), L({S("a")}));
    EXPECT_EQ(L({A("a"), L({N()})}), L({A("a"), L({N()})}));
}

// ---------------------------------------------------------------------------
// Reader

TEST(IMAPResponseReader, CutsLinesWithAnyLineEnd) {
    IMAPResponseReader r;
    r.append(std::string_view("* 1 EXISTS\r\n* 2 EXISTS\nA1 OK done\r\n\r\npartial"));
    EXPECT_EQ(str(*r.nextRawResponse()), "* 1 EXISTS");
    EXPECT_EQ(str(*r.nextRawResponse()), "* 2 EXISTS");
    EXPECT_EQ(str(*r.nextRawResponse()), "A1 OK done");
    EXPECT_EQ(str(*r.nextRawResponse()), "");
    EXPECT_FALSE(r.nextRawResponse());
    EXPECT_EQ(r.bufferedByteCount(), 7u);
    r.append(std::string_view("\r"));
    EXPECT_FALSE(r.nextRawResponse());
    r.append(std::string_view("\n"));
    EXPECT_EQ(str(*r.nextRawResponse()), "partial");
    EXPECT_EQ(r.bufferedByteCount(), 0u);
    EXPECT_FALSE(r.nextRawResponse());
    // A lone LF is an empty line; a CR without LF is content.
    r.append(std::string_view("\nx\ry\n"));
    EXPECT_EQ(str(*r.nextRawResponse()), "");
    EXPECT_EQ(str(*r.nextRawResponse()), "x\ry");
}

TEST(IMAPResponseReader, LiteralArrivingInPieces) {
    IMAPResponseReader r;
    r.append(std::string_view("* 1 FETCH (BODY[] {5}\r\nab"));
    EXPECT_FALSE(r.nextRawResponse());
    r.append(std::string_view("cde"));
    EXPECT_FALSE(r.nextRawResponse());  // the literal is complete, its line is not
    EXPECT_EQ(r.bufferedByteCount(), 28u);
    r.append(std::string_view(")\r\n"));
    auto resp = r.next();
    ASSERT_TRUE(resp);
    EXPECT_EQ(*resp, IMAPResponse::untagged({A("1"), A("FETCH"), L({A("BODY[]"), S("abcde")})}));
    EXPECT_EQ(r.bufferedByteCount(), 0u);
}

TEST(IMAPResponseReader, CutsEveryWayTheBytesArrive) {
    // A stream whose literals hold line ends, braces and parentheses; fed in
    // every chunk size, the same responses must come out.
    const std::string stream =
        "* 1 FETCH (UID 7 BODY[] {11}\r\nab\r\n{3}\r\n)( FLAGS ())\r\n"
        "* 2 FETCH (BODY[HEADER] {4+}\nx\ny\n BODY[TEXT] {0}\r\n)\r\n"
        "* 3 FETCH (X {2}\r\n}\n)\n"
        "* LIST () \"/\" {5}\r\nIN}OX\r\n"
        "A7 OK {7} done\r\n";
    const std::vector<std::string> expected = {
        "* 1 FETCH (UID 7 BODY[] {11}\r\nab\r\n{3}\r\n)( FLAGS ())",
        "* 2 FETCH (BODY[HEADER] {4+}\nx\ny\n BODY[TEXT] {0}\r\n)",
        "* 3 FETCH (X {2}\r\n}\n)",
        "* LIST () \"/\" {5}\r\nIN}OX",
        "A7 OK {7} done",
    };
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        IMAPResponseReader r;
        std::vector<std::string> got;
        for (std::size_t i = 0; i < stream.size(); i += chunk) {
            r.append(std::string_view(stream).substr(i, chunk));
            while (auto raw = r.nextRawResponse()) got.push_back(str(*raw));
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(r.bufferedByteCount(), 0u);
    }
    IMAPResponseReader r;
    r.append(stream);
    auto first = r.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->values[2].items()[3], S("ab\r\n{3}\r\n)("));
    auto second = r.next();
    EXPECT_EQ(second->values[2].items()[1], S("x\ny\n"));
    EXPECT_EQ(second->values[2].items()[3], S(""));
    r.next();
    EXPECT_EQ(r.next()->values[3], S("IN}OX"));
    EXPECT_EQ(*r.next(), IMAPResponse::tagged("A7", IMAPStatus::ok, std::nullopt, "{7} done"));
}

TEST(IMAPResponseReader, LiteralMarkers) {
    // Each text is one line followed by LF; only a marker at the very end of
    // the content announces a literal (the reader then waits for its bytes).
    const std::pair<const char*, bool> cases[] = {
        {"* X {5}", true},    {"* X {5+}", true},   {"* X {5}\r", true}, {"{5}", true},
        {"* X {5} ", false},  {"* X {}", false},    {"* X {+}", false},  {"* X 5}", false},
        {"5}", false},        {"}", false},         {"* X {5x}", false}, {"* X {-5}", false},
        {"* X {99999999999999999999}", false},  // beyond 64 bits: no marker
        {"* X {5++}", false},
    };
    for (const auto& [line, announces] : cases) {
        SCOPED_TRACE(line);
        IMAPResponseReader r;
        r.append(std::string(line) + "\n");
        EXPECT_EQ(!r.nextRawResponse().has_value(), announces);
    }
}

TEST(IMAPResponseReader, ParseErrorLeavesReaderOnNextResponse) {
    IMAPResponseReader r;
    r.append(std::string_view("* 1 FETCH (X {5} Y)\r\n* FLAGS foo)\r\nA1 OK fine\r\n"));
    try {
        r.next();
        FAIL() << "no error";
    } catch (const IMAPParseError& e) {
        EXPECT_EQ(e.description(), "short literal");
    }
    try {
        r.next();
        FAIL() << "no error";
    } catch (const IMAPParseError& e) {
        EXPECT_EQ(e.offset(), 11u);  // in this response, not in the stream
    }
    EXPECT_EQ(*r.next(), IMAPResponse::tagged("A1", IMAPStatus::ok, std::nullopt, "fine"));
    EXPECT_FALSE(r.next());
}

TEST(IMAPResponseReader, Compaction) {
    constexpr std::size_t MiB = 1 << 20;
    struct Case {
        std::size_t firstLineLength;  // including its CR LF
        std::size_t expectedStart;
    };
    // The consumed prefix is dropped only once it exceeds 1 MiB.
    const Case cases[] = {{MiB, MiB}, {MiB + 1, 0}, {100, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstLineLength);
        IMAPResponseReader r;
        std::string first = "* X " + std::string(c.firstLineLength - 6, 'a') + "\r\n";
        r.append(first + "* Y");
        ASSERT_TRUE(r.nextRawResponse());
        EXPECT_EQ(r.startIndex(), c.expectedStart);
        EXPECT_EQ(r.bufferedByteCount(), 3u);
        r.append(std::string_view("\r\n"));
        EXPECT_EQ(str(*r.nextRawResponse()), "* Y");
        // Cutting the last buffered response empties the buffer.
        EXPECT_EQ(r.bufferLength(), 0u);
        EXPECT_EQ(r.startIndex(), 0u);
    }
    // A backlog larger than the consumed prefix is not shifted yet.
    IMAPResponseReader r;
    r.append("* X " + std::string(MiB, 'a') + "\r\n" + std::string(2 * MiB, 'b'));
    ASSERT_TRUE(r.nextRawResponse());
    EXPECT_EQ(r.startIndex(), MiB + 6);
    r.append(std::string_view("\r\n"));
    EXPECT_EQ(r.nextRawResponse()->size(), 2 * MiB);
    EXPECT_EQ(r.bufferLength(), 0u);
}

TEST(IMAPResponseReader, LimitsAreProtocolErrors) {
    {
        IMAPResponseReader r;
        r.append(std::string_view("* 1 FETCH (BODY[] {9223372036854775807}\r\nabc"));
        EXPECT_THROW(r.nextRawResponse(), IMAPParseError);
        EXPECT_THROW(r.next(), IMAPParseError);  // stays failed; nothing was consumed
        EXPECT_EQ(r.bufferedByteCount(), 44u);
    }
    {
        IMAPResponseReader r;
        r.append("* X {" + std::to_string(IMAPResponseReader::maxLiteralLength + 1) + "}\r\n");
        try {
            r.nextRawResponse();
            FAIL() << "no error";
        } catch (const IMAPParseError& e) {
            EXPECT_EQ(e.description(), "literal too large: 536870913 bytes");
            EXPECT_EQ(e.offset(), 16u);  // the announcing line's LF
        }
    }
    {
        // At the cap the reader just waits for the bytes; it allocates nothing up front.
        IMAPResponseReader r;
        r.append("* X {" + std::to_string(IMAPResponseReader::maxLiteralLength) + "}\r\nab");
        EXPECT_FALSE(r.nextRawResponse());
        EXPECT_LT(r.bufferLength(), 100u);
    }
    {
        // A line that never ends.
        IMAPResponseReader r;
        const std::string chunk(1 << 20, 'a');
        bool threw = false;
        for (std::size_t i = 0; i < 70 && !threw; ++i) {
            r.append(chunk);
            try {
                r.nextRawResponse();
            } catch (const IMAPParseError& e) {
                EXPECT_EQ(e.description(), "response line too long");
                EXPECT_EQ(e.offset(), IMAPResponseReader::maxLineLength);
                threw = true;
            }
        }
        EXPECT_TRUE(threw);
    }
}

TEST(IMAPResponseReader, ManyLiteralsInOneResponseArriveByteByByte) {
    // The reader resumes where its last scan stopped; it must still find
    // every literal and the end of the response.
    std::string stream = "* 1 FETCH (";
    for (int i = 0; i < 2000; ++i) stream += "X {3}\r\nabc ";
    stream += ")\r\n";
    IMAPResponseReader r;
    int responses = 0;
    for (char c : stream) {
        r.append(std::string_view(&c, 1));
        while (auto resp = r.next()) {
            ++responses;
            EXPECT_EQ(resp->values[2].items().size(), 4000u);
        }
    }
    EXPECT_EQ(responses, 1);
}
