// The message body in the real web engine against a local server that
// counts every connection: nothing loads while blocked, exactly the counted
// images once they are allowed, and links follow the reader's policy.

#include "Reader/MailContent.h"
#include "Reader/MailWebView.h"
#include "Reader/ReaderPage.h"
#include "Reader/RemoteBlocker.h"
#include "Platform/Appearance.h"
#include "Theme/Theme.h"
#include "ReaderTestSupport.h"
#include "Safety/HTMLInspector.h"

#include <QDir>
#include <QMessageBox>
#include <QHash>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QWebEngineScript>
#include <gtest/gtest.h>

using namespace bx;
using namespace bx::test;

namespace {

std::string hostile(const QString& b) {
  const QString html = QStringLiteral(R"(<!doctype html><html><head>
<base href="BASE/base/">
<meta http-equiv="refresh" content="1;url=BASE/refresh">
<link rel="stylesheet" href="BASE/style.css">
<link rel="preconnect" href="BASE/">
<link rel="dns-prefetch" href="BASE/">
<link rel="prefetch" href="BASE/prefetch.html">
<link rel="icon" href="BASE/favicon.ico">
<style>@import url(BASE/import.css); .bg{background:url(BASE/css-bg.png)}</style>
<script src="BASE/script.js"></script>
</head><body background="BASE/body-bg.png">
<div class="bg">x</div>
<img src="BASE/counted-1.png" alt="one">
<img src="BASE/counted-2.png" width="300" alt="two">
<img src="BASE/pixel.gif" width="1" height="1">
<img src="
  BASE/ws-pixel.gif" width="1" height="1">
<img src="BASE/dup-pixel.gif" width="1" width="300" style="height:2px" style="height:300px">
<img src="BASE/unit-pixel.gif" style="width:.5px;height:/* x */0.1em">
<style>.pixel{width:1px;height:1px} .gone{display:none}</style>
<img class="pixel" src="BASE/class-pixel.gif">
<div class="gone"><img src="BASE/hidden-parent.png"></div>
<img src="BASE/offscreen.png" style="position:absolute;left:-9999px;top:0">
<div style="width:1px;height:1px;overflow:hidden"><img src="BASE/clipped.png"></div>
<img src="relative.png">
<img srcset="BASE/srcset.png 2x" src="data:image/gif;base64,R0lGODlhAQABAAAAACw=">
<picture><source srcset="BASE/picture.png"><img src="data:image/gif;base64,R0lGODlhAQABAAAAACw="></picture>
<table background="BASE/table-bg.png"><tr><td>t</td></tr></table>
<video poster="BASE/poster.png" src="BASE/video.mp4"></video>
<audio src="BASE/audio.mp3" autoplay></audio>
<object data="BASE/object.bin"></object><embed src="BASE/embed.bin">
<iframe src="BASE/frame.html"></iframe>
<iframe srcdoc="<img src='BASE/srcdoc.png'>"></iframe>
<svg width="10" height="10"><image href="BASE/svg-image.png" width="10" height="10"/></svg>
<a ping="BASE/ping" href="BASE/pinged">pinged</a>
<a download href="BASE/file.bin">download</a>
<form action="BASE/form" method="get" target="_blank"><input name="q" value="1"><button id="go"
 style="position:fixed;left:0;top:300px;width:200px;height:60px">Submit</button></form>
</body></html>)");
  return QString(html).replace("BASE", b).toStdString();
}

class MailWebViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    MailContent::shared().setRecording(true);
    MailContent::shared().clearDecisions();
    opened_.clear();
    MailWebView::setOpener([this](const QUrl& url) { opened_ << url; });
    view_ = std::make_unique<MailWebView>();
    view_->resize(800, 600);
    view_->show();
  }
  void TearDown() override {
    view_.reset();
    MailWebView::setOpener(nullptr);
    MailContent::shared().setRecording(false);
  }

  bool load(const std::string& html, bool allowRemote, std::vector<LinkWarning> warnings = {}) {
    bool finished = false;
    auto c = QObject::connect(view_.get(), &MailWebView::documentLoaded, [&](bool) { finished = true; });
    view_->update(html, allowRemote, false, std::move(warnings));
    const bool ok = waitUntil([&] { return finished; });
    QObject::disconnect(c);
    return ok;
  }

  void click(QPoint at) {
    QWidget* target = view_->focusProxy();
    ASSERT_NE(target, nullptr);
    QTest::mouseMove(target, at);
    spin(100);
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
  }

  std::unique_ptr<MailWebView> view_;
  QList<QUrl> opened_;
};

