// The reader's derived words: reasons, card titles, seals, names and sizes.

#include "Reader/ReaderText.h"
#include "ReaderFixtures.h"
#include "Theme/Theme.h"

#include <gtest/gtest.h>

using namespace bx;

namespace {

TEST(ReaderTextTest, SenderReasonsFollowTrustFlagsAndReplyTo) {
  struct Case {
    const char* name;
    SenderTrust trust;
    std::map<std::string, std::string> auth;
    int flags;
    bool replyTo;
    QStringList expected;
  };
  const std::vector<Case> cases = {
      {"nothing", SenderTrust::verified, {{"spf", "pass"}}, 0, false, {}},
      {"failed but every check passed", SenderTrust::failed, {{"spf", "pass"}}, 0, false,
       {"Failed sender checks at your provider"}},
      {"failed without results", SenderTrust::failed, {}, 0, false, {"Failed sender checks at your provider"}},
      {"fixed order, passing skipped", SenderTrust::failed, {{"dmarc", "fail"}, {"dkim", "pass"}, {"spf", "softfail"}}, 0,
       false, {"Failed SPF, DMARC checks at your provider"}},
      {"flags then reply-to after the failure line", SenderTrust::failed, {{"dkim", "fail"}}, 2, true,
       {"Failed DKIM checks at your provider", "flag 0", "flag 1", "Replies would go to r@else.example"}},
      {"partial trust never adds a failure line", SenderTrust::partial, {{"spf", "fail"}}, 1, true,
       {"flag 0", "Replies would go to r@else.example"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenMessage m;
    m.trust = c.trust;
    m.authResults = c.auth;
    for (int i = 0; i < c.flags; ++i) m.senderFlags.push_back({SenderFlag::Kind::displayName, "flag " + std::to_string(i), ""});
    if (c.replyTo) m.replyTo = MailAddress{"", "r@else.example"};
    EXPECT_EQ(ReaderText::senderReasons(m), c.expected);
  }
}

TEST(ReaderTextTest, ChecksKeepTheFixedOrderAndOnlyPassCounts) {
  const auto checks = ReaderText::checks({{"dmarc", "pass"}, {"dkim", "softfail"}, {"arc", "fail"}});
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[0].key, "DKIM");
  EXPECT_EQ(checks[0].value, "softfail");
  EXPECT_FALSE(checks[0].passes);
  EXPECT_EQ(checks[1].key, "DMARC");
  EXPECT_TRUE(checks[1].passes);
  EXPECT_EQ(ReaderText::trustSeal(SenderTrust::unknown).symbol, "seal");
  EXPECT_EQ(ReaderText::trustSeal(SenderTrust::unknown).tint, Theme::ink3);
  EXPECT_EQ(ReaderText::trustSeal(SenderTrust::failed).symbol, "xmark.seal");
}

TEST(ReaderTextTest, CardTitlesSpellCountsInEnglish) {
  EXPECT_EQ(ReaderText::linksTitle(1), "1 link doesn’t go where it says");
  EXPECT_EQ(ReaderText::linksTitle(3), "3 links don’t go where they say");
  EXPECT_EQ(ReaderText::showImagesTitle(1), "Show 1 image");
  EXPECT_EQ(ReaderText::showImagesTitle(12), "Show 12 images");

  HTMLReport r;
  r.trackerCount = 4;
  r.trackerHosts = {"a.example", "b.example", "c.example"};
  EXPECT_EQ(ReaderText::trackerCard(r).title, "4 trackers blocked");
  EXPECT_EQ(ReaderText::trackerCard(r).text, "From a.example, b.example. They never load, even if you show images.");
  r.trackerCount = 1;
  r.trackerHosts.clear();
  EXPECT_EQ(ReaderText::trackerCard(r).title, "1 tracker blocked");
  EXPECT_EQ(ReaderText::trackerCard(r).text, "Hidden images that report when you open mail never load.");
  r.trackerCount = 0;
  r.remoteImageCount = 2;
  EXPECT_EQ(ReaderText::trackerCard(r).title, "Remote images are off");
  EXPECT_EQ(ReaderText::trackerCard(r).text, "Pictures from the web load only when you ask.");
}

TEST(ReaderTextTest, RelativeNameDropsAccountAndFolder) {
  EXPECT_EQ(ReaderText::relativeName("Work/INBOX/2026/file.eml"), "2026/file.eml");
  EXPECT_EQ(ReaderText::relativeName("Work//INBOX/2026/a/b.eml"), "2026/a/b.eml");
  EXPECT_EQ(ReaderText::relativeName("Work/file.eml"), "Work/file.eml");
  EXPECT_EQ(ReaderText::relativeName("file.eml"), "file.eml");
}

TEST(ReaderTextTest, CopySealsAndTheirTooltips) {
  EXPECT_EQ(ReaderText::copySeal(CopyStatus::verified(48213)).tooltip,
            "The file holds exactly the 48,213 bytes your server sent, and reads as a complete email.");
  const auto differs = ReaderText::copySeal(CopyStatus::differs(1000, 2500));
  EXPECT_EQ(differs.text, "Copy differs");
  EXPECT_EQ(differs.tooltip, "The file is 1,000 bytes but the server sent 2,500. Run a backup to fetch it again.");
  EXPECT_EQ(ReaderText::copySeal(CopyStatus::imported()).text, "Imported");
  EXPECT_EQ(ReaderText::copySeal(CopyStatus::saved()).symbol, "doc");
}

} // namespace
