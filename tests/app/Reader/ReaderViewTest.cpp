// The reader pane as a user meets it: empty state, header, cards, chips,
// trust line, keyboard, and screenshots in both appearances.

#include "AppTestSupport.h"
#include "Platform/PreviewDialog.h"
#include "Reader/AttachmentFiles.h"
#include "Safety/HTMLInspector.h"
#include "Reader/MailWebView.h"
#include "Reader/MessageReader.h"
#include "Reader/ReaderMotion.h"
#include "Reader/ReaderPieces.h"
#include "ReaderFixtures.h"
#include "ReaderTestSupport.h"
#include "Platform/Appearance.h"
#include "Platform/ReduceMotion.h"
#include "Platform/WebSandbox.h"
#include "Reader/AttachmentList.h"
#include "Reader/ReaderText.h"
#include "DemoMode/Snapshotter.h"
#include "Store/AppStore.h"
#include "Theme/Theme.h"
#include "Views/SafetyNote.h"
#include "Views/Seal.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultEmpty.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QGraphicsOpacityEffect>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QLabel>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QPushButton>
#include <QWebEngineView>
#include <QTest>
#include <gtest/gtest.h>

using namespace bx;
using namespace bx::test;

namespace {

class ReaderViewTest : public PinnedLook {
protected:
  void SetUp() override {
    PinnedLook::SetUp();
    store_ = std::make_unique<AppStore>();
  }
  void TearDown() override {
    view_.reset();
    store_.reset();
    PinnedLook::TearDown();
  }
  MessageReader* open(const OpenMessage& m, QSize size = {760, 820}) {
    if (!view_) {
      view_ = std::make_unique<ReaderView>(store_.get());
      view_->resize(size);
      view_->show();
    }
    view_->present(std::make_shared<const OpenMessage>(m));
    QApplication::processEvents();
    return view_->reader();
  }
  template <class T>
  T* named(const char* name) {
    QWidget* scope = view_->reader() ? static_cast<QWidget*>(view_->reader()) : view_.get();
    return scope->findChild<T*>(QString::fromLatin1(name));
  }

  std::unique_ptr<AppStore> store_;
  std::unique_ptr<ReaderView> view_;
};

TEST_F(ReaderViewTest, EmptyStateWithoutVisibleMessagesHasNoButton) {
  view_ = std::make_unique<ReaderView>(store_.get());
  ASSERT_NE(view_->emptyState(), nullptr);
  auto* empty = qobject_cast<VaultEmpty*>(view_->emptyState());
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->titleBlock()->text(), "Pick a message");
  EXPECT_EQ(empty->textBlock()->text(), "Messages open here with remote images and trackers switched off.");
  EXPECT_EQ(view_->findChild<VaultButton*>("openNewest"), nullptr);
}

