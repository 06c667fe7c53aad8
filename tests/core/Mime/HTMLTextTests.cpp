#include <gtest/gtest.h>

#include <random>

#include "Mime/BoundedRegex.h"
#include "Mime/HTMLText.h"
#include "Mime/MimeTypes.h"

using namespace bx;

TEST(HTMLText, ToPlain) {
    struct Case { std::string in, out; } cases[] = {
        {"<p>One</p><p>Two</p>", "One\n Two"},
        {"<style>p{}</style>Hi", "Hi"},
        {"<SCRIPT type=x>1</SCRIPT >Hi", "Hi"},
        {"a<br>b<br/>c", "a\nb\nc"},
        {"x<!-- hidden -->y", "x y"},
        {"<p>a</p>\n\n\n\n\n<p>b</p>", "a\n\n b"},
        {"<html><head><title>T</title></head><body>Body &amp; soul</body></html>", "Body & soul"},
        {"a&nbsp;&nbsp; \t b", "a b"},
        {"<style>unclosed", "unclosed"},
        {"1 < 2 and 3 > 2", "1 2"},   // "< 2 and 3 >" is a tag to the regex
        {"<>x", "<>x"},
        {"x<!-->y-->z", "x z"},
        {"<h3>Head</h3>text", "Head\ntext"},
        {"</pre>x", "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(HTMLText::toPlain(c.in), c.out) << c.in;
}

TEST(HTMLText, DecodeEntities) {
    struct Case { std::string in, out; } cases[] = {
        {"Tom &amp; Jerry &#8212; &#x2014; &euro;5", "Tom & Jerry \u2014 \u2014 \u20AC5"},
        {"&AMP;", "&"},
        {"&nb\u017Fp;&R\u017FQUO;", " \u2019"},   // matched under Unicode case folding
        {"&#xD800;x", "x"},
        {"&#12a;x", "x"},
        {"&#X41;", "&#X41;"},
        {"&#x41;&#65;&#39;", "AA'"},
        {"&#x110000;&#99999999999;", ""},
        {"a&zwnj;b&ZWJ;c", "abc"},
        {"&unknown; & &", "&unknown; & &"},
        {"no refs", "no refs"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&rsquo;&lsquo;&rdquo;&ldquo;&hellip;&ndash;&mdash;&copy;&reg;&trade;&bull;&quot;&apos;&lt;&gt;",
         "\u2019\u2018\u201D\u201C\u2026\u2013\u2014\u00A9\u00AE\u2122\u2022\"'<>"},
    };
    for (const auto& c : cases) EXPECT_EQ(HTMLText::decodeEntities(c.in), c.out) << c.in;
}

TEST(HTMLText, Escape) {
    EXPECT_EQ(HTMLText::escape("a<b & \"c\""), "a&lt;b &amp; &quot;c&quot;");
    EXPECT_EQ(HTMLText::escape("it's &amp;"), "it's &amp;amp;");
}

TEST(MimeTypes, Extensions) {
    EXPECT_EQ(MimeTypes::ext("IMAGE/JPEG"), "jpg");
    EXPECT_EQ(MimeTypes::ext("application/x-foo"), "");
    EXPECT_EQ(MimeTypes::ext("message/rfc822"), "eml");
    EXPECT_EQ(MimeTypes::map().size(), 19u);
}

namespace {

// The tag steps as the plain regular expressions they stand for; the scanners in
// HTMLText must give the same text.
std::string referenceTagSteps(const std::string& html) {
    struct Step { BoundedRegex re; const char16_t* with; };
    static const std::vector<Step>* steps = [] {
        auto* v = new std::vector<Step>;
        for (const char* tag : {"style", "script", "head", "title"}) {
            std::string p = std::string("<") + tag + "[^>]*>[\\s\\S]*?</" + tag + "\\s*>";
            v->push_back({BoundedRegex(p, UREGEX_CASE_INSENSITIVE, 0, 0), u" "});
        }
        v->push_back({BoundedRegex("<!--[\\s\\S]*?-->", 0, 0, 0), u" "});
        v->push_back({BoundedRegex("<(br|/p|/div|/tr|/li|/h[1-6])[^>]*>", UREGEX_CASE_INSENSITIVE, 0, 0), u"\n"});
        v->push_back({BoundedRegex("<[^>]+>", 0, 0, 0), u" "});
        return v;
    }();
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(html);
    for (const auto& s : *steps) u = s.re.replaceAll(u, icu::UnicodeString(s.with));
    std::string out;
    u.toUTF8String(out);
    return out;
}

} // namespace

TEST(HTMLText, TagScannersMatchTheRegularExpressions) {
    // Entity decoding and white-space steps are shared, so comparing whole
    // toPlain results through a marker-free alphabet checks the tag steps.
    const char* tokens[] = {"<", ">", "<style", "</style", "</STYLE ", "<script>", "</script\n>",
                            "<head", "</head>", "<title>", "</title >", "<!--", "-->", "<br", "</p",
                            "</div", "</h3", "</h7", "<BR/>", "</Tr>", "</li", "x", "y z", "\n",
                            "\t", "\u2003", "/", "-", "<>", "</pre>", "<\u017Ftyle>", "</\uFB06yle>",
                            "<\uFB05YLE", "</\u017Fcript >", "\u017F", "\uFB06", "\u212A"};
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pick(0, std::size(tokens) - 1), len(0, 40);
    for (int round = 0; round < 3000; ++round) {
        std::string html;
        int n = len(rng);
        for (int i = 0; i < n; ++i) html += tokens[pick(rng)];
        std::string viaRegex = HTMLText::toPlain(referenceTagSteps(html));
        // referenceTagSteps already removed every tag, so toPlain only runs the
        // shared steps on it.
        std::string direct = HTMLText::toPlain(html);
        ASSERT_EQ(direct, viaRegex) << "input: " << html;
    }
}

TEST(HTMLText, HostileMarkupFinishes) {
    // Each of these is quadratic for a plain regex search; they must finish
    // quickly here (no timing asserted, a quadratic pass would hit ctest's timeout).
    std::string unclosedA, unclosedStyle, unclosedComment, lt;
    for (int i = 0; i < 200000; ++i) {
        unclosedA += "<a";
        unclosedStyle += "<style>x";
        unclosedComment += "<!--";
        lt += "<";
    }
    EXPECT_FALSE(HTMLText::toPlain(unclosedA).empty());
    EXPECT_FALSE(HTMLText::toPlain(unclosedStyle).empty());
    EXPECT_FALSE(HTMLText::toPlain(unclosedComment).empty());
    EXPECT_EQ(HTMLText::toPlain(lt + ">"), "");
    EXPECT_FALSE(HTMLText::toPlain(std::string(1 << 20, '&') + "#").empty());
    std::string blanks = "a\n" + std::string(1 << 20, ' ') + "\nb";
    EXPECT_EQ(HTMLText::toPlain(blanks), "a\n \nb");
}

TEST(BoundedRegex, LimitHitMeansNoMatch) {
    // Catastrophic backtracking: without a limit this would not finish.
    BoundedRegex slow("(a+)+b", 0, 1);
    std::string text = "xaab " + std::string(5000, 'a') + "c";
    EXPECT_FALSE(slow.search(std::string(5000, 'a') + "c"));
    // The first match is replaced; the search that hits the limit ends the replace.
    EXPECT_EQ(slow.replaceAll(text, "_"), "x_ " + std::string(5000, 'a') + "c");

    BoundedRegex deep("(?:a|b)*c", 0, 0, 1024);  // small backtracking stack
    EXPECT_FALSE(deep.search(std::string(100000, 'a') + "c"));
    EXPECT_TRUE(deep.search("abc"));
}