TEST_F(MailWebViewTest, HostileMessageLoadsNothingUntilImagesAreAllowedThenOnlyTheCountedImages) {
  CountServer server;
  ASSERT_GT(server.port(), 0);
  const std::string raw = hostile(server.base());
  const HTMLReport report = HTMLInspector::inspect(raw);
  // Two images shown, four pixels the markup gives away and four that only
  // the layout does; the frames are left out of the shown document.
  EXPECT_EQ(report.remoteImageCount, 6);
  EXPECT_EQ(report.trackerCount, 4);
  const std::string prepared = HTMLInspector::prepareForDisplay(raw, {}, false);

  ASSERT_TRUE(load(prepared, false));
  EXPECT_EQ(view_->ruleListInForce(), "brindlebox-block-remote");
  click({100, 330});  // the form's button
  spin(2500);         // past the meta refresh
  EXPECT_EQ(server.connections(), 0) << server.lines().join('\n').toStdString();
  EXPECT_TRUE(opened_.isEmpty());

  const int loads = view_->loadsStarted();
  ASSERT_TRUE(load(prepared, true));
  EXPECT_EQ(view_->loadsStarted(), loads + 1);
  EXPECT_EQ(view_->ruleListInForce(), "brindlebox-images-only-2");
  ASSERT_TRUE(waitUntil([&] { return server.requests().size() >= 2; }, 8000));
  EXPECT_EQ(view_->visibleImages().size(), 2);
  click({100, 330});
  spin(2500);
  QStringList requests = server.requests();
  requests.sort();
  EXPECT_EQ(requests, (QStringList{"GET /counted-1.png", "GET /counted-2.png"}))
      << server.lines().join('\n').toStdString();
  EXPECT_TRUE(opened_.isEmpty());
}

TEST_F(MailWebViewTest, SameHtmlAndPermissionDoNotReloadButWarningsChangeAtOnce) {
  const std::string html = HTMLInspector::prepareForDisplay("<p>hello</p>", {}, false);
  ASSERT_TRUE(load(html, false));
  const int loads = view_->loadsStarted();
  const QUrl first = view_->documentUrl();
  view_->update(html, false, false, {LinkWarning{"a", "bank.example", "evil.example", "http://evil.example/"}});
  spin(300);
  EXPECT_EQ(view_->loadsStarted(), loads);
  EXPECT_EQ(view_->documentUrl(), first);
  ASSERT_EQ(view_->warnings().size(), 1u);

  // The replaced document is forgotten: its address serves nothing more.
  ASSERT_TRUE(load(html, true));
  EXPECT_FALSE(MailContent::shared().isPublished(first));
  EXPECT_NE(view_->documentUrl(), first);
}