TEST_F(ReaderViewTest, HeaderShowsMarkupLiterallyAndTheRightLines) {
  auto* reader = open(sampleMessage());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(named<QLabel>("subject")->text(), "Quarterly <b>report</b> & figures");
  auto* name = named<QLabel>("senderName");
  EXPECT_EQ(name->text(), "Ada <Lovelace>");
  EXPECT_EQ(name->textFormat(), Qt::PlainText);
  auto* email = named<QLabel>("senderEmail");
  ASSERT_NE(email, nullptr);
  EXPECT_EQ(email->palette().color(QPalette::WindowText), Theme::caution.resolved());  // flagged sender
  EXPECT_EQ(named<TextBlock>("toLine")->text(), "to me@example.org, Bob");
  EXPECT_EQ(named<TextBlock>("ccLine"), nullptr);

  struct Case {
    const char* name;
    std::function<void(OpenMessage&)> change;
    QString senderName;
    bool emailLine;
    QString subject;
  };
  const std::vector<Case> cases = {
      {"no From", [](OpenMessage& m) { m.parsed.from.clear(); }, "(unknown sender)", false, {}},
      {"From without name", [](OpenMessage& m) { m.parsed.from = {MailAddress{"", "solo@example.com"}}; },
       "solo@example.com", false, {}},
      {"From with a name and no address", [](OpenMessage& m) { m.parsed.from = {MailAddress{"J\u00f6rg", ""}}; },
       QStringLiteral("J\u00f6rg"), false, {}},
      {"empty subject", [](OpenMessage& m) { m.parsed.subject.clear(); }, "Ada <Lovelace>", true, "(no subject)"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpenMessage m = sampleMessage("A/B/2026/case" + std::to_string(n++) + ".eml");
    c.change(m);
    open(m);
    EXPECT_EQ(named<QLabel>("senderName")->text(), c.senderName);
    EXPECT_EQ(named<QLabel>("senderEmail") != nullptr, c.emailLine);
    if (!c.subject.isEmpty()) {
      EXPECT_EQ(named<QLabel>("subject")->text(), c.subject);
    }
  }
}

TEST_F(ReaderViewTest, CardsAndTheImagesButton) {
  auto* reader = open(sampleMessage());
  auto notes = reader->notes();
  ASSERT_EQ(notes.size(), 3);
  EXPECT_EQ(notes[0]->tone(), SafetyNote::Tone::Danger);
  EXPECT_EQ(notes[0]->titleBlock()->text(), "This may not be who it says");
  ASSERT_EQ(notes[0]->lineBlocks().size(), 3);
  EXPECT_EQ(notes[1]->titleBlock()->text(), "1 link doesn’t go where it says");
  ASSERT_NE(notes[1]->actionButton(), nullptr);
  EXPECT_EQ(notes[1]->actionButton()->text(), "Show");
  EXPECT_EQ(notes[2]->titleBlock()->text(), "3 trackers blocked");
  ASSERT_NE(notes[2]->actionButton(), nullptr);
  EXPECT_EQ(notes[2]->actionButton()->text(), "Show 2 images");

  // Links list: starts collapsed, opens by the card and by the demo notification.
  EXPECT_EQ(reader->linkList(), nullptr);
  notes[1]->actionButton()->click();
  ASSERT_TRUE(waitUntil([&] { return reader->showLinks(); }, 2000));
  ASSERT_NE(reader->linkList(), nullptr);
  EXPECT_EQ(reader->notes()[1]->actionButton()->text(), "Hide");

  // Show images: the path enters the store's set, the button leaves, the card stays
  // and the body reloads under the images-only list.
  reader->notes()[2]->actionButton()->click();
  ASSERT_TRUE(waitUntil([&] { return store_->allowImagesFor().contains(QString::fromStdString(reader->message().record.path)); }, 2000));
  QApplication::processEvents();
  ASSERT_EQ(reader->notes().size(), 3);
  EXPECT_EQ(reader->notes()[2]->actionButton(), nullptr);
  EXPECT_EQ(reader->notes()[2]->titleBlock()->text(), "3 trackers blocked");
  ASSERT_TRUE(waitUntil([&] { return reader->webView()->ruleListInForce() == "brindlebox-images-only-2"; }));

  // Another message starts again: links collapsed.
  auto* next = open(sampleMessage("Work/INBOX/2026/other.eml"));
  EXPECT_NE(next, reader);
  EXPECT_FALSE(next->showLinks());
  DemoShowLinks::shared().post();
  EXPECT_TRUE(next->showLinks());

  // The same path again keeps the reader and its state.
  EXPECT_EQ(open(sampleMessage("Work/INBOX/2026/other.eml")), next);
  EXPECT_TRUE(next->showLinks());
}

TEST_F(ReaderViewTest, BodyInputsByKindOfMessage) {
  OpenMessage m = sampleMessage();
  m.parsed.htmlBody = std::string();
  auto body = MessageReader::bodyOf(m, true);
  EXPECT_TRUE(body.isHTML);  // present but empty is still HTML
  EXPECT_TRUE(body.allowRemote);
  m.parsed.htmlBody.reset();
  m.parsed.textBody.reset();
  body = MessageReader::bodyOf(m, true);
  EXPECT_FALSE(body.isHTML);
  EXPECT_FALSE(body.allowRemote);  // plain text never loads images
  EXPECT_TRUE(body.transparent);
  EXPECT_NE(body.html->find("(This message has no text.)"), std::string::npos);
}

TEST_F(ReaderViewTest, OnlyInlinePartsShownInTheBodyStayOutOfTheRow) {
  OpenMessage m = sampleMessage();
  MailAttachment logo;
  logo.id = 2;
  logo.filename = "logo.png";
  logo.mimeType = "image/png";
  logo.contentID = "logo1";
  logo.isInline = true;
  logo.data = "png";
  m.parsed.htmlBody = "<img src=\"cid:logo1\">";
  m.parsed.attachments = {logo};
  auto* reader = open(m);
  EXPECT_TRUE(reader->chips().isEmpty());
  EXPECT_EQ(named<QWidget>("attachments"), nullptr);
  m.parsed.htmlBody = "<p>no picture</p>";
  reader = open(sampleMessage("x/y/z.eml"));
  EXPECT_EQ(reader->chips().size(), 2);
}

TEST_F(ReaderViewTest, TrustLinePopoverListsTheRecordedChecks) {
  auto* reader = open(sampleMessage());
  TrustLine* line = reader->trustLine();
  EXPECT_EQ(line->toolTip(), "Sender checks recorded by your mail provider");
  line->click();
  ASSERT_TRUE(reader->showAuth());
  QStringList badges;
  for (auto* s : line->popover()->findChildren<Seal*>("authBadge")) badges << *s->text();
  EXPECT_EQ(badges, (QStringList{"SPF fail", "DKIM pass", "DMARC softfail"}));
  QTest::keyClick(line->popover(), Qt::Key_Escape);
  ASSERT_TRUE(waitUntil([&] { return !reader->showAuth(); }, 2000));
}

TEST_F(ReaderViewTest, KeyboardReachesTheControlsAndSpacePreviews) {
  auto* reader = open(sampleMessage());
  view_->activateWindow();
  QSet<QWidget*> reached;
  reader->catalogueLabel()->revealButton()->setFocus();
  for (int i = 0; i < 14; ++i) {
    reached.insert(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_TRUE(reached.contains(reader->trustLine()));
  EXPECT_TRUE(reached.contains(reader->notes()[1]->actionButton()));
  EXPECT_TRUE(reached.contains(reader->chips()[0]));
  EXPECT_TRUE(reached.contains(reader->chips()[0]->saveButton()));
  for (auto* button : reader->findChildren<VaultButton*>())
    if (button->text().isEmpty()) {
      EXPECT_FALSE(button->accessibleName().isEmpty());
    }

  AttachmentChip* chip = reader->chips()[1];  // notes.txt
  chip->setFocus();
  QTest::keyClick(chip, Qt::Key_Space);
  ASSERT_NE(reader->preview(), nullptr);
  EXPECT_EQ(reader->preview()->kind(), PreviewDialog::Kind::Text);
  ASSERT_TRUE(reader->quickLookURL().has_value());
  QTest::keyClick(reader->preview(), Qt::Key_Escape);
  ASSERT_TRUE(waitUntil([&] { return reader->preview() == nullptr; }, 2000));
  EXPECT_FALSE(reader->quickLookURL().has_value());
}

TEST_F(ReaderViewTest, SavingToastsOnlyAfterTheFileIsWritten) {
  auto* reader = open(sampleMessage());
  QTemporaryDir dir;
  QString target = dir.filePath("not-a-folder");
  { QFile f(target); f.open(QIODevice::WriteOnly); }
  AttachmentFiles::setChooser([&](const QString&) -> std::optional<QString> { return target + "/x.pdf"; });
  reader->chips()[0]->saveButton()->click();
  EXPECT_FALSE(store_->toast().has_value());
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "saveFailedAlert") w->close();
  target = dir.filePath("Renamed.pdf");
  AttachmentFiles::setChooser([&](const QString&) -> std::optional<QString> { return target; });
  reader->chips()[0]->saveButton()->click();
  ASSERT_TRUE(store_->toast().has_value());
  EXPECT_EQ(store_->toast()->text, "Saved “Renamed.pdf”");
  EXPECT_EQ(store_->toast()->symbol, "arrow.down.circle.fill");
  AttachmentFiles::setChooser(nullptr);
}

// A link whose text names its own look-alike host: the inspector's warning
// reaches the card, and the list names the host in its "xn--" form.
TEST_F(ReaderViewTest, LookalikeHostNamedInItsTextIsWarnedInASCII) {
  OpenMessage m = sampleMessage();
  m.parsed.htmlBody = "<p><a href=\"https://www.p\xd0\xb0ypal.com/login\">www.p\xd0\xb0ypal.com</a></p>";
  m.report = HTMLInspector::inspect(*m.parsed.htmlBody);
  ASSERT_EQ(m.report.linkWarnings.size(), 1u);
  auto* reader = open(m);
  ASSERT_NE(reader->note("linksNote"), nullptr);
  EXPECT_EQ(reader->note("linksNote")->titleBlock()->text(), "1 link doesn’t go where it says");
  reader->setShowLinks(true);
  ASSERT_NE(reader->linkList(), nullptr);
  QStringList texts;
  for (auto* label : reader->linkList()->findChildren<QLabel*>())
    if (!label->text().isEmpty()) texts << label->text();
  EXPECT_EQ(texts, (QStringList{QStringLiteral("p\u0430ypal.com"), "www.xn--pypal-4ve.com"}));
  // Clicks on it meet the same warning.
  EXPECT_TRUE(waitUntil([&] { return reader->webView()->warnings() == m.report.linkWarnings; }, 5000));
}

// Transitions run for real here: animations on, Reduce Motion both ways.
TEST_F(ReaderViewTest, PaneTransitionsSlideOrFadeByReduceMotion) {
  open(sampleMessage());
  Motion::setInstant(false);
  struct Case {
    const char* what;
    bool reduce;
    int offset;
    Animation animation;
  };
  const std::vector<Case> cases = {
      {"motion", false, 6, Animation::spring(0.22, 1.0)},
      {"reduce motion", true, 0, Motion::fade},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReduceMotion::shared().setOverride(c.reduce);
    auto* reader = open(sampleMessage("Work/INBOX/2026/t" + std::to_string(n++) + ".eml"));
    PaneTransition* t = view_->transition();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->transition().offset, c.offset);
    EXPECT_EQ(t->transition().animation, c.animation);
    EXPECT_TRUE(t->testAttribute(Qt::WA_TransparentForMouseEvents));
    // The new reader starts below its place (or in it, when fading only).
    auto* layout = qobject_cast<QBoxLayout*>(view_->layout());
    EXPECT_EQ(layout->contentsMargins().top(), c.offset);
    ASSERT_TRUE(waitUntil([&] { return view_->transition() == nullptr; }, 3000));
    EXPECT_EQ(layout->contentsMargins().top(), 0);
    EXPECT_EQ(reader->geometry().top(), 0);

    // The links list comes and goes with the same rule.
    reader->setShowLinks(true);
    ASSERT_NE(reader->linkList(), nullptr);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(reader->linkList()->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_LT(effect->opacity(), 0.5);
    EXPECT_EQ(reader->linkList()->layout()->contentsMargins().top(), c.reduce ? 0 : 8);
    ASSERT_TRUE(waitUntil([&] { return reader->linkList()->graphicsEffect() == nullptr; }, 3000));
    EXPECT_EQ(reader->linkList()->layout()->contentsMargins().top(), 0);
    reader->setShowLinks(false);
    EXPECT_EQ(reader->notes()[1]->actionButton()->text(), "Show");
    ASSERT_TRUE(waitUntil([&] { return reader->linkList() == nullptr; }, 3000));
  }

  // Back to the empty state: a fade, never a slide.
  ReduceMotion::shared().setOverride(false);
  view_->present(nullptr);
  ASSERT_NE(view_->transition(), nullptr);
  EXPECT_EQ(view_->transition()->transition().offset, 0);
  ASSERT_TRUE(waitUntil([&] { return view_->transition() == nullptr; }, 3000));
  Motion::setInstant(true);
}

TEST_F(ReaderViewTest, TheImagesButtonFadesOutBeforeTheCardsSettle) {
  auto* reader = open(sampleMessage());
  Motion::setInstant(false);
  VaultButton* button = reader->notes()[2]->actionButton();
  ASSERT_NE(button, nullptr);
  button->click();
  ASSERT_TRUE(waitUntil([&] { return button->graphicsEffect() != nullptr; }, 2000));
  EXPECT_EQ(reader->notes().size(), 3);
  ASSERT_TRUE(waitUntil([&] { return reader->notes().size() == 3 && !reader->notes()[2]->actionButton(); }, 3000));
  EXPECT_EQ(reader->notes()[2]->titleBlock()->text(), "3 trackers blocked");
  Motion::setInstant(true);
}

TEST_F(ReaderViewTest, ChipFillEasesBetweenRaisedAndHover) {
  auto* reader = open(sampleMessage());
  AttachmentChip* chip = reader->chips()[0];
  auto fillAt = [&] { return chip->grab().toImage().pixelColor(chip->width() / 2, chip->height() - 3); };
  const QColor raised = fillAt();
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  Motion::setInstant(false);
  QApplication::sendEvent(chip, &enter);
  EXPECT_TRUE(chip->isHovered());
  EXPECT_LT(chip->hoverFill(), 1.0);  // on its way, not there at once
  ASSERT_TRUE(waitUntil([&] { return chip->hoverFill() == 1.0; }, 2000));
  const QColor hovered = fillAt();
  EXPECT_NE(hovered, raised);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(chip, &leave);
  ASSERT_TRUE(waitUntil([&] { return chip->hoverFill() == 0.0; }, 2000));
  EXPECT_EQ(fillAt(), raised);
  Motion::setInstant(true);
}

TEST_F(ReaderViewTest, SubjectIsSelectableAndCutToThreeLines) {
  OpenMessage m = sampleMessage();
  open(m, {420, 560});
  auto* subject = named<QLabel>("subject");
  ASSERT_NE(subject, nullptr);
  EXPECT_TRUE(subject->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_TRUE(subject->textInteractionFlags() & Qt::TextSelectableByKeyboard);
  EXPECT_EQ(subject->textFormat(), Qt::PlainText);
  // Two lines at this width, and a copy still gives the subject as it is.
  EXPECT_EQ(subject->height(), 2 * QFontMetrics(subject->font()).lineSpacing());
  subject->setSelection(0, int(subject->text().size()));
  EXPECT_EQ(subject->selectedText(), "Quarterly <b>report</b> & figures");

  QString words;
  for (int i = 0; i < 80; ++i) words += QStringLiteral("word%1 ").arg(i);
  m.record.path = "Work/INBOX/2026/long.eml";
  m.parsed.subject = words.trimmed().toStdString();
  open(m);
  subject = named<QLabel>("subject");
  const int line = QFontMetrics(subject->font()).lineSpacing();
  EXPECT_EQ(subject->height(), 3 * line);
  EXPECT_EQ(subject->text().count('\n'), 2);
  EXPECT_TRUE(subject->text().endsWith(QStringLiteral("…")));
}

TEST_F(ReaderViewTest, PopoverArrowPointsAtTheTrustLine) {
  auto* reader = open(sampleMessage());
  view_->move(100, 400);
  QApplication::processEvents();
  TrustLine* line = reader->trustLine();
  line->click();
  auto* pop = qobject_cast<AuthPopover*>(line->popover());
  ASSERT_NE(pop, nullptr);
  const QPoint lineCentre = line->mapToGlobal(QPoint(line->width() / 2, 0));
  const QPoint tip = pop->mapToGlobal(pop->arrowTip());
  if (pop->arrowEdge() == Qt::BottomEdge) {
    EXPECT_EQ(tip.y(), lineCentre.y());  // sits right above the line
  } else {
    EXPECT_EQ(tip.y(), line->mapToGlobal(QPoint(0, line->height())).y());
  }
  EXPECT_NEAR(tip.x(), lineCentre.x(), 1);
  if (const QString shots = qEnvironmentVariable("BX_READER_SHOTS"); !shots.isEmpty()) {
    QDir().mkpath(shots);
    pop->grab().save(QDir(shots).filePath(pop->arrowEdge() == Qt::BottomEdge ? "reader-popover-above.png"
                                                                              : "reader-popover-below.png"));
  }
  // The card's corner outside the arrow is cut away, the arrow's tip kept.
  EXPECT_TRUE(pop->mask().contains(pop->arrowTip() + QPoint(0, pop->arrowEdge() == Qt::BottomEdge ? -2 : 2)));
  EXPECT_FALSE(pop->mask().contains(QPoint(1, pop->arrowEdge() == Qt::BottomEdge ? pop->height() - 2 : 1)));
  line->setShowAuth(false);
}

TEST_F(ReaderViewTest, LabelsFollowALiveAppearanceSwitch) {
  auto* reader = open(sampleMessage());
  ASSERT_NE(reader, nullptr);
  reader->setShowLinks(true);
  QApplication::processEvents();
  Appearance::shared().setOverride(ColorScheme::Dark);
  QApplication::processEvents();

  struct Case {
    const char* name;
    ThemeColor color;
  };
  for (const Case& c : {Case{"subject", Theme::ink}, Case{"senderName", Theme::ink},
                        Case{"senderEmail", Theme::caution}, Case{"date", Theme::ink2}, Case{"chipName", Theme::ink}}) {
    SCOPED_TRACE(c.name);
    auto* label = named<QLabel>(c.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), c.color.resolve(ColorScheme::Dark));
  }

  // Every other label and drawn icon ends up as a reader built in the dark
  // would draw it.
  MessageReader fresh(store_.get(), std::make_shared<const OpenMessage>(reader->message()));
  fresh.setShowLinks(true);
  QApplication::processEvents();
  const auto switched = reader->findChildren<QLabel*>();
  const auto built = fresh.findChildren<QLabel*>();
  ASSERT_EQ(switched.size(), built.size());
  for (qsizetype i = 0; i < switched.size(); ++i) {
    SCOPED_TRACE(switched[i]->text().toStdString() + " #" + std::to_string(i));
    EXPECT_EQ(switched[i]->palette().color(QPalette::WindowText), built[i]->palette().color(QPalette::WindowText));
    EXPECT_EQ(switched[i]->pixmap().toImage(), built[i]->pixmap().toImage());
  }
  auto rule = [](MessageReader* r) {
    for (auto* w : r->catalogueLabel()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (w->autoFillBackground()) return w;
    return static_cast<QWidget*>(nullptr);
  };
  ASSERT_NE(rule(reader), nullptr);
  EXPECT_EQ(rule(reader)->palette().color(QPalette::Window), Theme::rule.resolve(ColorScheme::Dark));
}

// A file the preview cannot draw: its Save… must still save the bytes of
// the message it came from after the store published a new value of that
// message (which replaces the reader's pieces).
TEST_F(ReaderViewTest, PreviewSavesAfterTheMessageIsPublishedAgain) {
  OpenMessage m = sampleMessage();
  MailAttachment blob;
  blob.id = 2;
  blob.filename = "archive.bin";
  blob.mimeType = "application/octet-stream";
  blob.data.resize(4 << 20);
  for (size_t i = 0; i < blob.data.size(); ++i) blob.data[i] = char('a' + i % 23);
  m.parsed.attachments = {blob};
  auto* reader = open(m);
  ASSERT_EQ(reader->chips().size(), 1);
  QTest::mouseClick(reader->chips()[0], Qt::LeftButton, {}, QPoint(30, 10));
  ASSERT_NE(reader->preview(), nullptr);
  QPointer<PreviewDialog> preview = reader->preview();
  ASSERT_TRUE(waitUntil([&] { return preview && !preview->isDecoding(); }, 10000));

  OpenMessage again = m;
  again.copy = CopyStatus::differs(100, 200);
  view_->present(std::make_shared<const OpenMessage>(again));
  view_->present(std::make_shared<const OpenMessage>(m));
  // Body work still queued for the first value would keep it alive: let it
  // finish and deliver, so that only the dialog could still hold it.
  ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(10000));
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(preview);
  EXPECT_EQ(view_->reader()->chips().size(), 1) << "the replaced pieces are gone";

  QTemporaryDir dir;
  const QString target = dir.filePath("saved.bin");
  AttachmentFiles::setChooser([&](const QString& suggested) -> std::optional<QString> {
    EXPECT_EQ(suggested, "archive.bin");
    return target;
  });
  QPushButton* save = nullptr;
  for (auto* b : preview->findChildren<QPushButton*>())
    if (b->text() == "Save…") save = b;
  ASSERT_NE(save, nullptr);
  save->click();
  AttachmentFiles::setChooser(nullptr);
  QFile f(target);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll() == QByteArray::fromStdString(blob.data));
  ASSERT_TRUE(store_->toast().has_value());
  EXPECT_EQ(store_->toast()->text, "Saved “saved.bin”");
}

// The store publishes the selected message again after a rescan: the same
// value changes nothing on screen, a new value of the same path changes the
// header only; the reader, its page and its state stay.
TEST_F(ReaderViewTest, TheSameMessageAgainKeepsTheReaderThePageAndTheState) {
  auto* reader = open(sampleMessage());
  ASSERT_TRUE(waitUntil([&] { return reader->webView()->loadsStarted() == 1; }, 10000));
  reader->setShowLinks(true);
  reader->trustLine()->click();
  QApplication::processEvents();
  ASSERT_TRUE(reader->showAuth());
  MailWebView* web = reader->webView();
  auto* subject = named<QLabel>("subject");
  QWidget* popover = reader->trustLine()->popover();

  view_->present(std::make_shared<const OpenMessage>(sampleMessage()));
  QApplication::processEvents();
  spin(300);
  EXPECT_EQ(view_->reader(), reader);
  EXPECT_EQ(reader->webView(), web);
  EXPECT_EQ(named<QLabel>("subject"), subject);
  EXPECT_EQ(reader->trustLine()->popover(), popover);
  EXPECT_TRUE(reader->showLinks());
  EXPECT_NE(reader->linkList(), nullptr);
  EXPECT_EQ(web->loadsStarted(), 1);

  OpenMessage verifiedNow = sampleMessage();
  verifiedNow.copy = CopyStatus::differs(48213, 50000);
  view_->present(std::make_shared<const OpenMessage>(verifiedNow));
  QApplication::processEvents();
  spin(300);
  EXPECT_EQ(view_->reader(), reader);
  EXPECT_EQ(reader->webView(), web);
  EXPECT_EQ(reader->catalogueLabel()->seal()->text(), "Copy differs");
  EXPECT_TRUE(reader->showLinks());
  EXPECT_TRUE(reader->showAuth());
  EXPECT_EQ(web->loadsStarted(), 1);
}

// What the user sees for a file that is gone: that it could not be read,
// which file and why; no seal, no size, no empty message.
TEST_F(ReaderViewTest, AnUnreadableFileSaysSoInsteadOfShowingAnEmptyMessage) {
  OpenMessage m;
  m.record = sampleMessage().record;
  m.unreadable = true;
  auto* reader = open(m);
  ASSERT_NE(reader, nullptr);
  auto texts = [&] {
    QStringList out;
    for (auto* label : reader->findChildren<QLabel*>()) if (label->isVisible()) out << label->text();
    for (auto* block : reader->findChildren<TextBlock*>()) if (block->isVisible()) out << block->text();
    return out.join('\n');
  };
  const QString shown = texts();
  EXPECT_TRUE(shown.contains("This message couldn’t be read")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("2026/2026-12-01 Hello abc.eml")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("No such file or directory")) << shown.toStdString();
  for (const char* absent : {"(no subject)", "(unknown sender)", "(This message has no text.)", "Zero KB", "Saved copy"})
    EXPECT_FALSE(shown.contains(QString::fromUtf8(absent))) << absent;
  EXPECT_EQ(reader->catalogueLabel()->seal(), nullptr);
  EXPECT_TRUE(reader->findChildren<Seal*>().isEmpty());
  EXPECT_EQ(reader->webView(), nullptr);
  EXPECT_EQ(reader->trustLine(), nullptr);

  // The file comes back (a backup fetched it again): the message shows.
  view_->present(std::make_shared<const OpenMessage>(sampleMessage()));
  QApplication::processEvents();
  ASSERT_NE(view_->reader()->webView(), nullptr);
  EXPECT_EQ(named<QLabel>("subject")->text(), "Quarterly <b>report</b> & figures");
  EXPECT_NE(view_->reader()->catalogueLabel()->seal(), nullptr);
}

// As root with the engine's sandbox on, the engine would end the
// application at the first page: the body shows as plain text with a note
// on what to do, and no web view is ever made.
TEST_F(ReaderViewTest, WithoutAUsableWebEngineBodiesShowAsPlainTextWithAdvice) {
  WebSandbox::setOverride(true);
  OpenMessage m = sampleMessage();
  m.parsed.textBody = "Plain words for root.";
  auto* reader = open(m, {420, 560});
  WebSandbox::setOverride(std::nullopt);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->webView(), nullptr);
  EXPECT_TRUE(reader->findChildren<QWebEngineView*>().isEmpty());
  ASSERT_NE(reader->plainBody(), nullptr);
  auto* text = reader->plainBody()->findChild<QLabel*>("plainText");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), "Plain words for root.");
  auto* note = reader->findChild<SafetyNote*>("sandboxNote");
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->isVisible());
  // On the smallest pane note and text scroll as one; neither is squeezed.
  auto* scroll = qobject_cast<QScrollArea*>(reader->plainBody());
  ASSERT_NE(scroll, nullptr);
  EXPECT_GE(note->height(), note->minimumSizeHint().height());
  scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
  QApplication::processEvents();
  EXPECT_TRUE(scroll->viewport()->rect().contains(
      QRect(text->mapTo(scroll->viewport(), QPoint(0, 0)), QSize(1, text->height()))))
      << "the text can be scrolled into view";
}

