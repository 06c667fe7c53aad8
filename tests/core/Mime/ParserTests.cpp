#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Mime/MIMEParser.h"

using namespace bx;

TEST(MIMEHeaders, LookupIgnoresCaseAndFirstWins) {
    MIMEHeaders h{{{"content-type", "Text/HTML"}, {"Subject", "one"}, {"SUBJECT", "two"}, {"Stra\xC3\x9F" "e", "x"}}};
    EXPECT_EQ(h["Content-Type"], "Text/HTML");
    EXPECT_EQ(h["subject"], "one");
    EXPECT_EQ(h.all("Subject"), (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(h["X-Missing"]);
    EXPECT_EQ(h["STRASSE"], "x");  // Unicode case folding, not a byte compare
}

TEST(MIMEParser, SplitHeaderBody) {
    struct Case { std::string in; std::string header; std::size_t body; } cases[] = {
        {"", "", 0},
        {"\nbody", "", 1},
        {"\r\nbody", "", 2},
        {"A: 1\n\nbody", "A: 1", 6},
        {"A: 1\r\n\r\nbody", "A: 1\r", 8},
        {"A: 1\n\r\nbody", "A: 1", 7},
        {"A: 1\r\nB: 2", "A: 1\r\nB: 2", 10},
        // the header also ends at a line that is neither a field nor a continuation
        {"A: 1\r\nText\r\n--b\r\n", "A: 1\r", 6},
        {"A: 1\nText", "A: 1", 5},
        {"Just one line\n", "", 0},
        {"Just one line", "", 0},
        {"A: 1\n\tfolded\nText\n\nmore", "A: 1\n\tfolded", 13},
        // ... unless a field follows it: a wrapped line that lost its indent
        {"A: x;\nname=y\nB: 2\n\nbody", "A: x;\nname=y\nB: 2", 19},
        {"From a@b Mon Jan  1 00:00:00 2024\nA: 1\n\nbody", "From a@b Mon Jan  1 00:00:00 2024\nA: 1", 40},
    };
    for (const auto& c : cases) {
        auto s = MIMEParser::splitHeaderBody(c.in);
        EXPECT_EQ(s.header, c.header) << c.in;
        EXPECT_EQ(s.bodyBegin, c.body) << c.in;
        EXPECT_EQ(s.bodyEnd, c.in.size());
    }
}

TEST(MIMEParser, ParseHeaders) {
    auto h = MIMEParser::parseHeaders("Subject: Hello\r\n\tWorld\r\nFrom:  a@b  \r\n  \r\nbad line\r\n cont\r\n"
                                      "Bad Name: x\r\n: empty\r\nX-A:\r\n");
    // "  " continues From with an empty piece; lines without a colon, with a
    // space in the name or with an empty name are dropped, with their continuations
    EXPECT_EQ(h.fields, (std::vector<HeaderField>{{"Subject", "Hello World"}, {"From", "a@b "}, {"X-A", ""}}));
    // "  " is not empty, so it is a (blank) continuation line
    EXPECT_EQ(MIMEParser::parseHeaders("A: 1\n \nB: 2").fields,
              (std::vector<HeaderField>{{"A", "1 "}, {"B", "2"}}));
    // blank lines do not end the block; lone CR is not a line end
    EXPECT_EQ(MIMEParser::parseHeaders("A: 1\n\nB: 2\rC: 3").fields,
              (std::vector<HeaderField>{{"A", "1"}, {"B", "2\rC: 3"}}));
    // Windows-1252 when the bytes are not UTF-8, field by field: one raw
    // Latin-1 byte does not garble the UTF-8 of the other fields
    EXPECT_EQ(MIMEParser::parseHeaders("Subject: caf\xE9").fields[0].value, "caf\xC3\xA9");
    EXPECT_EQ(MIMEParser::parseHeaders("From: J\xC3\xB6rg <j@x>\r\nSubject: Gr\xFC\xDF" "e\r\n"
                                       "\tna\xEFve\r\nTo: \xE2\x82\xAC <e@x>\r\n").fields,
              (std::vector<HeaderField>{{"From", "J\xC3\xB6rg <j@x>"},
                                        {"Subject", "Gr\xC3\xBC\xC3\x9F" "e na\xC3\xAFve"},
                                        {"To", "\xE2\x82\xAC <e@x>"}}));
}

TEST(MIMEParser, SplitMultipart) {
    using V = std::vector<std::string_view>;
    struct Case { std::string body; V parts; } cases[] = {
        {"preamble\r\n--b1\r\n\r\nA\r\n--b1--\r\nepilogue", V{"\r\nA"}},
        {"--b1\nA\n--b1\nB\n--b1--\n", V{"A", "B"}},
        {"--b1\n--b1\n--b1--", V{"", ""}},
        {"--b1\nA\n--b1 --\nignored", V{"A"}},
        {"--b1\nA\n--b1 \t\r\nB\n--b1- -", V{"A", "B"}},
        {"--b1\nA\n--b12\nB\n--b1--", V{"A\n--b12\nB"}},
        {"--b1\nA\r\n\r\n--b1--", V{"A\r\n"}},
        {"--b1\nunterminated\n", V{"unterminated\n"}},
        {"--b1\n", V{}},
        {"no delimiter", V{}},
        {"--B1\nA\n--B1--", V{}},
    };
    for (const auto& c : cases) EXPECT_EQ(MIMEParser::splitMultipart(c.body, "b1"), c.parts) << c.body;
}

TEST(MIMEParser, MessageLevelBasics) {
    auto m = MIMEParser::parse("\nFrom: a@b\n");
    EXPECT_TRUE(m.headers.fields.empty());
    EXPECT_EQ(m.textBody, "From: a@b\n");

    m = MIMEParser::parse("Subject: x\r\nX-Last: v\r\n\r\nbody");
    EXPECT_EQ(m.headers["X-Last"], "v");
    EXPECT_EQ(m.textBody, "body");

    m = MIMEParser::parse(
        "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=  \r\nFrom: \"Ann\" <ann@x>\r\nTo: b@y, c@z\r\nCc: d@w\r\n"
        "Reply-To: r@x\r\nDate: Tue, 5 Mar 2024 09:15:00 +0100\r\nMessage-ID:  <id@x> \r\n\r\nHi");
    EXPECT_EQ(m.subject, "Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(m.from, (std::vector<MailAddress>{{"Ann", "ann@x"}}));
    EXPECT_EQ(m.to.size(), 2u);
    EXPECT_EQ(m.cc.size(), 1u);
    EXPECT_EQ(m.replyTo.front().email, "r@x");
    ASSERT_TRUE(m.date);
    EXPECT_EQ(m.messageID, "id@x");
    EXPECT_EQ(m.textBody, "Hi");
    EXPECT_FALSE(m.htmlBody);

    m = MIMEParser::parse("Date: nonsense\n\n");
    EXPECT_FALSE(m.date);
    EXPECT_EQ(m.subject, "");
    EXPECT_FALSE(m.messageID);
    EXPECT_EQ(m.textBody, "");  // an empty text/plain body is still a body

    m = MIMEParser::parse("");
    EXPECT_TRUE(m.headers.fields.empty());
    EXPECT_EQ(m.textBody, "");
}

// Mail whose body follows the fields without a blank line keeps its parts.
TEST(MIMEParser, BodyRightAfterTheFields) {
    auto m = MIMEParser::parse(
        "From: a@x\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n"
        "This is a multi-part message in MIME format.\r\n--b\r\nContent-Type: text/plain\r\n\r\nHello\r\n"
        "--b\r\nContent-Type: application/pdf;\r\nname=\"r.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "JVBERg==\r\n--b--\r\n");
    EXPECT_EQ(m.headers["From"], "a@x");
    EXPECT_EQ(m.textBody, "Hello");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].mimeType, "application/pdf");
    EXPECT_EQ(m.attachments[0].data, "%PDF");

    m = MIMEParser::parse("Just a note, no header.\nSecond line.\n");
    EXPECT_TRUE(m.headers.fields.empty());
    EXPECT_EQ(m.textBody, "Just a note, no header.\nSecond line.\n");
}

TEST(MIMEParser, ContentTypeFallbacks) {
    struct Case { std::string ct; std::string mime; bool keepsParams; } cases[] = {
        {"text", "text/plain", false},
        {"TEXT/HTML; charset=utf-8", "text/html", true},
        {"/plain", "text/plain", false},
        {"text/", "text/plain", false},
        {" / x", "text/plain", false},
        {"image/ png ", "image/png", true},
        {"//a/b", "a/b", true},
    };
    for (const auto& c : cases) {
        auto p = MIMEParser::parsePart("Content-Type: " + c.ct + "\n\nx", 0, ContentType::defaultText());
        EXPECT_EQ(p.contentType.mimeType(), c.mime) << c.ct;
        if (!c.keepsParams) {
            EXPECT_EQ(p.contentType.params, ContentType::defaultText().params) << c.ct;
        }
    }
}

TEST(MIMEParser, MultipartChildWithoutBlankLine) {
    const std::string head = "Content-Type: multipart/mixed; boundary=b1\r\n\r\n";
    auto m = MIMEParser::parse(head + "preamble\r\n--b1\r\n\r\nA\r\n--b1--\r\nepilogue");
    ASSERT_EQ(m.root.children.size(), 1u);
    EXPECT_TRUE(m.root.children[0].headers.fields.empty());
    EXPECT_EQ(m.root.children[0].contentType, ContentType::defaultText());
    EXPECT_EQ(m.root.children[0].body, "A");
    EXPECT_TRUE(m.root.body.empty());
    EXPECT_EQ(m.textBody, "A");

    // a child that starts with text rather than fields is all body
    m = MIMEParser::parse(head + "preamble\r\n--b1\r\nA\r\n--b1--\r\n");
    ASSERT_EQ(m.root.children.size(), 1u);
    EXPECT_TRUE(m.root.children[0].headers.fields.empty());
    EXPECT_EQ(m.root.children[0].body, "A");
    EXPECT_EQ(m.textBody, "A");

    m = MIMEParser::parse(head + "--b1\r\n\r\nA\r\n--b1 --\r\n--b1\r\n\r\nB");
    EXPECT_EQ(m.root.children.size(), 1u);

    // boundary never found: content is lost; no boundary: stays whole
    m = MIMEParser::parse(head + "nothing here");
    EXPECT_TRUE(m.root.children.empty());
    EXPECT_TRUE(m.root.body.empty());
    EXPECT_FALSE(m.textBody);
    m = MIMEParser::parse("Content-Type: multipart/mixed\n\nraw");
    EXPECT_EQ(m.root.body, "raw");
    EXPECT_FALSE(m.textBody);
    EXPECT_TRUE(m.attachments.empty());
}

TEST(MIMEParser, DigestAndAlternative) {
    auto m = MIMEParser::parse(
        "Content-Type: multipart/digest; boundary=d\n\n--d\n\nSubject: one\n\nx\n--d\n\nSubject: two\n\ny\n--d--\n");
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(m.attachments[0].filename, "attachment-1.eml");
    EXPECT_EQ(m.attachments[1].filename, "attachment-2.eml");
    EXPECT_EQ(m.attachments[1].mimeType, "message/rfc822");
    EXPECT_EQ(m.attachments[1].data, "Subject: two\n\ny");

    m = MIMEParser::parse(
        "Content-Type: multipart/alternative; boundary=a\n\n"
        "--a\nContent-Type: text/plain\n\nplain\n"
        "--a\nContent-Type: text/html\n\n<p>one</p>\n"
        "--a\nContent-Type: text/html\n\n<p>two</p>\n--a--\n");
    EXPECT_EQ(m.textBody, "plain");
    EXPECT_EQ(m.htmlBody, "<p>two</p>");

    // attachments inside an alternative count from 1 there; ids stay unique
    m = MIMEParser::parse(
        "Content-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: application/pdf\n\n%PDF\n"
        "--m\nContent-Type: multipart/alternative; boundary=a\n\n"
        "--a\nContent-Type: text/plain\n\nt1\n"
        "--a\nContent-Type: text/plain\n\nt2\n"
        "--a\nContent-Type: image/png\n\nPNG\n--a--\n"
        "--m\nContent-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\ncaf=E9\n"
        "--m--\n");
    EXPECT_EQ(m.textBody, "t1\n\ncaf\xC3\xA9");
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(m.attachments[0].filename, "attachment-1.pdf");
    EXPECT_EQ(m.attachments[1].filename, "attachment-1.png");
    EXPECT_EQ(m.attachments[0].id, 0);
    EXPECT_EQ(m.attachments[1].id, 1);
}

TEST(MIMEParser, LeafClassificationAndAttachmentFields) {
    auto m = MIMEParser::parse(
        "Content-Type: multipart/related; boundary=r\n\n"
        "--r\nContent-Type: text/html\n\n<img src=\"cid:logo1\">\n"
        "--r\nContent-Type: image/png\nContent-ID: <logo1>\nContent-Transfer-Encoding:  Base64 \n\nUE5H\n"
        "--r\nContent-Type: text/plain\nContent-Disposition: attachment; filename=notes.txt\n\nnotes\n"
        "--r\nContent-Type: text/plain; name=\"=?utf-8?q?r=C3=A9sum=C3=A9.txt?=\"\n\nbody text\n"
        "--r\nContent-Type: application/x-thing\nContent-Disposition: inline\n\nzz\n"
        "--r\nContent-Type: application/pdf; name=a.pdf\nContent-Disposition: attachment; filename=\"\"\n\n%PDF\n"
        "--r\nContent-Type: text/enriched\n\n<bold>rich</bold>\n"
        "--r\nContent-Type: text/calendar\nContent-Transfer-Encoding: x-uuencode\n\nBEGIN\n--r--\n");
    ASSERT_EQ(m.attachments.size(), 5u);
    const auto& img = m.attachments[0];
    EXPECT_EQ(img.filename, "attachment-1.png");
    EXPECT_EQ(img.data, "PNG");
    EXPECT_EQ(img.contentID, "logo1");
    EXPECT_TRUE(img.isInline);
    EXPECT_EQ(m.attachments[1].filename, "notes.txt");
    EXPECT_FALSE(m.attachments[1].isInline);
    EXPECT_EQ(m.attachments[2].filename, "attachment-3");
    EXPECT_TRUE(m.attachments[2].isInline);
    EXPECT_EQ(m.attachments[3].filename, "a.pdf");
    EXPECT_EQ(m.attachments[4].filename, "attachment-5.ics");
    EXPECT_EQ(m.attachments[4].data, "BEGIN");
    EXPECT_EQ(m.textBody, "body text\n\n<bold>rich</bold>");
    // the inline image is shown in the HTML, so it is not a file attachment
    auto files = m.fileAttachments();
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].filename, "notes.txt");
    // a text part with a name is still a body; its filename is decoded
    EXPECT_EQ(m.root.children[3].filename(), "r\xC3\xA9sum\xC3\xA9.txt");

    ParsedMessage noHTML = m;
    noHTML.htmlBody.reset();
    EXPECT_EQ(noHTML.fileAttachments().size(), 5u);
    EXPECT_EQ(noHTML.fileAttachmentCount(), 5u);
    EXPECT_EQ(m.fileAttachmentCount(), files.size());
}

