#include <gtest/gtest.h>

#include "Safety/SenderTrust.h"

using bx::MIMEHeaders;
using bx::SenderTrust;

namespace {

MIMEHeaders headers(std::initializer_list<std::pair<const char*, const char*>> fields) {
    MIMEHeaders h;
    for (auto& [n, v] : fields) h.fields.push_back({n, v});
    return h;
}

MIMEHeaders auth(const char* value) { return headers({{"From", "a@b.example"}, {"Authentication-Results", value}}); }

}  // namespace

TEST(SenderTrust, RawValuesAreExact) {
    for (const char* raw : {"verified", "failed", "partial", "unknown"}) {
        auto t = SenderTrust::fromRawValue(raw);
        ASSERT_TRUE(t) << raw;
        EXPECT_EQ(t->rawValue(), raw);
    }
    EXPECT_FALSE(SenderTrust::fromRawValue("Verified"));
    EXPECT_FALSE(SenderTrust::fromRawValue(""));
    EXPECT_FALSE(SenderTrust::fromRawValue("pass"));
}

// The verdict rules, one row per edge of the decision table.
TEST(SenderTrust, VerdictTable) {
    struct Case {
        const char* value;
        SenderTrust::Value verdict;
    } cases[] = {
        {"mx; spf=pass; dkim=pass; dmarc=fail", SenderTrust::failed},
        {"mx; dkim=softfail; dmarc=pass", SenderTrust::verified},
        {"mx; dkim=permerror", SenderTrust::failed},
        {"mx; spf=softfail", SenderTrust::partial},
        {"mx; spf=fail", SenderTrust::failed},
        {"mx; spf=fail; dmarc=pass", SenderTrust::verified},
        {"mx; spf=permerror", SenderTrust::partial},
        {"mx; spf=pass smtp.mailfrom=b.example; dkim=pass header.d=b.example; dmarc=none", SenderTrust::verified},
        {"mx; spf=pass; dmarc=none", SenderTrust::partial},
        {"mx; spf=pass", SenderTrust::partial},
        {"mx; dmarc=temperror; spf=pass smtp.mailfrom=x@b.example; dkim=pass header.d=b.example",
         SenderTrust::verified},
        {"mx; dmarc=softfail; spf=pass; dkim=pass", SenderTrust::failed},
        {"mx; spf=neutral; dkim=none", SenderTrust::partial},
        {"mx; none", SenderTrust::unknown},
        {"", SenderTrust::unknown},
        {"mx; xspf=fail; sub_dkim=fail; 1dmarc=fail", SenderTrust::unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SenderTrust::from(auth(c.value)).first, c.verdict) << c.value;
    }
}

TEST(SenderTrust, ResultsMapKeepsFirstNonPassPerMethod) {
    struct Case {
        const char* value;
        const char* dkim;
    } cases[] = {
        {"mx; dkim=pass header.d=a; dkim=fail header.d=b", "fail"},
        {"mx; dkim=fail header.d=a; dkim=pass header.d=b", "fail"},
        {"mx; dkim=neutral; dkim=fail", "neutral"},
        {"mx; dkim=pass; dkim=pass", "pass"},
        {"mx; DKIM=PASS", "pass"},
        {"mx; dkim = pass(ok)", "pass"},
    };
    for (const auto& c : cases) {
        auto [verdict, results] = SenderTrust::from(auth(c.value));
        ASSERT_EQ(results.count("dkim"), 1u) << c.value;
        EXPECT_EQ(results["dkim"], c.dkim) << c.value;
    }
    auto [verdict, results] = SenderTrust::from(auth("mx; spf=pass"));
    EXPECT_EQ(verdict, SenderTrust::partial);
    EXPECT_EQ(results, (std::map<std::string, std::string>{{"spf", "pass"}}));
}