TEST(WebSandboxTest, RefusesOnlyRootWithTheSandboxOn) {
  struct Case {
    unsigned uid;
    const char* disable;
    const char* flags;
    bool refuses;
  } cases[] = {
      {1000, "", "", false},
      {0, "", "", true},
      {0, "0", "--disable-sync", true},
      {0, "1", "", false},
      {0, "", "--disable-sync --no-sandbox", false},
      {0, "", "--no-sandboxes", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WebSandbox::refuses(c.uid, c.disable, c.flags), c.refuses) << c.uid << " '" << c.disable << "' " << c.flags;
}

// Thousands of attachments: a few chips and "and K more", which opens the
// whole list over a model; its rows preview and save like the chips.
TEST_F(ReaderViewTest, ManyAttachmentsShowAFewChipsAndTheRestInAList) {
  OpenMessage m = sampleMessage();
  m.parsed.attachments.clear();
  for (int i = 0; i < 5000; ++i) {
    MailAttachment a;
    a.id = i;
    a.filename = "part-" + std::to_string(i) + ".txt";
    a.mimeType = "text/plain";
    a.data = "part " + std::to_string(i) + "\n";
    m.parsed.attachments.push_back(std::move(a));
  }
  auto* reader = open(m);
  EXPECT_EQ(reader->chips().size(), MessageReader::kChipsShown);
  auto* more = named<VaultButton>("moreAttachments");
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(more->text(), "and 4,994 more");
  EXPECT_TRUE(more->isVisible());
  EXPECT_LE(more->mapTo(view_.get(), QPoint(more->width(), 0)).x(), view_->width()) << "in view at the row's end";
  more->click();
  AttachmentListDialog* list = reader->attachmentList();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->model()->rowCount(), 5000);
  EXPECT_EQ(list->model()->index(4321).data().toString(), "part-4321.txt");

  list->view()->setCurrentIndex(list->model()->index(4321));
  QTest::keyClick(list->view(), Qt::Key_Return);
  ASSERT_NE(reader->preview(), nullptr);
  ASSERT_TRUE(reader->quickLookURL().has_value());
  EXPECT_EQ(QString::fromStdString(reader->quickLookURL()->filename().string()), "part-4321.txt");
  reader->preview()->close();

  QTemporaryDir dir;
  AttachmentFiles::setChooser([&](const QString& suggested) -> std::optional<QString> { return dir.filePath(suggested); });
  list->saveCurrent();
  AttachmentFiles::setChooser(nullptr);
  QFile saved(dir.filePath("part-4321.txt"));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), "part 4321\n");
}

