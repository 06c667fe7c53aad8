// The update window per phase, the settings tab's status line, the kit's
// start-up call, window host and menu command, read from the real widgets.

#include "UpdaterFixtures.h"

#include "Orrery/Orrery.h"
#include "Platform/PlatformText.h"
#include "Orrery/OrreryCommands.h"
#include "Orrery/WindowHost.h"
#include "Updater/UpdateError.h"
#include "Updater/UpdateSettingsView.h"
#include "Updater/UpdateView.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimeZone>
#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace orrery;
using namespace orrery::test;
using Phase = Updater::Phase;

namespace {

UpdateFeed feed(std::optional<QString> notes, bool withDownload, const QString& url = "https://example.com/v") {
  UpdateFeed f{"1.1", url, notes, std::nullopt, std::nullopt};
  if (withDownload) f.download = UpdateFeed::Download{"https://example.com/v.zip", 10, "sig"};
  return f;
}

struct Seen {
  QString title;
  QStringList texts; // detail labels, in order
  QStringList buttons;
  QString defaultButton;
  bool spinner = false;
  int progress = -1;
  bool orangeHint = false;
};

Seen read(UpdateView& view) {
  Seen s;
  s.title = view.findChild<QLabel*>("title")->text();
  for (QLabel* l : view.findChild<QWidget*>("detail")->findChildren<QLabel*>()) {
    s.texts << l->text();
    EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();
    if (l->objectName() == "hint") s.orangeHint = l->palette().color(QPalette::WindowText) == QColor(255, 149, 0);
  }
  for (QPushButton* b : view.findChild<QWidget*>("buttons")->findChildren<QPushButton*>()) {
    // As drawn: "&&" shows one ampersand, a single "&" marks a shortcut
    // letter and is not shown.
    QString shown = b->text();
    shown.replace("&&", QChar(1)).remove(u'&').replace(QChar(1), u'&');
    EXPECT_TRUE(QKeySequence::mnemonic(b->text()).isEmpty()) << b->text().toStdString();
    s.buttons << shown;
    if (b->isDefault()) s.defaultButton = shown;
  }
  s.spinner = view.findChild<QProgressBar*>("spinner") != nullptr;
  if (auto* bar = view.findChild<QProgressBar*>("progress")) s.progress = bar->value();
  return s;
}

class UpdateViews : public ::testing::Test {
public:
  void SetUp() override { scratch(); }
  // An updater of version 1.4; `inPlace` false points it at a folder that
  // does not exist, so it cannot be replaced where it stands.
  std::unique_ptr<Updater> make(bool withKey, bool inPlace) {
    const QString folder = QString::fromStdString(dir.string());
    writeAppInfo(folder, appInfo("1.4", "https://example.com/feed.json", withKey));
    Bundle b = *Bundle::open(folder);
    if (!inPlace) b.path = folder + "/missing/Vault";
    return std::make_unique<Updater>(b);
  }
  bx::test::TempDir dir{"view-app"};
};

} // namespace

TEST_F(UpdateViews, UpdateViewPerPhase) {
  const QString move = "Move App to your Applications folder to get updates automatically.";
  struct Case {
    const char* what;
    Phase phase;
    bool withKey, inPlace;
    Seen expected;
  } cases[] = {
      {"idle", Phase::idle(), true, true, {"Checking for updates\u2026", {}, {"OK"}, "OK", true}},
      {"checking", Phase::checking(), true, true, {"Checking for updates\u2026", {}, {"OK"}, "OK", true}},
      {"up to date", Phase::upToDate(), true, true,
       {"You\u2019re up to date", {"App 1.4 is the newest version."}, {"OK"}, "OK"}},
      {"available", Phase::available(feed("Fixes.", true)), true, true,
       {"App 1.1 is available", {"Fixes."}, {"Later", "Download & Install"}, "Download & Install"}},
      {"available, no download", Phase::available(feed("Fixes.", false)), true, true,
       {"App 1.1 is available", {"Fixes."}, {"Later", "Open Download Page"}, "Open Download Page"}},
      {"available, not in place", Phase::available(feed(std::nullopt, true)), true, false,
       {"App 1.1 is available", {"You have 1.4.", move}, {"Later", "Open Download Page"}, "Open Download Page", false,
        -1, true}},
      {"available, no key", Phase::available(feed(std::nullopt, true)), false, true,
       {"App 1.1 is available", {"You have 1.4."}, {"Later", "Open Download Page"}, "Open Download Page"}},
      {"downloading", Phase::downloading(feed(std::nullopt, true), 0.5), true, true,
       {"Downloading App 1.1\u2026", {}, {}, "", false, 500}},
      {"ready", Phase::ready(feed("<b>not bold</b>", true)), true, true,
       {"App 1.1 is ready",
        {"<b>not bold</b>", "It installs automatically the next time you quit App."},
        {"Later", "Restart Now"},
        "Restart Now"}},
      {"failed", Phase::failed(QString(400, u'w')), true, true,
       {"Update problem", {QString(400, u'w')}, {"OK"}, "OK"}},
  };
  for (const auto& c : cases) {
    auto u = make(c.withKey, c.inPlace);
    UpdateView view(*u);
    u->setPhaseForPreview(c.phase);
    if (c.expected.orangeHint) {
      // Here the hint reads through the application's text table.
      Orrery::setLocalizer(&bx::PlatformText::localize);
      u->setPhaseForPreview(c.phase);
      EXPECT_EQ(read(view).texts.value(1), "Move App to a folder you can write to, such as one in your home folder, "
                                           "to get updates automatically.");
      Orrery::setLocalizer(nullptr);
      u->setPhaseForPreview(c.phase);
    }
    const Seen s = read(view);
    EXPECT_EQ(s.title, c.expected.title) << c.what;
    EXPECT_EQ(s.texts, c.expected.texts) << c.what;
    EXPECT_EQ(s.buttons, c.expected.buttons) << c.what;
    EXPECT_EQ(s.defaultButton, c.expected.defaultButton) << c.what;
    EXPECT_EQ(s.spinner, c.expected.spinner) << c.what;
    EXPECT_EQ(s.progress, c.expected.progress) << c.what;
    EXPECT_EQ(s.orangeHint, c.expected.orangeHint) << c.what;
  }
}