// Headers as large providers write them: folded, with comments, property
// values that contain method-like words, and extra methods.
TEST(SenderTrust, RealProviderHeaders) {
    struct Case {
        const char* provider;
        const char* value;
        SenderTrust::Value verdict;
        std::map<std::string, std::string> results;
    } cases[] = {
        {"gmail",
         "mx.google.com; dkim=pass header.i=@github.com header.s=pf2023 header.b=Lw3bUq9x; "
         "spf=pass (google.com: domain of noreply@github.com designates 192.30.252.201 as permitted sender) "
         "smtp.mailfrom=noreply@github.com; dmarc=pass (p=REJECT sp=REJECT dis=NONE) header.from=github.com",
         SenderTrust::verified,
         {{"dkim", "pass"}, {"spf", "pass"}, {"dmarc", "pass"}}},
        {"microsoft",
         "spf=pass (sender IP is 40.107.22.51) smtp.mailfrom=contoso.com; dkim=pass (signature was verified) "
         "header.d=contoso.com;dmarc=pass action=none header.from=contoso.com;compauth=pass reason=100",
         SenderTrust::verified,
         {{"spf", "pass"}, {"dkim", "pass"}, {"dmarc", "pass"}}},
        {"fastmail",
         "mx3.messagingengine.com; dkim=pass (2048-bit rsa key sha256) header.d=example.org "
         "header.i=@example.org header.b=Xq1 header.a=rsa-sha256 header.s=fm1 x-bits=2048; "
         "dmarc=pass policy.published-domain-policy=reject policy.applied-disposition=none "
         "(p=reject,d=none,d.eval=none) policy.policy-from=p header.from=example.org; "
         "iprev=pass smtp.remote-ip=192.0.2.7 (out.example.org); spf=pass smtp.mailfrom=news@example.org",
         SenderTrust::verified,
         {{"dkim", "pass"}, {"dmarc", "pass"}, {"spf", "pass"}}},
        {"quoted authserv-id, phishing",
         "\"mail.example.net\"; spf=softfail (domain of transitioning paypal.com does not designate "
         "203.0.113.9 as permitted sender) smtp.mailfrom=service@paypal.com; dkim=none (message not signed); "
         "dmarc=fail (p=REJECT sp=REJECT dis=QUARANTINE) header.from=paypal.com",
         SenderTrust::failed,
         {{"spf", "softfail"}, {"dkim", "none"}, {"dmarc", "fail"}}},
        {"yahoo",
         "atlas220.free.mail.bf1.yahoo.com; dkim=perm_fail header.i=@shop.example header.s=k1; "
         "spf=pass smtp.mailfrom=shop.example; dmarc=unknown header.from=shop.example;",
         SenderTrust::partial,
         {{"dkim", "perm"}, {"spf", "pass"}, {"dmarc", "unknown"}}},
    };
    for (const auto& c : cases) {
        auto [verdict, results] = SenderTrust::from(auth(c.value));
        EXPECT_EQ(verdict, c.verdict) << c.provider;
        EXPECT_EQ(results, c.results) << c.provider;
    }
}

TEST(SenderTrust, OnlyTheTopmostHeaderCounts) {
    // A sender can add its own header below the receiving server's.
    auto h = headers({
        {"Authentication-Results", "mx.google.com; spf=softfail smtp.mailfrom=x@paypal.com; dkim=none; dmarc=fail"},
        {"Authentication-Results", "mx.google.com; spf=pass; dkim=pass; dmarc=pass"},
    });
    EXPECT_EQ(SenderTrust::from(h).first, SenderTrust::failed);

    auto forgedBelow = headers({
        {"Authentication-Results", "mx.example.net; spf=pass smtp.mailfrom=a.example; dkim=pass; dmarc=pass"},
        {"authentication-results", "mx.example.net; dmarc=fail"},
    });
    EXPECT_EQ(SenderTrust::from(forgedBelow).first, SenderTrust::verified);
}