// The header's time follows the locale's own clock; the file name copies
// whole even while it is cut on screen.
TEST_F(ReaderViewTest, HeaderTimeFollowsTheLocaleAndTheFileNameCopiesWhole) {
  const QLocale before;
  struct Case {
    QLocale locale;
    const char* time;
  } cases[] = {{QLocale(QLocale::German, QLocale::Germany), "12:00"},
               {QLocale(QLocale::English, QLocale::UnitedStates), "12:00\u202FPM"},
               {QLocale(QLocale::English, QLocale::UnitedKingdom), "12:00"}};
  for (const auto& c : cases) {
    QLocale::setDefault(c.locale);
    OpenMessage m = sampleMessage();
    m.parsed.date = Date(std::chrono::seconds(1764590400));  // 2025-12-01 12:00 UTC
    const QString date = ReaderText::headerDate(m);
    EXPECT_TRUE(date.endsWith(QString::fromUtf8(c.time)) || date.endsWith(QString::fromUtf8(c.time).replace(u'\u202F', ' ')))
        << date.toStdString() << " in " << c.locale.name().toStdString();
    EXPECT_FALSE(date.contains(":00:00")) << date.toStdString();
  }
  QLocale::setDefault(before);

  auto* reader = open(sampleMessage("Work/INBOX/2026/2026-12-11 Action required - please confirm your account now.eml"),
                      {420, 560});
  auto* name = reader->catalogueLabel()->findChildren<QLabel*>().value(0);
  for (auto* l : reader->catalogueLabel()->findChildren<QLabel*>())
    if (l->textInteractionFlags() & Qt::TextSelectableByKeyboard) name = l;
  ASSERT_TRUE(name->text().contains(QChar(0x2026))) << name->text().toStdString();
  name->setFocus();
  name->setSelection(0, int(name->text().size()));
  QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(),
            "2026/2026-12-11 Action required - please confirm your account now.eml");
}

