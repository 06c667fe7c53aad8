#include <gtest/gtest.h>

#include <set>

#include "Safety/Domains.h"
#include "Safety/SenderCheck.h"

using bx::MailAddress;
using bx::SenderCheck;
using bx::SenderFlag;
using Kind = bx::SenderFlag::Kind;

namespace {

std::vector<SenderFlag> check(const std::string& name, const std::string& email,
                              const std::set<std::string>& knownDomains = {},
                              const std::map<std::string, std::string>& knownNames = {}) {
    return SenderCheck::check(MailAddress{name, email}, knownDomains, knownNames);
}

std::vector<Kind> kinds(const std::vector<SenderFlag>& flags) {
    std::vector<Kind> out;
    for (const auto& f : flags) out.push_back(f.kind);
    return out;
}

}  // namespace

TEST(SenderCheck, TablesHaveTheirShape) {
    const auto& brands = SenderCheck::brands();
    ASSERT_EQ(brands.size(), 38u);
    std::map<size_t, int> bySize;
    size_t domains = 0;
    std::set<std::string_view> keys;
    for (const auto& b : brands) {
        EXPECT_TRUE(keys.insert(b.key).second) << b.key;
        EXPECT_GE(b.key.size(), 3u);
        EXPECT_LE(b.key.size(), 13u);
        for (char c : b.key) EXPECT_TRUE(c >= 'a' && c <= 'z') << b.key;
        for (auto d : b.domains) EXPECT_EQ(bx::Domains::registrable(d), d) << d;
        ++bySize[b.domains.size()];
        domains += b.domains.size();
    }
    EXPECT_EQ(domains, 85u);
    EXPECT_EQ(bySize, (std::map<size_t, int>{{1, 18}, {2, 7}, {3, 7}, {4, 3}, {5, 1}, {7, 1}, {8, 1}}));
    EXPECT_EQ(SenderCheck::shortBrands().size(), 9u);
    for (auto s : SenderCheck::shortBrands()) {
        EXPECT_TRUE(keys.count(s)) << s;
        EXPECT_GE(s.size(), 3u);
        EXPECT_LE(s.size(), 5u);
    }
    EXPECT_EQ(SenderCheck::genericWords().size(), 39u);
}

TEST(SenderCheck, Skeleton) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"rnail", "mail"}, {"mail", "mail"}, {"0pen", "open"}, {"c1oud", "cloud"}, {"cloud", "doud"},
        {"PAYPA1", "paypal"}, {"pay-pal_x", "paypalx"}, {"vvells", "wells"}, {"4m4z0n", "amazon"},
        {"7r8", "trb"}, {"3a5y", "easy"},
    };
    for (const auto& c : cases) EXPECT_EQ(SenderCheck::skeleton(c.in), c.out) << c.in;
}

TEST(SenderCheck, Distance) {
    EXPECT_EQ(SenderCheck::distance("paypal", "paypa"), 1);
    EXPECT_EQ(SenderCheck::distance("kitten", "sitting"), 3);
    EXPECT_EQ(SenderCheck::distance("", "abc"), 3);
    EXPECT_EQ(SenderCheck::distance("abc", ""), 3);
    EXPECT_EQ(SenderCheck::distance("same", "same"), 0);
    // Counted in characters: an accented letter is one substitution.
    EXPECT_EQ(SenderCheck::distance("caf\u00e9", "cafe"), 1);
    EXPECT_EQ(SenderCheck::distance("cafe\u0301", "cafe"), 1);
}

TEST(SenderCheck, NoSenderNoFlags) {
    EXPECT_TRUE(SenderCheck::check(std::nullopt, {}, {}).empty());
    EXPECT_TRUE(check("PayPal", "").empty());
    EXPECT_TRUE(check("PayPal", "@").empty());
    EXPECT_TRUE(check("Ann", "ann@example.org").empty());
}

