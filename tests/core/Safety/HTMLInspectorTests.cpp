#include <gtest/gtest.h>

#include <set>

#include "Safety/HTMLInspector.h"
#include "Util/Unicode.h"

using bx::HTMLInspector;
using bx::LinkWarning;
using bx::MailAttachment;

namespace {

bool tracker(const std::string& tag) { return HTMLInspector::isTracker(HTMLInspector::attributes(tag)); }

}  // namespace

TEST(HTMLInspector, Tables) {
    const auto& rows = HTMLInspector::trackerDomains();
    EXPECT_EQ(rows.size(), 44u);
    std::set<std::string_view> unique(rows.begin(), rows.end());
    EXPECT_EQ(unique.size(), rows.size());
    for (auto r : rows) EXPECT_NE(r.find('.'), std::string_view::npos) << r;
    EXPECT_EQ(HTMLInspector::displayHead().size(), 307u);
    EXPECT_EQ(HTMLInspector::plainTextHead().size(), 353u);
}

TEST(HTMLInspector, Attributes) {
    auto a = HTMLInspector::attributes("<IMG SRC=\"http://x.example/a.gif?a=1&amp;b=2\" alt='it&#39;s' hidden/>");
    EXPECT_EQ(a["src"], "http://x.example/a.gif?a=1&b=2");
    EXPECT_EQ(a["alt"], "it's");
    EXPECT_EQ(a["__bare"], "img hidden");

    // As the engine reads them: the first of duplicates wins.
    auto b = HTMLInspector::attributes("<img width=1 width=600 data-x = 'y'>");
    EXPECT_EQ(b["width"], "1");
    EXPECT_EQ(b["data-x"], "y");
    EXPECT_EQ(b["__bare"], "img");
    EXPECT_EQ(HTMLInspector::attributes("").size(), 0u);
}

TEST(HTMLInspector, TrackerRules) {
    struct Case {
        const char* tag;
        bool tracker;
    } cases[] = {
        {"<img src=\"https://cdn.shop.example/p.gif\" width=\"1\" height=\"1\">", true},
        {"<img src=\"https://cdn.shop.example/p.gif\" height=\"0\">", true},
        {"<img src=\"https://cdn.shop.example/p.gif\" width=\"2px\">", true},
        {"<img src=\"https://cdn.shop.example/hero.jpg\" width=\"100%\">", false},
        {"<img src=\"https://cdn.shop.example/hero.jpg\" width=\"600\" height=\"300\">", false},
        {"<img src=\"https://cdn.shop.example/a.gif\" style=\"display: none\">", true},
        {"<img src=\"https://cdn.shop.example/a.gif\" style=\"opacity:0.5\">", true},
        {"<img src=\"https://cdn.shop.example/a.gif\" style=\"Visibility: Hidden\">", true},
        {"<img src=\"https://cdn.shop.example/a.gif\" hidden>", true},
        {"<img src=\"https://cdn.shop.example/a.gif\" hidden=\"\">", true},
        // An ordinary host without size decides nothing: a plain remote image.
        {"<img src=\"https://cdn.shop.example/a.gif\">", false},
        {"<img src=\"https://cdn.shop.example/open/a.gif\">", false},
        // Listed tracker domains, their sub-domains and their registrable forms.
        {"<img src=\"https://list-manage.com/track/open.php?u=1\">", true},
        {"<img src=\"https://us4.list-manage.com/x.gif\">", true},
        {"<img src=\"https://u123.ct.sendgrid.net/wf/open?upn=abc\" width=\"600\">", true},
        {"<img src=\"https://u123.ct.sendgrid.net/banner.png\" width=\"600\">", false},
        {"<img src=\"HTTPS://Sailthru.COM/img.png\">", true},
        // Not http(s): never judged.
        {"<img src=\"cid:logo1\" width=\"1\" height=\"1\">", false},
        {"<img src=\"data:image/gif;base64,R0lGOD\" width=\"1\">", false},
        {"<img src=\"/local.gif\" width=\"1\">", false},
        {"<img width=\"1\">", false},
    };
    for (const auto& c : cases) EXPECT_EQ(tracker(c.tag), c.tracker) << c.tag;
    EXPECT_FALSE(HTMLInspector::isTracker({}));
}