// Indexing parses with attachment bodies left encoded: everything else it
// reads (names, kinds, inline parts shown by the HTML, bodies) must be what
// a full parse gives.
TEST(MIMEParser, AttachmentBodiesLeftEncoded) {
    const std::string raw =
        "Subject: report\nContent-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: multipart/related; boundary=r\n\n"
        "--r\nContent-Type: text/html\n\n<p>hi</p><img src=\"cid:logo1\">\n"
        "--r\nContent-Type: image/png\nContent-ID: <logo1>\nContent-Transfer-Encoding: base64\n\nUE5H\n--r--\n"
        "--m\nContent-Type: application/pdf; name=\"r.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERi0x\n"
        "--m\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\naGVsbG8=\n"
        "--m\nContent-Type: message/rfc822\n\nSubject: inner\n\nx\n--m--\n";
    const ParsedMessage full = MIMEParser::parse(raw);
    const ParsedMessage lean = MIMEParser::parse(raw, MIMEParser::AttachmentBodies::encoded);
    ASSERT_EQ(full.attachments.size(), 3u);
    EXPECT_EQ(full.attachments[1].data, "%PDF-1");

    ASSERT_EQ(lean.attachments.size(), full.attachments.size());
    for (size_t i = 0; i < full.attachments.size(); ++i) {
        MailAttachment expected = full.attachments[i];
        expected.data.clear();
        EXPECT_EQ(lean.attachments[i], expected) << i;
    }
    EXPECT_EQ(lean.fileAttachmentCount(), 2u);
    EXPECT_EQ(lean.textBody, "hello");
    EXPECT_EQ(lean.htmlBody, full.htmlBody);
    EXPECT_EQ(lean.subject, "report");
    EXPECT_EQ(lean.root, full.root);
    EXPECT_EQ(lean.root.children[1].body, "JVBERi0x");
}