TEST(SenderCheck, InternationalDomains) {
    // Cyrillic "а" in place of the Latin "a".
    auto f = check("", "service@p\u0430ypal.com");
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[0].kind, Kind::punycode);
    EXPECT_EQ(f[0].summary, "Look-alike characters in p\u0430ypal.com");
    EXPECT_EQ(f[0].detail,
              "The sender\u2019s domain p\u0430ypal.com uses international characters that can imitate ordinary "
              "letters.");

    // The same domain as it travels in DNS; the other tests still run.
    auto g = check("PayPal", "service@mail.xn--pypal-4ve.com");
    EXPECT_EQ(kinds(g), (std::vector<Kind>{Kind::punycode, Kind::displayName}));
    EXPECT_EQ(g[0].summary, "Look-alike characters in xn--pypal-4ve.com");
    EXPECT_EQ(g[1].summary, "Says Paypal, sent from xn--pypal-4ve.com");
}

TEST(SenderCheck, DomainInDisplayName) {
    auto f = check("support@paypal.com", "x@mailer.evil.example");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, Kind::displayName);
    EXPECT_EQ(f[0].summary, "Name shows paypal.com");
    EXPECT_EQ(f[0].detail, "The name says paypal.com, but the message came from mailer.evil.example.");

    // Naming its own registrable domain is fine, and then nothing else fires.
    EXPECT_TRUE(check("News from Shop.Example.com", "news@mail.example.com").empty());
    // The domain flag suppresses the known-name and brand tests.
    auto g = check("Apple via www.Helpdesk.example.net", "x@other.example",
                   {}, {{"apple via www.helpdesk.example.net", "a.example"}});
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].summary, "Name shows example.net");
}

TEST(SenderCheck, KnownNameOnAnotherDomain) {
    const std::map<std::string, std::string> names = {{"ann lee", "family.example"}};
    auto f = check("  Ann Lee\t", "ann.lee@freemail.example", {}, names);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, Kind::displayName);
    EXPECT_EQ(f[0].summary, "  Ann Lee\t usually writes from family.example");
    EXPECT_EQ(f[0].detail,
              "Mail from \u201C  Ann Lee\t\u201D in your vault comes from family.example. This one came from "
              "freemail.example.");
    // From the usual domain, or from a domain the vault already knows: no flag.
    EXPECT_TRUE(check("Ann Lee", "ann@family.example", {}, names).empty());
    EXPECT_TRUE(check("Ann Lee", "ann@freemail.example", {"freemail.example"}, names).empty());
}