TEST(HTMLInspector, InspectCountsImagesAndTrackers) {
    const std::string html = R"(<html><body>
<img src="cid:logo" width=1 height=1>
<img src="https://images.shop.example/hero.jpg" width="600">
<IMG SRC="HTTPS://images.shop.example/b.png">
<img src="https://a.list-manage.com/open.php?u=1" width="1" height="1">
<img src="https://us2.list-manage.com/track/x.gif">
<img src="https://click.email.example/o.gif" style="display:none">
<img src="data:image/png;base64,AAAA">
</body></html>)";
    auto r = HTMLInspector::inspect(html);
    EXPECT_EQ(r.remoteImageCount, 2);
    EXPECT_EQ(r.trackerCount, 3);
    EXPECT_EQ(r.trackerHosts, (std::vector<std::string>{"list-manage.com", "email.example"}));
    EXPECT_TRUE(r.linkWarnings.empty());
    EXPECT_EQ(HTMLInspector::inspect(""), bx::HTMLReport());
}

TEST(HTMLInspector, LinkWarnings) {
    const std::string html = R"(
<p><a href="https://secure-login.evil.example/paypal">  www.PayPal.com/signin
</a></p>
<a href="https://www.paypal.com/x">Log in at https://paypal.com</a>
<a href="https://docs.shop.example/report.pdf">report.pdf</a>
<a href="https://www.shop.example/">Version 2.10</a>
<a href="https://news.shop.example/x">Visit shop.example today</a>
<a href="mailto:help@bank.example">bank.example</a>
<a href="/relative">bank.example</a>
<A HREF='http://203.0.113.5/login' class=btn><b>chase.com</b></A >
<a href="https://t.mailer.example/c/123">amazon.co.uk/orders</a>
<a href="https://track.example/r?u=https%3A%2F%2Fbank.example">bank.example</a>
)";
    auto w = HTMLInspector::linkWarnings(html);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], (LinkWarning{"www.PayPal.com/signin", "www.paypal.com", "secure-login.evil.example",
                                 "https://secure-login.evil.example/paypal"}));
    EXPECT_EQ(w[1], (LinkWarning{"chase.com", "chase.com", "203.0.113.5", "http://203.0.113.5/login"}));
    EXPECT_EQ(w[2].shownDomain, "amazon.co.uk");
    EXPECT_EQ(w[2].actualHost, "t.mailer.example");
    EXPECT_EQ(w[3].href, "https://track.example/r?u=https%3A%2F%2Fbank.example");

    // Text over the length limit is still read for the first domain it
    // names; the warning keeps the first 199 characters of it.
    const std::string longText(190, 'x');
    EXPECT_EQ(HTMLInspector::linkWarnings("<a href=\"https://evil.example\">" + longText + " bank.com</a>").size(), 1u);
    const auto longWarning =
        HTMLInspector::linkWarnings("<a href=\"https://evil.example\">bank.com " + std::string(300, 'x') + "</a>");
    ASSERT_EQ(longWarning.size(), 1u);
    EXPECT_EQ(longWarning[0].shownDomain, "bank.com");
    EXPECT_EQ(bx::characterCount(longWarning[0].shownText), 200u);
    // One site in its international and its ASCII form is one site; a
    // look-alike host is never the site its text imitates, in either form.
    const std::string paypal = "p\xd0\xb0ypal.com", apple = "\xd0\xb0\xd1\x80\xd1\x80\xd3\x8f\xd0\xb5.com";
    struct IDNCase {
        std::string html;
        std::optional<std::string> shownDomain;  // nothing: no warning
    } idn[] = {
        {"<a href='https://bücher.de/'>xn--bcher-kva.de</a>", std::nullopt},
        {"<a href='https://www.xn--bcher-kva.de/'>Visit www.xn--bcher-kva.de</a>", std::nullopt},
        {"<a href='https://xn--pypal-4ve.com/'>" + paypal + "</a>", paypal},
        {"<a href='https://" + paypal + "/login'>https://" + paypal + "/login</a>", paypal},
        {"<a href='https://xn--80ak6aa92e.com/'>" + apple + "</a>", apple},
        {"<a href='https://www.xn--80ak6aa92e.com/'>Sign in at www." + apple + "</a>", apple},
        {"<a href='https://xn--pypal-4ve.com/'>paypal.com</a>", "paypal.com"},
        // A look-alike host the text does not name is left to the other checks.
        {"<a href='https://xn--80ak6aa92e.com/'>Click here</a>", std::nullopt},
    };
    for (const auto& c : idn) {
        const auto found = HTMLInspector::linkWarnings(c.html);
        ASSERT_EQ(found.size(), c.shownDomain ? 1u : 0u) << c.html;
        if (c.shownDomain) EXPECT_EQ(found[0].shownDomain, *c.shownDomain) << c.html;
    }
    // The same pair is reported once per link.
    EXPECT_EQ(HTMLInspector::linkWarnings("<a href='http://e.example'>a.com</a><a href='http://e.example'>a.com</a>").size(),
              2u);
}