TEST_F(MailWebViewTest, LinkClicksFollowThePolicy) {
  const LinkWarning ascii{"www.bank.example", "bank.example", "evil.example", "https://evil.example/login"};
  const LinkWarning idn{"paypal.example", "paypal.example", "pаypal.example", "https://pаypal.example/"};
  auto box = [](int i, const QString& href, const QString& extra = {}) {
    return QStringLiteral("<a href=\"%1\" %2 style=\"position:fixed;left:0;top:%3px;width:300px;height:40px;"
                          "display:block\">link %4</a>")
        .arg(href, extra)
        .arg(i * 50)
        .arg(i);
  };
  // A link whose own text names another site, in shapes the engine reads
  // one way and a careless reader another.
  auto named = [](int i, const QString& href, const QString& text) {
    return QStringLiteral("<a href=\"%1\" style=\"position:fixed;left:0;top:%2px;width:300px;height:40px;"
                          "display:block\">%3</a>")
        .arg(href)
        .arg(i * 50)
        .arg(text);
  };
  const QString body = box(0, "https://evil.example/login") + box(1, "https://pаypal.example/") +
                       box(2, "HTTPS://fine.example/page") + box(3, "javascript:alert(1)") +
                       box(4, "file:///etc/passwd") + box(5, "mailto:a@b.example?subject=Hi&attach=/etc/passwd&body=x") +
                       box(6, "https://blank.example/", "target=\"_blank\"") +
                       box(7, "https://evil.example/other-path") +
                       named(8, "https:\\\\thief.example\\x\" href=\"https://bank.example/", "bank.example") +
                       named(9, "https://thief.example/", "Sign in at bank.example " + QString(220, 'x'));
  ASSERT_TRUE(load(HTMLInspector::prepareForDisplay(body.toStdString(), {}, false), false, {ascii, idn}));

  struct Case {
    int row;
    bool alert;
    QString expectedOpen;  // empty: nothing opens without confirmation
    QString alertHost;
  };
  const std::vector<Case> cases = {
      {0, true, {}, "evil.example"},
      {1, true, {}, "xn--pypal-4ve.example"},
      {2, false, "https://fine.example/page", {}},
      {3, false, {}, {}},
      {4, false, {}, {}},
      {5, false, "mailto:a@b.example?subject=Hi&body=x", {}},
      {6, false, "https://blank.example/", {}},
      {7, true, {}, "evil.example"},
      {8, true, {}, "thief.example"},
      {9, true, {}, "thief.example"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    opened_.clear();
    click({100, c.row * 50 + 20});
    if (c.alert) {
      ASSERT_TRUE(waitUntil([&] { return view_->linkAlert() && view_->linkAlert()->isVisible(); }, 5000));
      QMessageBox* alert = view_->linkAlert();
      const std::string shownDomain = c.row >= 8 ? "bank.example" : (c.row == 1 ? idn : ascii).shownDomain;
      EXPECT_EQ(alert->text().toStdString(), "This link doesn’t go to " + shownDomain);
      EXPECT_EQ(alert->informativeText(), "It opens " + c.alertHost + ". Only continue if you trust that site.");
      ASSERT_EQ(alert->buttons().size(), 2);
      if (const QString shots = qEnvironmentVariable("BX_READER_SHOTS"); !shots.isEmpty() && c.row == 9) {
        QDir().mkpath(shots);
        alert->grab().save(shots + "/link-confirmation.png");
      }
      EXPECT_EQ(alert->defaultButton()->text(), "Cancel");
      // Escape closes it and nothing opens.
      QTest::keyClick(alert, Qt::Key_Escape);
      spin(200);
      EXPECT_TRUE(opened_.isEmpty());
      // Again, confirming this time.
      click({100, c.row * 50 + 20});
      ASSERT_TRUE(waitUntil([&] { return view_->linkAlert() && view_->linkAlert()->isVisible(); }, 5000));
      QAbstractButton* open = nullptr;
      for (auto* b : view_->linkAlert()->buttons())
        if (b->text() == "Open " + c.alertHost) open = b;
      ASSERT_NE(open, nullptr);
      open->click();
      ASSERT_TRUE(waitUntil([&] { return !opened_.isEmpty(); }, 2000));
      EXPECT_EQ(opened_.first().host(QUrl::FullyEncoded), c.alertHost);
    } else {
      spin(700);
      EXPECT_EQ(view_->linkAlert(), nullptr);
      if (c.expectedOpen.isEmpty())
        EXPECT_TRUE(opened_.isEmpty());
      else {
        ASSERT_EQ(opened_.size(), 1);
        EXPECT_EQ(opened_.first().toString(QUrl::FullyEncoded), QUrl(c.expectedOpen).toString(QUrl::FullyEncoded));
      }
    }
  }
}

TEST_F(MailWebViewTest, AnAddressThatIsNoLinkOfTheDocumentIsRefused) {
  ASSERT_TRUE(load(HTMLInspector::prepareForDisplay("<a href=\"https://fine.example/\">fine</a>", {}, false), false,
                   {LinkWarning{"a", "bank.example", "evil.example", "https://evil.example/"}}));
  view_->activateLink(QUrl("https://elsewhere.example/"));
  view_->activateLink(QUrl("https://evil.example/"));
  spin(300);
  EXPECT_TRUE(opened_.isEmpty());
  EXPECT_EQ(view_->linkAlert(), nullptr);
  view_->activateLink(QUrl("https://fine.example/#part"));
  ASSERT_EQ(opened_.size(), 1);
}

TEST(MailWebViewNames, TheConfirmationNamesWhoRunsTheSiteFirst) {
  const std::vector<std::pair<std::string, QString>> cases = {
      {"evil.example", "evil.example"},
      {"secure-login.evil.example", "evil.example (secure-login.evil.example)"},
      {"www.bank.example.account-verify-session.evil.example",
       "evil.example (www.bank.examp…verify-session.evil.example)"},
      {"login.thief.co.uk", "thief.co.uk (login.thief.co.uk)"},
      {"203.0.113.5", "203.0.113.5"},
      {"login.pаypal.example", "xn--pypal-4ve.example (login.xn--pypal-4ve.example)"},
  };
  for (const auto& [host, named] : cases) EXPECT_EQ(MailWebView::confirmationSite(host), named) << host;
}

namespace {

double luminance(QColor c) {
  auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

double contrast(QColor a, QColor b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The page's last frame over `background` (a transparent page shows what is
// behind it).
QImage frameOver(QWidget* view, QColor background) {
  QImage out(view->size(), QImage::Format_ARGB32);
  out.fill(background);
  QPainter p(&out);
  p.drawPixmap(0, 0, view->grab());
  return out;
}

// The colour of the page's text: of all pixels, the one that stands out
// most from the page's most common colour.
QColor inkOf(const QImage& frame) {
  QHash<QRgb, int> counts;
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) ++counts[frame.pixel(x, y)];
  QRgb background = 0;
  for (auto it = counts.begin(); it != counts.end(); ++it)
    if (it.value() > counts.value(background)) background = it.key();
  QColor ink;
  double best = 0;
  for (auto it = counts.begin(); it != counts.end(); ++it) {
    const double c = contrast(QColor::fromRgb(it.key()), QColor::fromRgb(background));
    if (c > best) {
      best = c;
      ink = QColor::fromRgb(it.key());
    }
  }
  return ink;
}

bool near(QColor a, QColor b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

// The box of pixels that differ from `background`.
QRect inkBox(const QImage& frame, QColor background, int tolerance = 2) {
  QRect box;
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) {
      const QColor c = frame.pixelColor(x, y);
      if (std::abs(c.red() - background.red()) > tolerance || std::abs(c.green() - background.green()) > tolerance ||
          std::abs(c.blue() - background.blue()) > tolerance)
        box |= QRect(x, y, 1, 1);
    }
  return box;
}

}  // namespace

// The plain-text page is drawn in the reader's appearance, and follows a
// switch of it, whatever the engine believes the desktop prefers.
TEST_F(MailWebViewTest, PlainTextPageIsReadableInBothAppearancesAndFollowsASwitch) {
  const std::string page = HTMLInspector::plainTextDocument("Dark words on a dark page would vanish.");
  auto loadedOnce = [&](std::function<void()> start) {
    bool finished = false;
    auto c = QObject::connect(view_.get(), &MailWebView::documentLoaded, [&](bool) { finished = true; });
    start();
    const bool ok = waitUntil([&] { return finished; });
    QObject::disconnect(c);
    spin(400);
    return ok;
  };
  Appearance::shared().setOverride(ColorScheme::Dark);
  ASSERT_TRUE(loadedOnce([&] { view_->update(page, false, true, {}); }));
  // The engine's own picture of a page without a background is not what the
  // window shows, so the text is checked by its colour: the reader's ink for
  // the appearance (light on the dark panel: over 10:1).
  const QColor dark = Theme::panel.resolve(ColorScheme::Dark);
  QColor ink = inkOf(frameOver(view_.get(), dark));
  EXPECT_TRUE(near(ink, Theme::ink.resolve(ColorScheme::Dark), 40)) << ink.name().toStdString();
  EXPECT_GE(contrast(ink, dark), 7.0);

  const int loads = view_->loadsStarted();
  ASSERT_TRUE(loadedOnce([&] { Appearance::shared().setOverride(ColorScheme::Light); }));
  EXPECT_EQ(view_->loadsStarted(), loads + 1);
  const QColor light = Theme::panel.resolve(ColorScheme::Light);
  ink = inkOf(frameOver(view_.get(), light));
  EXPECT_TRUE(near(ink, Theme::ink.resolve(ColorScheme::Light), 40)) << ink.name().toStdString();
  EXPECT_GE(contrast(ink, light), 7.0);
  Appearance::shared().setOverride(std::nullopt);
}

// Blocked remote images keep their place: a box of the size the image
// declares, a wide banner held inside the pane, and no connection made. The
// boxes are measured by a script in a world of its own, apart from the page.
TEST_F(MailWebViewTest, BlockedImagesKeepTheirDeclaredSizeAndConnectNowhere) {
  CountServer server;
  ASSERT_GT(server.port(), 0);
  const QString html = QStringLiteral(
      R"(<p>before</p><img id="photo" src="BASE/photo.png" width="300" height="200" alt="A photo">)"
      R"(<img id="banner" src="BASE/banner.png" width="1600" height="120" srcset="BASE/banner2.png 2x">)"
      R"(<img id="bare" src="BASE/bare.png"><p>after</p>)");
  const std::string prepared = HTMLInspector::prepareForDisplay(QString(html).replace("BASE", server.base()).toStdString(),
                                                                {}, false, HTMLInspector::RemoteImages::placeholders);
  ASSERT_TRUE(load(prepared, false));
  spin(500);
  QVariantMap boxes;
  bool measured = false;
  view_->page()->runJavaScript(QStringLiteral(R"JS((function () {
    var out = {};
    ['photo', 'banner', 'bare'].forEach(function (id) {
      var r = document.getElementById(id).getBoundingClientRect();
      out[id] = [r.width, r.height];
    });
    out.pane = [document.documentElement.clientWidth, window.innerHeight];
    return out;
  })())JS"),
                               QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
                                 boxes = v.toMap();
                                 measured = true;
                               });
  ASSERT_TRUE(waitUntil([&] { return measured; }));
  auto size = [&](const char* id) {
    const QVariantList pair = boxes.value(QString::fromLatin1(id)).toList();
    return pair.size() == 2 ? QSizeF(pair[0].toDouble(), pair[1].toDouble()) : QSizeF();
  };
  EXPECT_EQ(size("photo"), QSizeF(300, 200));
  EXPECT_EQ(size("bare"), QSizeF(24, 24));
  const QSizeF pane = size("pane");
  EXPECT_GT(size("banner").width(), 300);
  EXPECT_LT(size("banner").width(), pane.width()) << "the banner stays inside the pane";
  EXPECT_EQ(size("banner").height(), 120);
  EXPECT_EQ(server.connections(), 0) << server.lines().join('\n').toStdString();
}