TEST(SenderTrust, ARCOnlyWhenNoAuthenticationResults) {
    auto both = headers({
        {"ARC-Authentication-Results", "i=1; mx.google.com; dmarc=fail"},
        {"Authentication-Results", "mx.google.com; spf=pass"},
    });
    auto [v1, r1] = SenderTrust::from(both);
    EXPECT_EQ(v1, SenderTrust::partial);
    EXPECT_EQ(r1.count("dmarc"), 0u);

    auto arcOnly = headers({{"From", "x@b.example"},
                            {"arc-authentication-results",
                             "i=1; mx.google.com; dkim=pass header.d=b.example; spf=pass smtp.mailfrom=b.example"}});
    EXPECT_EQ(SenderTrust::from(arcOnly).first, SenderTrust::verified);

    auto emptyFirst = headers({{"Authentication-Results", ""}, {"ARC-Authentication-Results", "i=1; dmarc=pass"}});
    auto [v3, r3] = SenderTrust::from(emptyFirst);
    EXPECT_EQ(v3, SenderTrust::unknown);
    EXPECT_TRUE(r3.empty());

    EXPECT_EQ(SenderTrust::from(headers({{"Subject", "hi"}})).first, SenderTrust::unknown);
}

// Without DMARC, SPF and DKIM passing vouch for the sender only when the
// domains they checked are the From address's; "hardfail" is a failure.
TEST(SenderTrust, SPFAndDKIMMustNameTheSendersDomain) {
    struct Case {
        const char* from;
        const char* value;
        SenderTrust::Value verdict;
    } cases[] = {
        {"PayPal <service@paypal.com>", "mx; spf=pass smtp.mailfrom=x@evil.example; dkim=pass header.d=evil.example",
         SenderTrust::partial},
        {"PayPal <service@paypal.com>",
         "mx; spf=pass smtp.mailfrom=bounce@mail.paypal.com; dkim=pass header.d=PayPal.com", SenderTrust::verified},
        {"service@paypal.com", "mx; spf=pass smtp.mailfrom=x@evil.example; dkim=pass header.d=paypal.com",
         SenderTrust::partial},
        {"service@paypal.com", "mx; spf=pass smtp.mailfrom=paypal.com; dkim=pass header.d=evil.example",
         SenderTrust::partial},
        // a comment is free text: the domain named there counts for nothing
        {"service@paypal.com",
         "mx; spf=pass (smtp.mailfrom=paypal.com) smtp.mailfrom=evil.example; dkim=pass header.d=paypal.com",
         SenderTrust::partial},
        // the next entry's properties are not this one's
        {"service@paypal.com", "mx; spf=pass; dkim=pass header.d=paypal.com; x=y smtp.mailfrom=paypal.com",
         SenderTrust::partial},
        {"service@paypal.com", "mx; dkim=pass header.i=@news.paypal.com; spf=pass smtp.mailfrom=\"a@paypal.com\"",
         SenderTrust::verified},
        {"service@paypal.com",
         "mx; dkim=pass header.d=esp.example; dkim=pass header.d=paypal.com; spf=pass smtp.mailfrom=paypal.com",
         SenderTrust::verified},
        {"service@paypal.com", "mx; spf=pass smtp.helo=paypal.com; dkim=pass header.d=paypal.com",
         SenderTrust::partial},
        {"=?utf-8?q?PayPal?=", "mx; spf=pass smtp.mailfrom=paypal.com; dkim=pass header.d=paypal.com",
         SenderTrust::partial},
        {"", "mx; spf=pass smtp.mailfrom=paypal.com; dkim=pass header.d=paypal.com", SenderTrust::partial},
        // DMARC still decides
        {"service@paypal.com", "mx; spf=pass smtp.mailfrom=evil.example; dkim=pass header.d=evil.example; dmarc=pass",
         SenderTrust::verified},
        {"a@b.example", "mx; spf=hardfail", SenderTrust::failed},
        {"a@b.example", "mx; dkim=hardfail", SenderTrust::failed},
        {"a@b.example", "mx; spf=hardfail; dmarc=pass", SenderTrust::verified},
        {"a@b.example", "mx; dmarc=hardfail; spf=pass; dkim=pass", SenderTrust::failed},
    };
    for (const auto& c : cases) {
        auto h = headers({{"From", c.from}, {"Authentication-Results", c.value}});
        EXPECT_EQ(SenderTrust::from(h).first, c.verdict) << c.from << " | " << c.value;
    }
    EXPECT_TRUE(SenderTrust::isFailingResult("hardfail"));
}
