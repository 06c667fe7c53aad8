// The inspector and the web engine must read a message alike: every link
// and image the engine's DOM holds for a shown document is one the
// inspector's tree holds, with the same target, and every link whose text
// names another site is warned about. The engine's DOM is read by a script
// in an isolated world (the page's own scripts stay off).

#include "Reader/MailContent.h"
#include "Reader/MailDocument.h"
#include "Reader/MailWebView.h"
#include "ReaderTestSupport.h"
#include "Safety/HTMLInspector.h"

#include <QRandomGenerator>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <gtest/gtest.h>

#include <algorithm>

using namespace bx;
using namespace bx::test;

namespace {

// Links (target and text, read as the inspector reads them) and image
// addresses of the live DOM, in document order.
const char* const readDom = R"JS((function () {
  function text(n) {
    var out = '';
    var stack = [n];
    while (stack.length) {
      var x = stack.pop();
      if (x.nodeType === 3) { out += x.data; continue; }
      if (x.nodeType !== 1) continue;
      var t = x.localName;
      if (t === 'script' || t === 'style' || t === 'template') continue;
      if (t === 'br') out += ' ';
      if (t === 'img' && x.namespaceURI === 'http://www.w3.org/1999/xhtml' && x.hasAttribute('alt'))
        out += ' ' + x.getAttribute('alt') + ' ';
      for (var c = x.lastChild; c; c = c.previousSibling) stack.push(c);
    }
    return out.replace(/[ \t\n\f\r]+/g, ' ').trim();
  }
  var xlink = 'http://www.w3.org/1999/xlink', links = [], images = [];
  document.querySelectorAll('a, area').forEach(function (el) {
    var svg = el.namespaceURI === 'http://www.w3.org/2000/svg';
    // Links are HTML's <a> and <area>, and SVG's <a>; an <area> inside
    // SVG is an unknown element.
    if (!(el.namespaceURI === 'http://www.w3.org/1999/xhtml' || (svg && el.localName === 'a'))) return;
    if (!el.hasAttribute('href') && !(svg && el.hasAttributeNS(xlink, 'href'))) return;
    var href = svg ? new URL(el.href.baseVal, document.baseURI).href : el.href;
    links.push([href, el.localName === 'area' ? (el.getAttribute('alt') || '').trim() : text(el)]);
  });
  for (var i = 0; i < document.images.length; i++)
    if (document.images[i].hasAttribute('src')) images.push(document.images[i].src);
  return {links: links, images: images};
})())JS";

bool navigable(const QUrl& url) {
  const QString s = url.scheme().toLower();
  return s == "http" || s == "https" || s == "mailto";
}