// On a very wide pane the lines stop at a readable width, centred.
TEST_F(MailWebViewTest, LinesStopAtAReadableWidthOnAWidePane) {
  std::string words;
  for (int i = 0; i < 200; ++i) words += "wide ";
  struct Case {
    std::string html;
    bool transparent;
  } cases[] = {{HTMLInspector::plainTextDocument(words), true},
               {HTMLInspector::prepareForDisplay("<p>" + words + "</p>", {}, false), false},
               // The message's own plain body rules come after the sheet.
               {HTMLInspector::prepareForDisplay(
                    "<html><head><style>body{margin:0;max-width:none}</style></head><body><p>" + words + "</p>", {},
                    false),
                false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.transparent);
    view_ = std::make_unique<MailWebView>();
    view_->resize(2560, 400);
    view_->show();
    bool finished = false;
    auto conn = QObject::connect(view_.get(), &MailWebView::documentLoaded, [&](bool) { finished = true; });
    view_->update(c.html, false, c.transparent, {});
    ASSERT_TRUE(waitUntil([&] { return finished; }));
    QObject::disconnect(conn);
    spin(1000);
    const QRect box = inkBox(frameOver(view_.get(), Qt::white), Qt::white, 40);
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LE(box.width(), ReaderPage::maxLineWidth);
    EXPECT_NEAR(box.center().x(), 1280, 40);
  }
}