TEST_F(ReaderViewTest, Screenshots) {
  const QString dir = qEnvironmentVariable("BX_READER_SHOTS");
  if (dir.isEmpty()) GTEST_SKIP() << "BX_READER_SHOTS not set";
  QDir().mkpath(dir);
  for (auto scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    for (QSize size : {QSize(760, 820), QSize(420, 560)}) {
      view_.reset();
      auto* reader = open(sampleMessage(), size);
      reader->setShowLinks(true);
      waitUntil([&] { return reader->webView()->loadsStarted() > 0; }, 5000);
      spin(1500);
      const QString name = QStringLiteral("%1/reader-%2-%3x%4.png")
                               .arg(dir, scheme == ColorScheme::Light ? "light" : "dark")
                               .arg(size.width())
                               .arg(size.height());
      EXPECT_TRUE(view_->grab().save(name));
      reader->trustLine()->click();
      QApplication::processEvents();
      if (reader->trustLine()->popover())
        reader->trustLine()->popover()->grab().save(QString(name).replace(".png", "-popover.png"));
      reader->trustLine()->setShowAuth(false);
    }
    // Halfway through a change of message.
    Motion::setInstant(false);
    open(sampleMessage("Work/INBOX/2026/next.eml"));
    waitUntil([&] { return view_->transition() && view_->transition()->progress() > 0.4; }, 2000);
    view_->grab().save(QStringLiteral("%1/reader-transition-%2.png").arg(dir, scheme == ColorScheme::Light ? "light" : "dark"));
    waitUntil([&] { return view_->transition() == nullptr; }, 3000);
    Motion::setInstant(true);
    view_.reset();
    view_ = std::make_unique<ReaderView>(store_.get());
    view_->resize(760, 820);
    view_->show();
    QApplication::processEvents();
    view_->grab().save(QStringLiteral("%1/reader-empty-%2.png").arg(dir, scheme == ColorScheme::Light ? "light" : "dark"));
  }
}