TEST(SenderCheck, BrandInDisplayName) {
    struct Case {
        const char* name;
        const char* email;
        const char* summary;  // nullptr: no display-name flag
    } cases[] = {
        {"PayPal Service", "service@paypal-notice.example", "Says Paypal, sent from paypal-notice.example"},
        {"PayPal", "service@paypal.com", nullptr},
        {"PayPal", "service@mail.paypal.co.uk", nullptr},
        {"Microsoft account team", "no-reply@accountprotection.microsoft.com", nullptr},
        {"Microsoft account team", "no-reply@msft-secure.example", "Says Microsoft, sent from msft-secure.example"},
        // Six letters or more are found when split up; five are not.
        {"Pay Pal", "x@bad.example", "Says Paypal, sent from bad.example"},
        {"Net flix billing", "x@bad.example", "Says Netflix, sent from bad.example"},
        {"Fed Ex", "x@bad.example", nullptr},
        // A short brand is believed alone or beside generic words only.
        {"Apple", "x@bad.example", "Says Apple, sent from bad.example"},
        {"Apple Support Team", "x@bad.example", "Says Apple, sent from bad.example"},
        {"Chase", "alerts@bad.example", "Says Chase, sent from bad.example"},
        {"Chase Miller", "chase@bad.example", nullptr},
        {"Apple Pie Bakery", "hello@bad.example", nullptr},
        {"UPS Delivery", "track@bad.example", "Says Ups, sent from bad.example"},
    };
    for (const auto& c : cases) {
        auto f = check(c.name, c.email);
        const SenderFlag* flag = nullptr;
        for (const auto& x : f)
            if (x.kind == Kind::displayName) flag = &x;
        if (!c.summary) {
            EXPECT_EQ(flag, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(flag, nullptr) << c.name;
        EXPECT_EQ(flag->summary, c.summary) << c.name;
    }
    auto f = check("PayPal Service", "service@paypal-notice.example");
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f[0].detail,
              "The name says it\u2019s from PayPal Service, but the message came from paypal-notice.example, "
              "which isn\u2019t one of Paypal\u2019s domains.");
}

TEST(SenderCheck, LookalikeOfABrand) {
    struct Case {
        const char* email;
        const char* summary;  // nullptr: no look-alike flag
    } cases[] = {
        {"x@paypa1.com", "paypa1.com imitates paypal.com"},         // digit for a letter
        {"x@rnicrosoft.com", "rnicrosoft.com imitates microsoft.com"},  // "rn" for "m"
        {"x@amazom.com", "amazom.com imitates amazon.com"},        // one letter changed
        {"x@secure-paypal.example", "secure-paypal.example imitates paypal.com"},  // hyphen rule
        {"x@wellsfargo-alerts.example", "wellsfargo-alerts.example imitates wellsfargo.com"},
        {"x@dhl-parcel.example", "dhl-parcel.example imitates dhl.com"},
        {"x@app1e.com", "app1e.com imitates apple.com"},           // short brand through folding
        {"x@apples.com", nullptr},                                  // short brand: no distance rule
        {"x@paypal.de", nullptr},                                   // a listed domain of the brand
        {"x@mail.amazon.co.jp", nullptr},
        {"x@amazon.nl", nullptr},                                   // same label, other top level
        {"x@citi.example", nullptr},
        {"x@example.org", nullptr},
    };
    for (const auto& c : cases) {
        auto f = check("", c.email);
        const SenderFlag* flag = nullptr;
        for (const auto& x : f)
            if (x.kind == Kind::lookalike) flag = &x;
        if (!c.summary) {
            EXPECT_EQ(flag, nullptr) << c.email << " " << (flag ? flag->summary : "");
            continue;
        }
        ASSERT_NE(flag, nullptr) << c.email;
        EXPECT_EQ(flag->summary, c.summary);
    }
    auto f = check("", "x@paypa1.com");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].detail, "paypa1.com looks like paypal.com but isn\u2019t. Look-alike domains are a common phishing trick.");
}

TEST(SenderCheck, LookalikeOfAVaultSender) {
    const std::set<std::string> known = {"abc.example", "acmecorp.example", "bigbank.example", "zeta.example"};
    auto f = check("Billing", "billing@acrnecorp.example", known);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, Kind::lookalike);
    EXPECT_EQ(f[0].summary, "acrnecorp.example imitates acmecorp.example");
    EXPECT_EQ(f[0].detail,
              "acrnecorp.example looks like acmecorp.example, a sender already in your vault \u2014 but it isn\u2019t "
              "the same domain.");

    EXPECT_EQ(check("", "x@bigbamk.example", known).at(0).summary, "bigbamk.example imitates bigbank.example");
    EXPECT_EQ(check("", "x@zeta-login.example", known).at(0).summary, "zeta-login.example imitates zeta.example");
    // Short labels are never compared; a known domain is never a look-alike.
    EXPECT_TRUE(check("", "x@abd.example", known).empty());
    EXPECT_TRUE(check("", "x@acmecorp.example", known).empty());
    // Five letters: too short for the one-edit rule.
    EXPECT_TRUE(check("", "x@zetas.example", known).empty());
    // Genuine brand domains stop before the vault test.
    EXPECT_TRUE(check("", "x@paypal.com", {"paypai.com"}).empty());
    // The first match in ascending order wins.
    EXPECT_EQ(check("", "x@acme-bigbank.example", known).at(0).summary,
              "acme-bigbank.example imitates bigbank.example");
}

TEST(SenderCheck, FlagsComeInOrderAndOnceEach) {
    auto f = check("PayPal Security", "alert@xn--paypa-secure-q9b.example");
    EXPECT_EQ(kinds(f), (std::vector<Kind>{Kind::punycode, Kind::displayName}));
    auto g = check("Amazon", "store@amazon-orders.com");
    EXPECT_EQ(kinds(g), (std::vector<Kind>{Kind::displayName, Kind::lookalike}));
}