// The sheet is in the head, before the body: one that comes after a large
// body makes the engine style all of it again.
TEST(ReaderPageTest, TheSheetIsInTheHeadBeforeTheBody) {
  const std::string sheet = ReaderPage::sheet(false, ColorScheme::Light);
  for (const std::string& document :
       {HTMLInspector::prepareForDisplay("<html><head><style>p{}</style></head><body><p>x</p></body></html>", {}, false),
        HTMLInspector::prepareForDisplay("<p>x</p>", {}, false), HTMLInspector::plainTextDocument("x")}) {
    const bool plain = document.rfind(HTMLInspector::plainTextHead(), 0) == 0;
    const QByteArray shown = ReaderPage::withSheet(document, plain, ColorScheme::Light);
    const std::string own = ReaderPage::sheet(plain, ColorScheme::Light);
    const qsizetype at = shown.indexOf(QByteArray::fromStdString(own));
    ASSERT_GE(at, 0) << document;
    EXPECT_LT(at, shown.indexOf("</head>")) << document;
    // Nothing of the document is lost or moved around it.
    EXPECT_EQ(shown.left(at) + shown.mid(at + qsizetype(own.size())), QByteArray::fromStdString(document));
  }
  // A document from elsewhere gets it at the end.
  EXPECT_TRUE(ReaderPage::withSheet("<p>x</p>", false, ColorScheme::Light).endsWith(QByteArray::fromStdString(sheet)));
}