TEST(ParsedMessage, PlainTextFallsBackToHTML) {
    ParsedMessage m;
    EXPECT_EQ(m.plainText(), "");
    m.textBody = "\n\n \n";
    m.htmlBody = "<p>Hi</p>";
    EXPECT_EQ(m.plainText(), "Hi");
    m.textBody = " text ";
    EXPECT_EQ(m.plainText(), " text ");
}

TEST(MIMEParser, NestingDepthLimit) {
    std::string msg;
    for (int i = 0; i < 50; ++i)
        msg += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
    msg += "Content-Type: text/plain\n\ndeep\n";
    auto m = MIMEParser::parse(msg);
    const MIMEPart* p = &m.root;
    int depth = 0;
    while (!p->children.empty()) {
        p = &p->children[0];
        ++depth;
    }
    EXPECT_EQ(depth, 40);
    EXPECT_EQ(p->contentType.type, "multipart");
    EXPECT_NE(p->body.find("deep"), std::string::npos);
    EXPECT_FALSE(m.textBody);
    EXPECT_TRUE(m.attachments.empty());
}

TEST(MIMEParser, LooksValidAndHeadersPrefix) {
    EXPECT_FALSE(MIMEParser::looksValid(""));
    EXPECT_FALSE(MIMEParser::looksValid(std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11)));
    EXPECT_TRUE(MIMEParser::looksValid("Received: from x\nReceived: from y\n\n"));
    EXPECT_TRUE(MIMEParser::looksValid("MESSAGE-ID: <a>\n"));
    EXPECT_FALSE(MIMEParser::looksValid("X-Other: 1\n\nFrom: a@b\n"));
    // the header block is cut at 262144 bytes
    std::string big = "X-Pad: " + std::string(300000, 'a') + "\nFrom: a@b\n\n";
    EXPECT_FALSE(MIMEParser::looksValid(big));
    auto h = MIMEParser::headers(big);
    ASSERT_EQ(h.fields.size(), 1u);
    EXPECT_EQ(h.fields[0].value.size(), 262144u - 7);
}