TEST(HTMLInspector, DisplayHeadGoesIntoTheTreesHead) {
    const std::string head = HTMLInspector::displayHead() +
                             "\n<meta http-equiv=\"x-dns-prefetch-control\" content=\"off\">";
    struct Case {
        const char* html;
        const char* expected;  // "HEAD" stands for the display head
    } cases[] = {
        {"<html><head><title>t</title></head><body>x</body></html>",
         "<html><head>HEAD<title>t</title></head><body>x</body></html>"},
        // Written out as the parser read it: attributes quoted and escaped,
        // comments left out.
        {"<!DOCTYPE html>\n<!-- <head> -->\n<HTML lang=\"en\">\n<HEAD data-x=\"a>b\"><title>t</title></HEAD>",
         "<!doctype html><html lang=\"en\"><head data-x=\"a&gt;b\">HEAD<title>t</title></head><body></body></html>"},
        // A head the parser never opened, or one in a comment, is no head:
        // the page gets the parser's own, after a doctype.
        {"<header class=\"top\">Hi</header><p>text</p>",
         "<!doctype html><html><head>HEAD</head><body><header class=\"top\">Hi</header><p>text</p></body></html>"},
        {"Hello <html><head></head><body>b</body></html>",
         "<!doctype html><html><head>HEAD</head><body>Hello b</body></html>"},
        {"<!-- <head> --><p>x</p>", "<!doctype html><html><head>HEAD</head><body><p>x</p></body></html>"},
        {"", "<!doctype html><html><head>HEAD</head><body></body></html>"},
        // A mail with a head and no doctype keeps the engine's quirks mode.
        {"<html><head></head><body><pre>\n\nx</pre></body></html>",
         "<html><head>HEAD</head><body><pre>\n\nx</pre></body></html>"},
    };
    for (const auto& c : cases) {
        const std::string out = HTMLInspector::prepareForDisplay(c.html, {}, false);
        std::string expected = c.expected;
        expected.replace(expected.find("HEAD"), 4, head);
        EXPECT_EQ(out, expected) << c.html;
        EXPECT_EQ(out, HTMLInspector::prepareForDisplay(c.html, {}, true));
    }
}