TEST(RemoteBlockerTest, QueuedCallersAreAnsweredInOrderOnceAndReadyCallersAtOnce) {
  RemoteBlocker blocker(RuleLists::blockRemoteSource(), RuleLists::imagesOnlySource());
  QStringList calls;
  blocker.get([&](RuleListPtr list) { calls << "get:" + (list ? list->identifier() : "none"); });
  EXPECT_TRUE(blocker.isCompiling());
  for (int i = 0; i < 3; ++i)
    blocker.both([&, i](RuleListPtr a, RuleListPtr b) {
      calls << QStringLiteral("both%1:%2,%3").arg(i).arg(a ? a->identifier() : "none", b ? b->identifier() : "none");
    });
  EXPECT_TRUE(calls.isEmpty());
  ASSERT_TRUE(waitUntil([&] { return calls.size() == 4; }, 5000));
  EXPECT_EQ(calls, (QStringList{"get:brindlebox-block-remote",
                                "both0:brindlebox-block-remote,brindlebox-images-only-2",
                                "both1:brindlebox-block-remote,brindlebox-images-only-2",
                                "both2:brindlebox-block-remote,brindlebox-images-only-2"}));
  EXPECT_EQ(blocker.compileOrder(), (QStringList{"brindlebox-block-remote", "brindlebox-images-only-2"}));
  bool synchronous = false;
  blocker.both([&](RuleListPtr, RuleListPtr) { synchronous = true; });
  EXPECT_TRUE(synchronous);
}

TEST(RemoteBlockerTest, AFailedListIsAnsweredAbsentAndLaterCallersAreNotLeftWaiting) {
  RemoteBlocker blocker("not json", RuleLists::imagesOnlySource());
  int answered = 0;
  RuleListPtr first = std::make_shared<RuleList>();
  blocker.both([&](RuleListPtr a, RuleListPtr b) {
    ++answered;
    first = a;
    EXPECT_NE(b, nullptr);
  });
  ASSERT_TRUE(waitUntil([&] { return answered == 1; }, 5000));
  EXPECT_EQ(first, nullptr);
  blocker.get([&](RuleListPtr a) {
    ++answered;
    EXPECT_EQ(a, nullptr);
  });
  EXPECT_EQ(answered, 2);
}

} // namespace