// Hostile documents by family: each is a way the two readings once parted.
std::vector<std::pair<std::string, std::string>> hostileTable() {
  return {
      {"duplicate href", R"(<a href="https://evil.example/" href="https://bank.example/">bank.example</a>)"},
      {"white space around", "<a href=\"\n \t https://evil.example/x \x01\">bank.example</a>"},
      {"no slashes", R"(<a href="https:evil.example">bank.example</a>)"},
      {"backslashes", R"(<a href="https:\\evil.example\">bank.example</a><a href="https:/\evil.example/">bank.example</a>)"},
      {"base href", R"(<head><base href="https://evil.example/"></head><a href="login">bank.example</a>)"},
      {"long text", "<a href=\"https://evil.example/\">bank.example " + std::string(260, 'y') + "</a>"},
      {"image map", R"(<img src="data:image/gif;base64,R0lGODlhAQABAAAAACw=" usemap="#m"><map name="m"><area href="https://evil.example/" alt="bank.example" coords="0,0,5,5"></map>)"},
      {"svg link", R"(<svg><a xlink:href="https://evil.example/"><text y="10">bank.example</text></a></svg>)"},
      {"entities", R"(<a href="https&#x3A;&#x2F;&#x2F;evil&period;example/">bank&#46;example</a>)"},
      {"tab in scheme", "<a href=\"ht\ttps://evil.example/\">bank.example</a>"},
      {"foster parenting", R"(<table><a href="https://evil.example/">bank.example</a><tr><td>x</td></tr></table>)"},
      {"nested anchors", R"(<a href="https://one.example/">one.example <a href="https://evil.example/">bank.example</a></a>)"},
      {"malformed end tags", R"(<a href="https://evil.example/">bank</a foo>.example</a><p>x</ p></div>)"},
      {"formatting across blocks", R"(<b><a href="https://evil.example/">bank<p>.example</b></p></a>)"},
      {"unclosed attribute quote", R"(<a href='https://evil.example/>bank.example</a><a href="https://two.example/">two.example</a>)"},
      {"comment tricks", R"(<!-- <a href="https://hidden.example/"> --!><a href="https://evil.example/">bank.example</a><!--->)"},
      {"noscript", R"(<noscript><a href="https://evil.example/">bank.example</a></noscript>)"},
      {"template", R"(<template><a href="https://evil.example/">bank.example</a></template><a href="https://ok.example/">ok.example</a>)"},
      {"select and textarea", R"(<select><a href="https://evil.example/">bank.example</a></select><textarea><a href="https://x.example/">x</a></textarea>)"},
      {"raw text", R"(<xmp><a href="https://evil.example/">bank.example</a></xmp><style></style><a href="https://two.example/">bank.example</a>)"},
      {"IP in hex", R"(<a href="http://0x7f.0.0.1/">bank.example</a>)"},
      {"userinfo", R"(<a href="https://bank.example@evil.example/">bank.example</a>)"},
      {"percent host", R"(<a href="https://%65vil.example/">bank.example</a>)"},
      {"image white space", "<img src=\"\n https://cdn.example/a.png\"><img src=\"https:cdn.example/b.png\"><img src=\"https:\\\\cdn.example\\c.png\">"},
      {"image duplicates", R"(<img src="https://cdn.example/a.png" src="https://cdn.example/b.png" width="9"><image src="https://cdn.example/c.png">)"},
      {"plaintext", R"(<a href="https://ok.example/">ok.example</a><plaintext><a href="https://evil.example/">bank.example</a>)"},
  };
}

// Random markup from the pieces that part parsers: nesting, duplicate
// attributes, odd white space, malformed end tags, entities.
std::string generated(QRandomGenerator& rng) {
  static const char* const hrefs[] = {
      "https://evil.example/",  " https://evil.example/a ", "https:evil.example", "https:\\\\evil.example\\x",
      "HTTPS://Bank.Example/",  "https://bank.example/p?q=1&amp;r=2", "mailto:x@bank.example",
      "ht&#x09;tps://evil.example/", "https://evil.example/%7e?x#frag", "relative/path", "//evil.example/",
      "http://203.0.113.7/", "javascript:void(0)", "https://b&#252;cher.example/"};
  static const char* const texts[] = {"bank.example", "Bank.Example/login", "click here", "www.evil.example",
                                      "report.pdf", "b&#97;nk.example", "bank .example", "  "};
  static const char* const opens[] = {"<div>", "<p>", "<b>", "<i>", "<table>", "<tr>", "<td>", "<span class=x>",
                                      "<ul><li>", "<font color=red>", "<svg>", "<em>", "<form>", "<select>"};
  static const char* const closes[] = {"</div>", "</p>", "</b>", "</i>", "</table>", "</tr>", "</td>", "</span>",
                                       "</li></ul>", "</font>", "</svg>", "</em>", "</a >", "</a x=1>", "</ a>",
                                       "</form>", "</select>", "</"};
  auto pick = [&](const auto& list) { return std::string(list[rng.bounded(int(std::size(list)))]); };
  std::string html;
  if (rng.bounded(2)) html += "<!doctype html>";
  const int pieces = 8 + rng.bounded(16);
  for (int i = 0; i < pieces; ++i) {
    switch (rng.bounded(6)) {
      case 0: html += pick(opens); break;
      case 1: html += pick(closes); break;
      case 2: {
        std::string a = "<a";
        const int n = 1 + rng.bounded(3);
        for (int k = 0; k < n; ++k) a += (rng.bounded(2) ? "\n" : " ") + std::string("href=\"") + pick(hrefs) + "\"";
        html += a + ">" + pick(texts) + (rng.bounded(3) ? "</a>" : "");
        break;
      }
      case 3: {
        std::string img = "<img";
        const int n = 1 + rng.bounded(2);
        for (int k = 0; k < n; ++k)
          img += std::string(" src=\"") + (rng.bounded(2) ? "\t" : "") + "https://cdn.example/" +
                 std::to_string(rng.bounded(100)) + ".png\"";
        if (rng.bounded(2)) img += " width=\"" + std::to_string(rng.bounded(4)) + "\"";
        html += img + ">";
        break;
      }
      case 4: html += pick(texts); break;
      default: html += "<area href=\"" + pick(hrefs) + "\" alt=\"" + pick(texts) + "\">"; break;
    }
  }
  return html;
}

class ReadingDifferentialTest : public ::testing::Test {
protected:
  void SetUp() override {
    view_ = std::make_unique<MailWebView>();
    view_->resize(800, 600);
    view_->show();
  }

  struct Dom {
    std::vector<std::pair<QString, QString>> links;
    QStringList images;
  };

  std::optional<Dom> show(const std::string& document) {
    bool loaded = false;
    auto c = QObject::connect(view_.get(), &MailWebView::documentLoaded, [&](bool) { loaded = true; });
    view_->update(document, false, false, {});
    const bool ok = waitUntil([&] { return loaded; });
    QObject::disconnect(c);
    if (!ok) return std::nullopt;
    QVariant result;
    bool answered = false;
    view_->page()->runJavaScript(QString::fromLatin1(readDom), QWebEngineScript::ApplicationWorld,
                                 [&](const QVariant& v) {
                                   result = v;
                                   answered = true;
                                 });
    if (!waitUntil([&] { return answered; })) return std::nullopt;
    Dom dom;
    const QVariantMap map = result.toMap();
    for (const QVariant& l : map.value("links").toList())
      dom.links.emplace_back(l.toList().value(0).toString(), l.toList().value(1).toString());
    for (const QVariant& i : map.value("images").toList()) dom.images << i.toString();
    return dom;
  }

  // Compares one document's two readings; returns the disagreements.
  QStringList compare(const std::string& html) {
    QStringList out;
    const std::string shown = HTMLInspector::prepareForDisplay(html, {}, false);
    const HTMLReport report = HTMLInspector::inspect(html);
    const HTMLInspector::Shown tree = HTMLInspector::shown(shown);
    const auto dom = show(shown);
    if (!dom) return {"the engine did not load the document"};

    // Links the policy acts on: both sides, same targets, same order.
    std::vector<std::pair<QString, QString>> engine;
    for (const auto& [href, text] : dom->links)
      if (navigable(QUrl(href))) engine.emplace_back(MailDocument::linkKey(QUrl(href)), text);
    std::vector<std::pair<QString, const HTMLInspector::Link*>> ours;
    for (const auto& link : tree.links) {
      const QUrl target(QString::fromStdString(link.target));
      if (!target.isRelative() && navigable(target)) ours.emplace_back(MailDocument::linkKey(target), &link);
    }
    if (engine.size() != ours.size()) out << QStringLiteral("%1 links in the engine, %2 in the tree").arg(engine.size()).arg(ours.size());
    for (size_t i = 0; i < std::min(engine.size(), ours.size()); ++i) {
      if (engine[i].first != ours[i].first) out << "link target " + engine[i].first + " vs " + ours[i].first;
      // The warning the engine's own reading calls for is the one the
      // inspector gives.
      const auto theirs = HTMLInspector::linkWarning(engine[i].first.toStdString(), engine[i].second.toStdString());
      const auto mine = HTMLInspector::linkWarning(ours[i].second->href, ours[i].second->text);
      if (theirs.has_value() != mine.has_value() || (theirs && theirs->actualHost != mine->actualHost))
        out << "warning for " + engine[i].first + " (" + engine[i].second + ")";
      if (theirs && std::none_of(report.linkWarnings.begin(), report.linkWarnings.end(),
                                 [&](const LinkWarning& w) { return w.actualHost == theirs->actualHost; }))
        out << "no warning in the report for " + engine[i].first;
    }

    // Images: every http(s) image of the DOM is one the tree judged visible.
    QStringList engineImages, ourImages;
    for (const QString& src : dom->images)
      if (QUrl(src).scheme().startsWith("http")) engineImages << MailContent::imageKey(QUrl(src));
    for (const auto& src : tree.images) ourImages << MailContent::imageKey(QUrl(QString::fromStdString(src)));
    if (engineImages != ourImages) out << "images " + engineImages.join(' ') + " vs " + ourImages.join(' ');
    if (report.remoteImageCount != int(ourImages.size()))
      out << QStringLiteral("report counts %1 images, the shown document holds %2").arg(report.remoteImageCount).arg(ourImages.size());
    return out;
  }

  std::unique_ptr<MailWebView> view_;
};

TEST_F(ReadingDifferentialTest, HostileShapesReadAlike) {
  for (const auto& [name, html] : hostileTable()) {
    const QStringList disagreements = compare(html);
    EXPECT_TRUE(disagreements.isEmpty()) << name << ": " << disagreements.join("; ").toStdString();
  }
}

TEST_F(ReadingDifferentialTest, GeneratedMarkupReadsAlike) {
  QRandomGenerator rng(20261211);
  int disagreeing = 0;
  for (int i = 0; i < 60; ++i) {
    const std::string html = generated(rng);
    const QStringList disagreements = compare(html);
    if (!disagreements.isEmpty()) ++disagreeing;
    EXPECT_TRUE(disagreements.isEmpty()) << html << "\n  " << disagreements.join("\n  ").toStdString();
  }
  EXPECT_EQ(disagreeing, 0);
}

} // namespace