namespace {
class UrlCatcher : public QObject {
  Q_OBJECT
public:
  QList<QUrl> opened;
public slots:
  void open(const QUrl& url) { opened << url; }
};
} // namespace

TEST_F(UpdateViews, OpenDownloadPageOpensOnlyWebPages) {
  UrlCatcher catcher;
  for (const char* scheme : {"https", "http", "file", "vault"}) QDesktopServices::setUrlHandler(scheme, &catcher, "open");
  struct Case {
    QString url;
    bool opens;
  } cases[] = {
      {"https://example.com/vault", true},
      {"http://example.com/vault", false},
      {"file:///usr/bin/xterm", false},
      {"vault://run", false},
      {"::not a url", false},
  };
  for (const auto& c : cases) {
    catcher.opened.clear();
    auto u = make(true, true);
    u->setPhaseForPreview(Phase::available(feed(std::nullopt, false, c.url)));
    WindowHost::show("update", "Software Update", 420, [&] { return new UpdateView(*u); });
    QWidget* window = WindowHost::window("update");
    ASSERT_TRUE(window);
    QPushButton* open = nullptr;
    for (auto* b : window->findChildren<QPushButton*>())
      if (b->text() == "Open Download Page") open = b;
    ASSERT_TRUE(open);
    open->click();
    EXPECT_EQ(catcher.opened.size(), c.opens ? 1 : 0) << c.url.toStdString();
    EXPECT_FALSE(window->isVisible()) << "the window closes either way";
  }
  for (const char* scheme : {"https", "http", "file", "vault"}) QDesktopServices::unsetUrlHandler(scheme);
}

TEST_F(UpdateViews, ReturnPressesTheDefaultButtonWhereverTheFocusIs) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  auto u = make(true, true);
  u->setPhaseForPreview(Phase::available(feed(std::nullopt, false)));
  WindowHost::show("update", "Software Update", 420, [&] { return new UpdateView(*u); });
  QWidget* window = WindowHost::window("update");
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  QPushButton* later = nullptr;
  for (auto* b : window->findChildren<QPushButton*>())
    if (b->text() == "Later") later = b;
  ASSERT_TRUE(later);
  later->setFocus();
  QTest::keyClick(later, Qt::Key_Return);
  EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl("https://example.com/v")}) << "Open Download Page was not pressed";
  EXPECT_FALSE(window->isVisible());
  QDesktopServices::unsetUrlHandler("https");
}

TEST(UpdateSettingsStatus, LinePerPhase) {
  const QDateTime now = QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC);
  struct Case {
    Phase phase;
    std::optional<QDateTime> lastChecked;
    QString line;
  } cases[] = {
      {Phase::idle(), std::nullopt, ""},
      {Phase::idle(), now.addSecs(-5 * 60), "Last checked 5 minutes ago."},
      {Phase::idle(), now.addDays(-1), "Last checked yesterday."},
      {Phase::idle(), now.addSecs(-3 * 3600 - 50), "Last checked 3 hours ago."},
      {Phase::checking(), now, "Checking\u2026"},
      {Phase::upToDate(), now.addDays(-1), "You\u2019re up to date."},
      {Phase::available(feed(std::nullopt, true)), std::nullopt, "Version 1.1 is available."},
      {Phase::downloading(feed(std::nullopt, true), 0.427), std::nullopt, "Downloading 1.1\u2026 42%"},
      {Phase::downloading(feed(std::nullopt, true), 0.999), std::nullopt, "Downloading 1.1\u2026 99%"},
      {Phase::downloading(feed(std::nullopt, true), 1.0), std::nullopt, "Downloading 1.1\u2026 100%"},
      {Phase::ready(feed(std::nullopt, true)), std::nullopt, "Version 1.1 installs when you quit."},
      {Phase::failed("Couldn\u2019t check."), std::nullopt, "Couldn\u2019t check."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UpdateSettingsView::statusLine(c.phase, c.lastChecked, now), c.line) << c.line.toStdString();
}

