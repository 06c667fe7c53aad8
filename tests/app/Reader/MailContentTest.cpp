// What a request may load, decided by the document it belongs to.

#include "Reader/MailContent.h"
#include "Reader/MailDocument.h"
#include "Safety/HTMLInspector.h"
#include "Reader/RuleList.h"

#include <gtest/gtest.h>

using namespace bx;
using RT = QWebEngineUrlRequestInfo;

namespace {

RuleListPtr compiled(const char* id, const QByteArray& text) {
  auto list = RuleList::compile(id, text);
  return list ? std::make_shared<const RuleList>(*list) : nullptr;
}

TEST(MailContentTest, RequestsAreJudgedByTheirOwnDocument) {
  auto& content = MailContent::shared();
  const auto block = compiled(RuleLists::blockRemoteIdentifier, RuleLists::blockRemoteSource());
  const auto images = compiled(RuleLists::imagesOnlyIdentifier, RuleLists::imagesOnlySource());
  ASSERT_TRUE(block && images);
  const QUrl blocked = content.publish("<p>a</p>", block, {});
  const QUrl allowed = content.publish("<p>b</p>", images, {"https://img.example/a.png"});
  const QUrl other("https://elsewhere.example/");

  struct Case {
    const char* name;
    QString request;
    QUrl firstParty;
    RT::ResourceType type;
    bool allow;
  };
  const std::vector<Case> cases = {
      {"counted image, images allowed", "https://img.example/a.png", allowed, RT::ResourceTypeImage, true},
      {"counted image with a fragment", "https://img.example/a.png#x", allowed, RT::ResourceTypeImage, true},
      {"scheme in capitals", "HTTPS://IMG.example/a.png", allowed, RT::ResourceTypeImage, true},
      {"uncounted image (CSS, srcset, poster)", "https://img.example/b.png", allowed, RT::ResourceTypeImage, false},
      {"counted address as a style sheet", "https://img.example/a.png", allowed, RT::ResourceTypeStylesheet, false},
      {"favicon is not an image", "https://img.example/a.png", allowed, RT::ResourceTypeFavicon, false},
      {"counted image while blocked", "https://img.example/a.png", blocked, RT::ResourceTypeImage, false},
      {"web socket", "wss://img.example/a.png", allowed, RT::ResourceTypeXhr, false},
      {"ftp", "ftp://img.example/a.png", allowed, RT::ResourceTypeImage, false},
      {"file", "file:///etc/passwd", allowed, RT::ResourceTypeImage, false},
      {"data", "data:image/png;base64,AAAA", blocked, RT::ResourceTypeImage, true},
      {"someone else's first party", "https://img.example/a.png", other, RT::ResourceTypeImage, false},
      {"our document as the main frame", allowed.toString(), QUrl(), RT::ResourceTypeMainFrame, true},
      {"our document as a frame", allowed.toString(), allowed, RT::ResourceTypeSubFrame, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(content.allows(QUrl(c.request), c.firstParty, c.type), c.allow) << c.name;

  // Once its document is replaced, a late request of it gets nothing.
  content.revoke(allowed);
  EXPECT_FALSE(content.allows(QUrl("https://img.example/a.png"), allowed, RT::ResourceTypeImage));
  content.revoke(blocked);
}

TEST(MailContentTest, RuleListsReadAsTheirTextSays) {
  const auto images = compiled(RuleLists::imagesOnlyIdentifier, RuleLists::imagesOnlySource());
  const auto block = compiled(RuleLists::blockRemoteIdentifier, RuleLists::blockRemoteSource());
  EXPECT_EQ(RuleLists::blockRemoteSource().size(), 131);
  EXPECT_EQ(RuleLists::imagesOnlySource().size(), 234);
  EXPECT_FALSE(images->blocks(QUrl("https://a.example/x.png"), "image"));
  for (const char* type : {"document", "style-sheet", "script", "font", "raw", "media", "ping"})
    EXPECT_TRUE(images->blocks(QUrl("http://a.example/x"), type)) << type;
  EXPECT_TRUE(images->blocks(QUrl("wss://a.example/"), "image"));
  EXPECT_TRUE(block->blocks(QUrl("HTTP://a.example/x.png"), "image"));
  EXPECT_FALSE(block->blocks(QUrl("data:image/png;base64,AA"), "image"));
  EXPECT_FALSE(RuleList::compile("x", "[{\"trigger\":{\"url-filter\":\"(\"},\"action\":{\"type\":\"block\"}}]"));
  EXPECT_FALSE(RuleList::compile("x", "[{\"trigger\":{},\"action\":{\"type\":\"block\"}}]"));
}

TEST(MailContentTest, TheShownDocumentIsReadAsTheEngineReadsIt) {
  const std::string html = HTMLInspector::prepareForDisplay(
      "<head><link rel=\"preconnect\" href=\"https://a.example\"></head>"
      "<img src=\" https://img.example/a b.png\n\"><img src=\"https://t.example/p.gif\" width=1 height=1>"
      "<img src=\"/relative.png\"><img src=\"cid:x\">"
      "<a href=\"https:\\\\evil.example\\x\" href=\"https://bank.example/\">bank.example</a>"
      "<a href=\"mailto:a@b.example\">write</a>",
      {}, false);
  EXPECT_EQ(html.find("preconnect"), std::string::npos);
  const MailDocument shown = MailDocument::read(html);
  EXPECT_EQ(shown.images, (QSet<QString>{MailContent::imageKey(QUrl("https://img.example/a%20b.png"))}));
  // Clicks arrive in the engine's spelling of the address.
  EXPECT_TRUE(shown.links.contains(MailDocument::linkKey(QUrl("https://evil.example/x#top"))));
  EXPECT_FALSE(shown.links.contains(MailDocument::linkKey(QUrl("https://bank.example/"))));
  EXPECT_TRUE(shown.links.contains(MailDocument::linkKey(QUrl("mailto:a@b.example"))));
}

} // namespace