// The shapes of markup that once read one way to the checks and another to
// the engine: every one is read as the engine reads it.
TEST(HTMLInspector, ChecksReadTheTreeTheEngineBuilds) {
    struct LinkCase {
        const char* name;
        std::string html;
        const char* actualHost;  // nullptr: no warning
    } links[] = {
        {"two hrefs: the first wins",
         R"(<a href="https://evil.example/" href="https://bank.example/">bank.example</a>)", "evil.example"},
        {"white space around the address", "<a href=\"\n\t https://evil.example/ \x01\">bank.example</a>",
         "evil.example"},
        {"scheme without slashes", R"(<a href="https:evil.example/login">bank.example</a>)", "evil.example"},
        {"backslashes", R"(<a href="https:\\evil.example\login">bank.example</a>)", "evil.example"},
        {"a tab inside the scheme", "<a href=\"ht\ttps://evil.example/\">bank.example</a>", "evil.example"},
        {"an entity in the scheme", R"(<a href="https&#58;//evil.example/">bank.example</a>)", "evil.example"},
        {"an IPv4 address in hex", R"(<a href="http://0x7f.1/">bank.example</a>)", "127.0.0.1"},
        {"an image-map area", R"(<map name=m><area shape=rect coords="0,0,9,9" href="https://evil.example/" alt="bank.example"></map>)",
         "evil.example"},
        {"an SVG link", R"(<svg><a xlink:href="https://evil.example/"><text>bank.example</text></a></svg>)",
         "evil.example"},
        {"text split by markup", R"(<a href="https://evil.example/">bank<span>.example</span></a>)", "evil.example"},
        {"a base that would move a relative link", R"(<base href="https://evil.example/"><a href="login">bank.example</a>)",
         nullptr},
        {"an end tag the engine ignores", R"(<a href="https://evil.example/">bank.example</a foo="x"></a>)",
         "evil.example"},
        {"the same site", R"(<a href="https:\\www.bank.example\">bank.example</a>)", nullptr},
    };
    for (const auto& c : links) {
        const auto w = HTMLInspector::linkWarnings(c.html);
        if (!c.actualHost) {
            EXPECT_TRUE(w.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(w.size(), 1u) << c.name;
        EXPECT_EQ(w[0].actualHost, c.actualHost) << c.name;
        EXPECT_EQ(w[0].shownDomain, "bank.example") << c.name;
    }

    struct ImageCase {
        const char* name;
        const char* tag;
        bool tracker;
    } images[] = {
        {"source after a line break", "<img src=\"\n  https://cdn.example/p.gif\" width=\"1\" height=\"1\">", true},
        {"duplicate width: the first wins", R"(<img src="https://cdn.example/p.gif" width="1" width="600">)", true},
        {"duplicate style: the first wins",
         R"(<img src="https://cdn.example/p.gif" style="display:none" style="display:block">)", true},
        {"a width the engine reads as 1", R"(<img src="https://cdn.example/p.gif" width="1;">)", true},
        {"a fraction in a style", R"(<img src="https://cdn.example/p.gif" style="width:.5px">)", true},
        {"a comment inside display:none", R"(<img src="https://cdn.example/p.gif" style="display:/* x */none">)", true},
        {"2 px in a style", R"(<img src="https://cdn.example/p.gif" style="height:2px">)", true},
        {"a tiny size in another unit", R"(<img src="https://cdn.example/p.gif" style="width:0.1em">)", true},
        {"a tiny size in points", R"(<img src="https://cdn.example/p.gif" style="max-height:1pt !important">)", true},
        {"a scheme without slashes", R"(<img src="https:cdn.example/p.gif" width="1" height="1">)", true},
        {"a visible size", R"(<img src="https://cdn.example/hero.jpg" style="width:3em">)", false},
        {"a size relative to the page", R"(<img src="https://cdn.example/hero.jpg" width="1%">)", false},
        {"a tracker host with a visible size", R"(<img src="https://list-manage.com/logo.png" width="600">)", false},
    };
    for (const auto& c : images) {
        const auto r = HTMLInspector::inspect(c.tag);
        EXPECT_EQ(r.trackerCount, c.tracker ? 1 : 0) << c.name;
        EXPECT_EQ(r.remoteImageCount, c.tracker ? 0 : 1) << c.name;
        const std::string out = HTMLInspector::prepareForDisplay(c.tag, {}, false);
        EXPECT_EQ(out.find("cdn.example") == std::string::npos && out.find("list-manage") == std::string::npos,
                  c.tracker)
            << c.name;
    }

    // A tracker on an address is named by the address.
    EXPECT_EQ(HTMLInspector::inspect(R"(<img src="http://203.0.113.9/p.gif" width=1 height=1>)").trackerHosts,
              std::vector<std::string>{"203.0.113.9"});
}

// Markup without a judged element is not parsed for the checks; every way
// of writing one must still be read, and what only looks like one is text.
TEST(HTMLInspector, CheckedElementsAreFoundInEverySpelling) {
    struct Case {
        const char* name;
        std::string html;
        int links;   // each to evil.example with text naming bank.example
        int images;  // each https://cdn.example/a.png
    } cases[] = {
        {"upper case link", R"(<A HREF="https://evil.example/">bank.example</A>)", 1, 0},
        {"mixed case link", R"(<html><body><p>Hi <aBbr>x</abbr><A hReF="https://evil.example/">bank.example</a>)", 1, 0},
        {"a tab after the name", "<a\thref=\"https://evil.example/\">bank.example</a>", 1, 0},
        {"a line feed after the name", "<a\nhref=\"https://evil.example/\">bank.example</a>", 1, 0},
        {"a form feed after the name", "<a\fhref=\"https://evil.example/\">bank.example</a>", 1, 0},
        {"a slash after the name", R"(<a/href="https://evil.example/">bank.example</a>)", 1, 0},
        {"an area", R"(<map name=m><AREA href="https://evil.example/" alt="bank.example"></map>)", 1, 0},
        {"an SVG link", R"(<svg><a href="https://evil.example/"><text>bank.example</text></a></svg>)", 1, 0},
        {"an SVG link in capitals", R"(<SVG><A XLINK:HREF="https://evil.example/"><text>bank.example</text></A></SVG>)",
         1, 0},
        {"an entity in the address", R"(<a href="https&#58;//evil&#x2E;example/">bank&period;example</a>)", 1, 0},
        {"upper case image", R"(<IMG SRC="https://cdn.example/a.png">)", 0, 1},
        {"mixed case image", R"(<p>x</p><iMg src="https://cdn.example/a.png">)", 0, 1},
        {"the parser's other name for an image", R"(<IMAGE src="https://cdn.example/a.png">)", 0, 1},
        {"a slash after the image's name", R"(<img/src="https://cdn.example/a.png">)", 0, 1},
        {"a link and an image among others",
         "<html><head><style>p{}</style></head><body><table><tr><td><I>x</I><a\r\nhref='https://evil.example/'>"
         "<b>bank</b>.example<img\tsrc=https://cdn.example/a.png></a></td></tr></table>",
         1, 1},
        {"written as text", R"(&lt;a href="https://evil.example/"&gt;bank.example&lt;/a&gt;&lt;img src=x&gt;)", 0, 0},
        {"a space before the name", R"(< a href="https://evil.example/">bank.example< img src="https://cdn.example/a.png">)",
         0, 0},
        {"in a comment", R"(<!-- <a href="https://evil.example/">bank.example</a> --><p>x</p>)", 0, 0},
        {"none at all", "<html><body><p>Lorem <b>ipsum</b></p><br><hr></body></html>", 0, 0},
    };
    for (const auto& c : cases) {
        const auto report = HTMLInspector::inspect(c.html);
        ASSERT_EQ(int(report.linkWarnings.size()), c.links) << c.name;
        for (const auto& w : report.linkWarnings) EXPECT_EQ(w.actualHost, "evil.example") << c.name;
        EXPECT_EQ(report.remoteImageCount, c.images) << c.name;

        // One parse for both gives what each gives alone.
        const auto prepared = HTMLInspector::prepare(c.html, {});
        EXPECT_EQ(prepared.report, report) << c.name;
        EXPECT_EQ(prepared.document, HTMLInspector::prepareForDisplay(c.html, {}, false)) << c.name;

        for (const std::string& text : {c.html, prepared.document}) {
            const auto shown = HTMLInspector::shown(text);
            EXPECT_EQ(int(shown.links.size()), c.links) << c.name;
            EXPECT_EQ(shown.images, std::vector<std::string>(c.images, "https://cdn.example/a.png")) << c.name;
        }
    }
}

TEST(HTMLInspector, ShownDocumentLeavesOutWhatReachesOutOnItsOwn) {
    const std::string html = R"(<html><head>
<base href="https://evil.example/">
<meta http-equiv="refresh" content="0;url=https://evil.example/">
<meta http-equiv="Content-Security-Policy" content="script-src *">
<meta name="viewport" content="width=device-width">
<link rel="stylesheet" href="https://evil.example/s.css"><link rel="preconnect" href="https://evil.example/">
</head><body>
<iframe src="https://evil.example/f"></iframe><iframe srcdoc="<img src='https://evil.example/x'>"></iframe>
<embed src="https://evil.example/e"><object data="https://evil.example/o"><p>fallback</p></object>
<form action="https://evil.example/f" method="post"><button formaction="https://evil.example/b">Go</button></form>
<a href="https://shop.example/">shop</a>
</body></html>)";
    const std::string out = HTMLInspector::prepareForDisplay(html, {}, false);
    EXPECT_EQ(out.find("evil.example"), std::string::npos) << out;
    EXPECT_EQ(out.find("script-src *"), std::string::npos);
    EXPECT_NE(out.find("<meta name=\"viewport\" content=\"width=device-width\">"), std::string::npos);
    EXPECT_NE(out.find("<p>fallback</p>"), std::string::npos);
    EXPECT_NE(out.find("<form method=\"post\"><button>Go</button></form>"), std::string::npos);
    // The project's own head is the one in force.
    EXPECT_NE(out.find("script-src 'none'"), std::string::npos);

    // What the shown document holds is what the checks saw.
    const auto shown = HTMLInspector::shown(out);
    ASSERT_EQ(shown.links.size(), 1u);
    EXPECT_EQ(shown.links[0], (HTMLInspector::Link{"https://shop.example/", "https://shop.example/", "shop"}));
    EXPECT_TRUE(shown.images.empty());

    const auto images = HTMLInspector::shown(HTMLInspector::prepareForDisplay(
        R"(<img src=" HTTPS://CDN.Example:443/a b.png "><img src="https://cdn.example/p.gif" width=1 height=1><img src="cid:x">)",
        {}, false));
    EXPECT_EQ(images.images, std::vector<std::string>{"https://cdn.example/a b.png"});
}

// Blocked, a remote image keeps its place at the size it declares, and its
// address is nowhere in the shown document.
TEST(HTMLInspector, BlockedImagesBecomeBoxesOfTheirDeclaredSize) {
    struct Case {
        const char* tag;
        const char* style;  // what the placeholder's style attribute holds
    } cases[] = {
        {R"(<img src="https://cdn.example/a.png" width="300" height="200">)", "width:300px;height:200px"},
        {R"(<img src="https://cdn.example/a.png" width="100%" height=" 120.5px">)", "width:100%;height:120.5px"},
        {R"(<img src="https://cdn.example/a.png">)", "width:24px;height:24px"},
        {R"(<img src="https://cdn.example/a.png" width="600" style="height:3em">)", "height:3em;width:600px"},
        {R"(<img src="https://cdn.example/a.png" style="Width: 50%; max-height:9px" height="80" srcset="https://cdn.example/b.png 2x">)",
         "Width: 50%; max-height:9px;height:80px"},
    };
    for (const auto& c : cases) {
        const std::string out =
            HTMLInspector::prepareForDisplay(c.tag, {}, false, HTMLInspector::RemoteImages::placeholders);
        EXPECT_EQ(out.find("cdn.example"), std::string::npos) << out;
        EXPECT_NE(out.find("src=\"data:image/svg+xml,"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("style=\"") + c.style + "\""), std::string::npos) << out;
        EXPECT_TRUE(HTMLInspector::shown(out).images.empty());
        // Allowed, the same image is written as it came.
        EXPECT_NE(HTMLInspector::prepareForDisplay(c.tag, {}, false).find("https://cdn.example/a.png"), std::string::npos);
    }
    // Only remote images change: an inline part and a tracker are as before.
    MailAttachment logo{0, "logo.png", "image/png", std::string("\x89PNG", 4), std::string("logo1"), true};
    const std::string html = R"(<img src="cid:logo1"><img src="https://cdn.example/p.gif" width="1" height="1">)";
    EXPECT_EQ(HTMLInspector::prepareForDisplay(html, {logo}, false, HTMLInspector::RemoteImages::placeholders),
              HTMLInspector::prepareForDisplay(html, {logo}, false));
}

TEST(HTMLInspector, PrepareInlinesPartsAndRemovesTrackers) {
    MailAttachment logo{0, "logo.png", "image/png", std::string("\x89PNG\r\n", 6), std::string("logo1"), true};
    MailAttachment empty{1, "x.bin", "application/octet-stream", "zz", std::string(""), true};
    MailAttachment big{2, "big.jpg", "image/jpeg", std::string(8'000'000, 'a'), std::string("big"), true};
    MailAttachment edge{3, "edge.bin", "image/gif", std::string(7'999'999, 'b'), std::string("edge"), true};
    const std::string html =
        "<html><head></head><body><img src=\"cid:logo1\"><img src=\"cid:logo1\" alt=x>"
        "<img src=\"cid:big\"><img src=\"cid:other\">"
        "<img src=\"https://sendgrid.net/wf/open?x\" width=1 height=1><img src=\"https://cdn.example/a.png\">"
        "</body></html>";
    const std::string out = HTMLInspector::prepareForDisplay(html, {logo, empty, big, edge}, false);
    const std::string logoData = "data:image/png;base64,iVBORw0K";
    EXPECT_EQ(out.find("cid:logo1"), std::string::npos);
    size_t first = out.find(logoData);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find(logoData, first + 1), std::string::npos);
    EXPECT_NE(out.find("cid:big"), std::string::npos);
    EXPECT_NE(out.find("cid:other"), std::string::npos);  // an empty Content-ID replaces nothing
    EXPECT_EQ(out.find("sendgrid"), std::string::npos);
    EXPECT_NE(out.find("<!-- tracker removed by Brindlebox -->"), std::string::npos);
    EXPECT_NE(out.find("<img src=\"https://cdn.example/a.png\">"), std::string::npos);

    const std::string edgeOut =
        HTMLInspector::prepareForDisplay("<img src=\"cid:edge\">", {edge}, false);
    EXPECT_EQ(edgeOut.find("cid:edge"), std::string::npos);
    EXPECT_NE(edgeOut.find("data:image/gif;base64,YmJi"), std::string::npos);
}

TEST(HTMLInspector, PlainTextDocument) {
    const std::string out = HTMLInspector::plainTextDocument("a < b & \"c\"\nsee https://example.com/x?a=1 now");
    EXPECT_EQ(out, HTMLInspector::plainTextHead() +
                       "a &lt; b &amp; &quot;c&quot;\nsee <a href=\"https://example.com/x?a=1\">"
                       "https://example.com/x?a=1</a> now</body></html>");
    EXPECT_EQ(HTMLInspector::plainTextDocument(""), HTMLInspector::plainTextHead() + "</body></html>");
}

// Hostile markup must not make the inspection hang or overflow the stack. A
// hang here shows as the test timing out.
TEST(HTMLInspector, HostileMarkupIsBounded) {
    std::string unclosedAnchors, unclosedImgs, longAttr, anchorsNoClose;
    for (int i = 0; i < 60000; ++i) unclosedAnchors += "<a href=x>y ";
    for (int i = 0; i < 60000; ++i) unclosedImgs += "<img src=x ";
    longAttr = "<img " + std::string(400000, 'a') + ">";
    for (int i = 0; i < 40000; ++i) anchorsNoClose += "<a <a ";
    anchorsNoClose += "</a>";
    // Nesting deeper than any stack would hold if the tree were walked or
    // freed by recursion, and that the parser would take minutes over: shown
    // as its text alone.
    std::string deep;
    for (int i = 0; i < 400000; ++i) deep += "<div>";
    deep += "<a href='https://evil.example/'>bank.example</a><img src='https://cdn.example/a.png'>";
    EXPECT_EQ(HTMLInspector::prepareForDisplay(deep, {}, false),
              HTMLInspector::plainTextDocument("bank.example"));
    for (const std::string* html : {&unclosedAnchors, &unclosedImgs, &longAttr, &anchorsNoClose, &deep}) {
        const auto report = HTMLInspector::inspect(*html);
        EXPECT_EQ(report.trackerCount + report.remoteImageCount, 0);
        EXPECT_TRUE(report.linkWarnings.empty());
        const std::string out = HTMLInspector::prepareForDisplay(*html, {}, false);
        EXPECT_GT(out.size(), HTMLInspector::displayHead().size());
    }
}