// The reader's other states, light and dark, at the default and the
// minimum pane size: a plain-text body, a body with blocked images, a file
// that cannot be read, many attachments with their list, and the plain text
// shown while the web engine cannot run.
TEST_F(ReaderViewTest, ScreenshotsOfTheOtherStates) {
  const QString dir = qEnvironmentVariable("BX_READER_SHOTS");
  if (dir.isEmpty()) GTEST_SKIP() << "BX_READER_SHOTS not set";
  QDir().mkpath(dir);
  OpenMessage plain = sampleMessage("Work/INBOX/2026/plain.eml");
  plain.parsed.htmlBody.reset();
  plain.parsed.textBody = "Hello Ada,\n\nThe figures for the quarter are attached. Numbers are up on every line, "
                          "and the new archive keeps every message as a plain file.\n\nSee https://example.org/report "
                          "for the long version.\n\nGrace";
  OpenMessage images = sampleMessage("Work/INBOX/2026/images.eml");
  images.parsed.htmlBody = "<p>Our sale starts today.</p><img src=\"http://127.0.0.1:9/banner.png\" width=\"600\" "
                           "height=\"120\" alt=\"Big sale\"><p>Two more pictures:</p><img src=\"http://127.0.0.1:9/a.png\" "
                           "width=\"120\" height=\"80\"> <img src=\"http://127.0.0.1:9/b.png\" width=\"120\" height=\"80\">";
  OpenMessage gone;
  gone.record = sampleMessage().record;
  gone.unreadable = true;
  OpenMessage many = sampleMessage("Work/INBOX/2026/many.eml");
  many.parsed.attachments.clear();
  for (int i = 0; i < 60; ++i) {
    MailAttachment a;
    a.id = i;
    a.filename = "scan-" + std::to_string(1000 + i) + (i % 3 ? ".pdf" : ".jpg");
    a.mimeType = "application/octet-stream";
    a.data = std::string(size_t(1000 + 997 * i), 'x');
    many.parsed.attachments.push_back(std::move(a));
  }
  struct Shot {
    const char* name;
    OpenMessage message;
    bool engineRefuses;
  };
  const std::vector<Shot> shots = {{"plain", plain, false},   {"images", images, false}, {"unreadable", gone, false},
                                   {"attachments", many, false}, {"root", plain, true}};
  for (auto scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    const QString look = scheme == ColorScheme::Light ? "light" : "dark";
    for (QSize size : {QSize(760, 820), QSize(420, 560)}) {
      for (const Shot& shot : shots) {
        view_.reset();
        WebSandbox::setOverride(shot.engineRefuses);
        auto* reader = open(shot.message, size);
        WebSandbox::setOverride(std::nullopt);
        if (reader->webView()) waitUntil([&] { return reader->webView()->loadsStarted() > 0; }, 5000);
        spin(1500);
        const QString name =
            QStringLiteral("%1/reader-%2-%3-%4x%5.png").arg(dir, shot.name, look).arg(size.width()).arg(size.height());
        EXPECT_TRUE(Snapshotter::render(view_.get()).save(name));
        if (std::string(shot.name) == "attachments" && size.width() == 760) {
          reader->showAttachmentList();
          spin(300);
          reader->attachmentList()->grab().save(QStringLiteral("%1/reader-attachment-list-%2.png").arg(dir, look));
          reader->attachmentList()->close();
        }
      }
    }
  }
}

} // namespace