TEST(MIMEParser, PathologicalInputsFinish) {
    // No timing is asserted; a quadratic path would run into ctest's timeout.
    std::string colons = "Subject: " + std::string(100000, ':') + "\n" + std::string(100000, ':') + "\n\nx";
    EXPECT_EQ(MIMEParser::parse(colons).subject.size(), 100000u);

    std::string longLine = "Content-Type: multipart/mixed; boundary=z\n\n--z\n\n" + std::string(50u << 20, 'x');
    auto m = MIMEParser::parse(longLine);
    ASSERT_TRUE(m.textBody);
    EXPECT_EQ(m.textBody->size(), 50u << 20);

    std::string manyDelims = "Content-Type: multipart/mixed; boundary=z\n\n";
    for (int i = 0; i < 20000; ++i) manyDelims += "--z\n";
    EXPECT_EQ(MIMEParser::parse(manyDelims).root.children.size(), 19999u);

    std::string words = "Subject: ";
    for (int i = 0; i < 100000; ++i) words += "=?a?q?x";
    words += " ?=\n\n";
    EXPECT_FALSE(MIMEParser::parse(words).subject.empty());

    std::string addrs = "To: ";
    for (int i = 0; i < 100000; ++i) addrs += "<(\"";
    EXPECT_NO_FATAL_FAILURE(MIMEParser::parse(addrs + "\n\n"));
}