TEST_F(UpdateViews, SettingsSwitchIsStoredAndRead) {
  QSettings().clear();
  auto u = make(true, true);
  UpdateSettingsView view(*u);
  auto* box = view.findChild<QCheckBox*>("automatic");
  EXPECT_TRUE(box->isChecked());
  box->click();
  EXPECT_FALSE(u->automaticallyDownloads());
  EXPECT_EQ(QSettings().value("OrreryAutoUpdate").toBool(), false);
  auto relaunched = make(true, true);
  EXPECT_FALSE(relaunched->automaticallyDownloads());
  UpdateSettingsView again(*relaunched);
  EXPECT_FALSE(again.findChild<QCheckBox*>("automatic")->isChecked());
  EXPECT_EQ(again.findChild<QLabel*>("version")->text(), "1.4");
  EXPECT_EQ(again.findChild<QLabel*>("status")->text(), "");
  relaunched->setPhaseForPreview(Phase::failed("Nope."));
  EXPECT_EQ(again.findChild<QLabel*>("status")->text(), "Nope.");
  QSettings().clear();
}

TEST(OrreryBrand, StoredColours) {
  const QColor red(Qt::red), green(Qt::green), blue(Qt::blue);
  struct Case {
    QList<QColor> given;
    std::optional<QList<QColor>> stored; // nullopt: the two accent colours stay
  } cases[] = {
      {{}, std::nullopt},
      {{red}, QList<QColor>{red, red}},
      {{red, green}, QList<QColor>{red, green}},
      {{red, green, blue}, QList<QColor>{red, green, blue}},
  };
  for (const auto& c : cases) {
    BrandStore::reset();
    const QList<QColor> before = BrandStore::colors();
    ASSERT_EQ(before.size(), 2);
    BrandStore::store(c.given);
    EXPECT_EQ(BrandStore::colors(), c.stored.value_or(before)) << c.given.size();
  }
}

TEST(OrreryStart, OnceOnlyAndInertWithoutFeed) {
  BrandStore::reset();
  Orrery::start({QColor(30, 60, 114), QColor(42, 157, 143)});
  Orrery::start({Qt::red});
  EXPECT_EQ(Orrery::brand(), (QList<QColor>{QColor(30, 60, 114), QColor(42, 157, 143)}));
  // A test build names no feed: its updater checks nothing, and says so
  // when asked.
  EXPECT_FALSE(Orrery::updater().feedURL());
  EXPECT_EQ(Orrery::appName(), "App");
  Orrery::checkForUpdates();
  QCoreApplication::processEvents();
  EXPECT_EQ(Orrery::updater().phase(), Updater::Phase::failed(UpdateMessages::noFeed("App")));
  QWidget* window = WindowHost::window("update");
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->findChild<QLabel*>("message")->text(), UpdateMessages::noFeed("App"));
  WindowHost::close("update");
}

TEST(WindowHost, OneWindowPerIdKeptAfterClose) {
  int built = 0;
  auto factory = [&] {
    ++built;
    auto* w = new QLabel("content");
    w->setMinimumHeight(50 + built);
    return w;
  };
  WindowHost::show("kit-test", "Kit", 300, factory);
  QWidget* first = WindowHost::window("kit-test");
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->windowTitle(), "Kit");
  EXPECT_TRUE(first->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(first->width(), 300);
  WindowHost::show("kit-test", "Other", 500, factory);
  EXPECT_EQ(built, 1) << "a visible window is reused";
  EXPECT_EQ(WindowHost::window("kit-test"), first);
  EXPECT_EQ(first->windowTitle(), "Kit");

  WindowHost::close("kit-test");
  EXPECT_FALSE(first->isVisible());
  EXPECT_EQ(WindowHost::window("kit-test"), first) << "a closed window stays in the table";
  WindowHost::show("kit-test", "Kit", 300, factory);
  EXPECT_EQ(built, 2) << "a closed window is built afresh";
  EXPECT_NE(WindowHost::window("kit-test"), nullptr);
  EXPECT_TRUE(WindowHost::window("kit-test")->isVisible());
  WindowHost::close("kit-test");
  WindowHost::close("never-shown");
  EXPECT_EQ(WindowHost::window("never-shown"), nullptr);
}

TEST(OrreryCommands, CheckForUpdatesGoesAfterAbout) {
  QMenu menu;
  QAction* about = menu.addAction("About Brindlebox");
  QAction* quit = menu.addAction("Quit");
  QAction* check = OrreryCommands::addTo(&menu, about);
  EXPECT_EQ(menu.actions(), (QList<QAction*>{about, check, quit}));
  EXPECT_EQ(check->text(), "Check for Updates\u2026");
  EXPECT_TRUE(check->shortcut().isEmpty());
}

#include "ViewTest.moc"
