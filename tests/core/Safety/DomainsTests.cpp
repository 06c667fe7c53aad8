#include <gtest/gtest.h>

#include "Mime/MailAddress.h"
#include "Safety/Domains.h"
#include "Safety/ReplyToCheck.h"

using bx::Domains;
using bx::MailAddress;

TEST(Domains, HostOfURL) {
    struct Case {
        const char* url;
        std::optional<std::string> host;
    } cases[] = {
        {"https://Example.COM/path?q=1", "example.com"},
        {"  http://www.example.org:8080/x \n", "www.example.org"},
        {"http://example.org", "example.org"},
        {"https://example.org?x", "example.org"},
        {"https://example.org#top", "example.org"},
        // User information is not the host; the last "@" ends it.
        {"http://bank.example@evil.example/", "evil.example"},
        {"https://user:pw@Secure.Bank.example:443/login", "secure.bank.example"},
        {"http://a@b@evil.example/", "evil.example"},
        // A browser reads "\" as "/" in a web address: the click goes to bank.example.
        {"http://bank.example\\@evil.example/", "bank.example"},
        {"http://[2001:db8::1]:8080/", "2001:db8::1"},
        {"//cdn.example.net/img.png", "cdn.example.net"},
        {"http://%65vil.example/", "evil.example"},
        {"HTTP://EXAMPLE.NET", "example.net"},
        {"mailto:someone@example.com", std::nullopt},
        {"www.example.com", std::nullopt},
        {"/relative/path", std::nullopt},
        {"", std::nullopt},
        {"http://", std::nullopt},
        {"http://:80/", std::nullopt},
        {"http://user@/", std::nullopt},
        {"http://exa mple.com/", std::nullopt},
        {"http://example.com:port/", std::nullopt},
        {"1http://example.com", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(Domains::host(c.url), c.host) << c.url;
}

TEST(Domains, Registrable) {
    struct Case {
        const char* domain;
        const char* registrable;
    } cases[] = {
        {"mail.example.com", "example.com"},
        {"a.b.c.example.com", "example.com"},
        {"example.com", "example.com"},
        {"EXAMPLE.com.", "example.com"},
        {" .news.Example.org. ", "example.org"},
        {"shop.amazon.co.uk", "amazon.co.uk"},
        {"amazon.co.uk", "amazon.co.uk"},
        {"x.y.bank.com.au", "bank.com.au"},
        {"www.hsbc.com.hk", "hsbc.com.hk"},
        {"mail.example.uk", "example.uk"},
        {"localhost", "localhost"},
        {"", ""},
        {"a..b", "a..b"},
    };
    for (const auto& c : cases) EXPECT_EQ(Domains::registrable(c.domain), c.registrable) << c.domain;
}

TEST(ReplyToCheck, Mismatch) {
    const MailAddress sender{"Shop", "orders@mail.shop.example"};
    // Only the first From address counts; a sub-domain is no mismatch.
    EXPECT_FALSE(bx::ReplyToCheck::mismatch({sender}, {{"", "help@shop.example"}}));
    EXPECT_FALSE(bx::ReplyToCheck::mismatch({sender}, {}));
    EXPECT_FALSE(bx::ReplyToCheck::mismatch({}, {{"", "x@evil.example"}}));
    EXPECT_FALSE(bx::ReplyToCheck::mismatch({{"No address", ""}}, {{"", "x@evil.example"}}));
    EXPECT_FALSE(bx::ReplyToCheck::mismatch({{"Only at signs", "@@"}}, {{"", "x@evil.example"}}));

    auto m = bx::ReplyToCheck::mismatch({sender, {"", "other@evil.example"}},
                                        {{"", ""}, {"Billing", "billing@Collect.example"},
                                         {"", "help@shop.example"}});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->email, "billing@Collect.example");

    // The first differing address wins even when a later one matches.
    auto first = bx::ReplyToCheck::mismatch({sender}, {{"", "a@evil.example"}, {"", "b@shop.example"}});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->email, "a@evil.example");
}

TEST(Domains, ASCIIFormAndLookalikes) {
    struct Case {
        const char* host;
        const char* ace;
        bool lookalike;
    } cases[] = {
        {"example.com", "example.com", false},
        {"Example.COM", "example.com", false},
        {"bücher.de", "xn--bcher-kva.de", false},
        {"xn--bcher-kva.de", "xn--bcher-kva.de", false},
        {"例え.jp", "xn--r8jz45g.jp", false},
        // Latin with one Cyrillic "а": mixed scripts.
        {"p\xd0\xb0ypal.com", "xn--pypal-4ve.com", true},
        {"xn--pypal-4ve.com", "xn--pypal-4ve.com", true},
        // All Cyrillic letters that read as "apple".
        {"\xd0\xb0\xd1\x80\xd1\x80\xd3\x8f\xd0\xb5.com", "xn--80ak6aa92e.com", true},
        {"xn--80ak6aa92e.com", "xn--80ak6aa92e.com", true},
        // Not a valid international name: kept as written, lower-cased.
        {"A_B.example", "a_b.example", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Domains::ace(c.host), c.ace) << c.host;
        EXPECT_EQ(Domains::isLookalike(c.host), c.lookalike) << c.host;
    }
}

TEST(Domains, WebURLReadsAnAddressAsTheEngineDoes) {
    struct Case {
        const char* written;
        std::optional<std::string> read;
    } cases[] = {
        {"https://Evil.Example/a", "https://evil.example/a"},
        {"\n\t https://evil.example/x \x01", "https://evil.example/x"},
        {"ht\ttp\ns://evil.example/", "https://evil.example/"},
        {"https:evil.example/login", "https://evil.example/login"},
        {"https:\\\\evil.example\\a\\b?q=\\x#\\y", "https://evil.example/a/b?q=\\x#\\y"},
        {"HTTPS:///evil.example", "https://evil.example/"},
        {"http://bank.example@evil.example:80/", "http://bank.example@evil.example/"},
        {"https://evil.example:0443?x", "https://evil.example/?x"},
        {"https://evil.example:8443/", "https://evil.example:8443/"},
        {"http://0x7f.1/", "http://127.0.0.1/"},
        {"http://2130706433/", "http://127.0.0.1/"},
        {"http://0300.0250.0.1/", "http://192.168.0.1/"},
        {"http://1.2.3.256/", std::nullopt},
        {"https://b\xc3\xbc" "cher.de/", "https://xn--bcher-kva.de/"},
        {"https://%65vil.example/", "https://evil.example/"},
        {"mailto:a@b.example?subject=x", "mailto:a@b.example?subject=x"},
        {"JavaScript:alert(1)", "javascript:alert(1)"},
        {"/relative/path", std::nullopt},
        {"login.html", std::nullopt},
        {"https://", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(Domains::webURL(c.written), c.read) << c.written;
}

TEST(Domains, AnIPAddressIsItsOwnRegistrableName) {
    EXPECT_EQ(Domains::registrable("203.0.113.5"), "203.0.113.5");
    EXPECT_EQ(Domains::registrable("[2001:db8::1]"), "[2001:db8::1]");
    EXPECT_NE(Domains::registrable("198.51.113.5"), Domains::registrable("203.0.113.5"));
    EXPECT_EQ(Domains::registrable("a.b.example.co.uk"), "example.co.uk");
}