TEST(MIMEParser, ConcurrentParsesAgree) {
    // Converters, date formatters and break iterators are cached per thread;
    // parallel parses must give the same results as a single one.
    const std::string msg =
        "Subject: =?koi8-r?B?8NLJ18XU?= =?utf-8?q?caf=C3=A9?=\r\nFrom: \"Doe, J\" <j@x>\r\n"
        "Date: Tue, 5 Mar 2024 09:15:00 +0100\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=shift_jis\r\n\r\n\x82\xA0\r\n"
        "--b\r\nContent-Type: text/html; charset=iso-8859-2\r\n\r\n<p>\xB1</p>\r\n"
        "--b\r\nContent-Type: application/pdf; name*=iso-8859-1''%E9.pdf\r\n\r\n%PDF\r\n--b--\r\n";
    const ParsedMessage want = MIMEParser::parse(msg);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                ParsedMessage m = MIMEParser::parse(msg);
                if (m.subject != want.subject || m.textBody != want.textBody || m.htmlBody != want.htmlBody ||
                    m.date != want.date || m.attachments != want.attachments || m.from != want.from)
                    ++mismatches;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(want.textBody, "\xE3\x81\x82");
    EXPECT_EQ(want.attachments.at(0).filename, "\xC3\xA9.pdf");
}
