#include "AppTestSupport.h"

#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/Leader.h"
#include "Views/Monogram.h"
#include "Views/ProgressLine.h"
#include "Views/SafetyNote.h"
#include "Views/Seal.h"
#include "Views/SmallCaps.h"
#include "Views/StepRail.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"
#include "Views/VaultEmpty.h"

#include <QBoxLayout>
#include <QSignalSpy>
#include <cmath>

using namespace bx;
using bx::test::PinnedLook;

namespace {
class PieceTest : public PinnedLook {};
} // namespace

TEST(Monogram, InitialsRule) {
  struct Case {
    const char* name;
    const char* email;
    const char* initials;
  } cases[] = {
      {"Ada Lovelace", "ada@example.org", "AL"},
      {"Grace Brewster Hopper", "", "GB"},          // first two words only
      {"élodie", "", "É"},                          // accent kept, capitalised
      {"jane_doe", "", "JD"},                       // underscore splits
      {"jane.doe", "", "JD"},                       // full stop splits
      {"", "jane.doe@example.org", "JD"},           // empty name: the address
      {"", "postmaster@example.org", "PE"},         // local part and domain
      {"", "", "?"},
      {"._@ ", "x@y.z", "?"},                        // separators only: no fallback to the address
      {"  ada   lovelace  ", "", "AL"},              // runs of separators
      {"mary-jane o'neil", "", "MO"},                // hyphen and apostrophe do not split
      {"tab\tseparated", "", "T"},                   // nor does a tab
      {"ßtraße", "", "SS"},                          // upper-casing may give two letters
      {"👩‍💻 coder", "", "👩‍💻C"},                      // a whole grapheme cluster
      {"e\u0301mile zola", "", "E\u0301Z"},           // combining accent kept with its letter
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Monogram::initials(QString::fromUtf8(c.name), QString::fromUtf8(c.email)), QString::fromUtf8(c.initials))
        << c.name << " / " << c.email;
  }
}

TEST_F(PieceTest, MonogramIsARoundedSquareWithTheInitials) {
  Monogram m("Ada Lovelace", "ada@example.org", 40);
  EXPECT_EQ(m.sizeHint(), QSize(40, 40));
  m.resize(40, 40);
  const QImage img = bx::test::render(m);
  EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0);    // corners are rounded
  EXPECT_GT(img.pixelColor(0, 20).alpha(), 0);    // the border runs along the edges
  EXPECT_EQ(m.initials(), "AL");
}

TEST(ProgressLine, BarWidthIsClampedAndNeverNarrowerThanItsHeight) {
  struct Case {
    double value;
    double width;
  } cases[] = {{0, 4}, {0.5, 100}, {1, 200}, {1.7, 200}, {-0.2, 4}, {0.01, 4}, {0.25, 50}, {NAN, 4}, {INFINITY, 200}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(ProgressLine::barWidth(200, c.value, 4), c.width) << c.value;
  EXPECT_DOUBLE_EQ(ProgressLine::barWidth(0, 0.5, 6), 6);
}

TEST_F(PieceTest, ProgressLineDrawsItsBarAtTheClampedWidth) {
  for (const auto& [value, expected] : {std::pair{0.5, 100}, std::pair{1.7, 200}, std::pair{-0.2, 6}}) {
    SCOPED_TRACE(value);
    ProgressLine line(value, Theme::seal, 6);
    line.resize(200, 6);
    EXPECT_EQ(line.height(), 6);
    const QImage img = bx::test::render(line);
    int tinted = 0;
    for (int x = 0; x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, 3);
      if (c.green() > 100 && c.red() < 80) ++tinted;  // seal green, not the faint track
    }
    EXPECT_NEAR(tinted, expected, 2);
  }
}

TEST_F(PieceTest, ProgressLineAnimatesWithACriticallyDampedSpringOrTheFade) {
  EXPECT_EQ(ProgressLine::valueAnimation(), Animation::spring(0.35, 1.0));
  ReduceMotion::shared().setOverride(true);
  EXPECT_EQ(ProgressLine::valueAnimation(), Motion::fade);
}

TEST(StepRail, AccessibilityLabels) {
  const QStringList three = {"Provider", "Sign in", "Folders"};
  struct Case {
    QStringList steps;
    int index;
    const char* label;
  } cases[] = {
      {three, 0, "Step 1 of 3: Provider"},
      {three, 1, "Step 2 of 3: Sign in"},
      {three, 2, "Step 3 of 3: Folders"},
      {three, 3, "Step 4 of 3: Folders"},   // past the end: last title, number as given
      {three, 7, "Step 8 of 3: Folders"},
      {three, -1, "Step 0 of 3: Provider"},  // before the start: never indexes outside
      {{}, 0, ""},
      {{}, -3, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StepRail::accessibilityLabel(c.steps, c.index), c.label) << c.index;
}

TEST_F(PieceTest, StepRailMarkersRulesAndLabelForThreeStepsAtIndexOne) {
  StepRail rail({"Provider", "Sign in", "Folders"}, 1);
  EXPECT_EQ(rail.accessibleName(), "Step 2 of 3: Sign in");
  using S = StepRail::StepState;
  EXPECT_EQ(StepRail::stateOf(0, 1), S::Done);
  EXPECT_EQ(StepRail::stateOf(1, 1), S::Current);
  EXPECT_EQ(StepRail::stateOf(2, 1), S::Ahead);
  const auto done = StepRail::markerLook(S::Done), current = StepRail::markerLook(S::Current),
             ahead = StepRail::markerLook(S::Ahead);
  EXPECT_EQ(done.fill, Theme::seal);
  EXPECT_TRUE(done.checkmark);
  EXPECT_EQ(done.glyphColor, Theme::white);
  EXPECT_EQ(current.fill, Theme::focus);
  EXPECT_FALSE(current.checkmark);
  EXPECT_TRUE(current.semiboldTitle);
  EXPECT_EQ(current.title, Theme::ink);
  EXPECT_TRUE(ahead.fill.isClear());
  EXPECT_EQ(ahead.stroke, Theme::ruleStrong);
  EXPECT_EQ(ahead.glyphColor, Theme::ink3);
  EXPECT_EQ(ahead.title, Theme::ink3);
  EXPECT_FALSE(ahead.semiboldTitle);
  EXPECT_EQ(StepRail::ruleColor(0, 1), Theme::seal.opacity(0.6));
  EXPECT_EQ(StepRail::ruleColor(1, 1), Theme::ruleStrong);
  EXPECT_TRUE(Icons::has("checkmark"));

  rail.setIndex(2);
  EXPECT_EQ(rail.accessibleName(), "Step 3 of 3: Folders");
  rail.setIndex(5);
  EXPECT_EQ(rail.accessibleName(), "Step 6 of 3: Folders");
}

TEST_F(PieceTest, StepRailDrawsNothingForNoStepsAndMarkersOtherwise) {
  StepRail empty({}, 0);
  EXPECT_EQ(empty.sizeHint().width(), 0);
  StepRail rail({"A", "B"}, 0);
  EXPECT_GE(rail.sizeHint().height(), 18);
  rail.resize(rail.sizeHint());
  const QImage img = bx::test::render(rail);
  const QColor marker = img.pixelColor(9, img.height() / 2 - 6);  // inside the first, current marker
  EXPECT_TRUE(bx::test::near(marker, Theme::focus.resolve(ColorScheme::Light), 3)) << bx::test::describe(marker);
}

TEST(SmallCaps, UpperCasesWithoutTranslating) {
  SmallCaps a("Accounts", Theme::ink3);
  SmallCaps b("ALREADY UPPER", Theme::ink3);
  SmallCaps c("straße · vault", Theme::ink3);
  EXPECT_EQ(a.displayText(), "ACCOUNTS");
  EXPECT_EQ(b.displayText(), "ALREADY UPPER");
  EXPECT_EQ(c.displayText(), QString::fromUtf8("STRASSE · VAULT"));
  EXPECT_EQ(a.displayFont().pixelSize(), 10);
  EXPECT_EQ(a.displayFont().weight(), QFont::DemiBold);
  EXPECT_NEAR(a.displayFont().letterSpacing(), 0.9, 1.0 / 64);  // stored in 1/64 px
  EXPECT_EQ(a.displayFont().letterSpacingType(), QFont::AbsoluteSpacing);
}

TEST_F(PieceTest, HairlineLiesInsideItsEdgeAndTakesNoSpace) {
  struct Case {
    Qt::Edge edge;
    QRect rect;
  } cases[] = {{Qt::LeftEdge, {0, 0, 1, 40}},
               {Qt::RightEdge, {299, 0, 1, 40}},
               {Qt::TopEdge, {0, 0, 300, 1}},
               {Qt::BottomEdge, {0, 39, 300, 1}}};
  for (const Case& c : cases) {
    QWidget host;
    host.setAttribute(Qt::WA_DontShowOnScreen);
    host.show();
    auto* layout = new QVBoxLayout(&host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new TextBlock("content"));
    host.resize(300, 40);
    const QSize hint = host.sizeHint();
    Hairline* line = hairline(&host, c.edge, Theme::rule);
    EXPECT_EQ(line->geometry(), c.rect);
    EXPECT_EQ(host.size(), QSize(300, 40));
    EXPECT_EQ(host.sizeHint(), hint);
    EXPECT_TRUE(line->testAttribute(Qt::WA_TransparentForMouseEvents));
    host.resize(200, 30);
    EXPECT_EQ(line->geometry(), Hairline::lineRect(QSize(200, 30), c.edge));
  }
}

TEST_F(PieceTest, CardBorderStaysInsideItsBoundsAtAnyRadius) {
  for (const qreal radius : {0.0, 4.0, 10.0}) {
    SCOPED_TRACE(radius);
    VaultCard card(radius, Theme::raised);
    card.resize(100, 50);
    const QImage img = bx::test::render(card);
    // The border's 1 px line is the outermost pixel row and column.
    const QColor edge = img.pixelColor(50, 0);
    const QColor inside = img.pixelColor(50, 2);
    EXPECT_LT(edge.lightness(), inside.lightness());
    EXPECT_EQ(img.pixelColor(50, 25).rgb() & 0xFFFFFF, 0xFAFBFCu);
    if (radius == 0) {
      EXPECT_GT(img.pixelColor(0, 0).alpha(), 200);  // square corner, opaque
    } else {
      EXPECT_LT(img.pixelColor(0, 0).alpha(), 60);  // rounded away
    }
  }
}

TEST_F(PieceTest, LeaderTakesTenPixelsOfHeightEvenWithNoWidth) {
  Leader leader;
  EXPECT_EQ(leader.sizeHint().height(), Leader::kHeight);
  EXPECT_EQ(leader.minimumSizeHint(), QSize(0, 10));
  leader.resize(0, 10);
  leader.grab();  // draws nothing, does not fail
  leader.resize(40, 10);
  const QImage img = bx::test::render(leader);
  int dots = 0;
  for (int x = 0; x < 40; ++x) dots += img.pixelColor(x, 7).alpha() > 0;
  EXPECT_EQ(dots, 10);  // 1 px on, 3 px off
  for (int x = 0; x < 40; ++x) EXPECT_EQ(img.pixelColor(x, 3).alpha(), 0);
}

TEST_F(PieceTest, SealWithoutTextIsTheBareSymbol) {
  Seal bare(std::nullopt, 11, Theme::seal, "checkmark.shield.fill");
  Seal word(QStringLiteral("Verified"), 11, Theme::seal, "checkmark.seal");
  EXPECT_EQ(bare.padding(), QSize(0, 0));
  EXPECT_EQ(word.padding(), QSize(7, 2));
  const int side = qCeil(Icons::boxSize(12));
  EXPECT_EQ(bare.sizeHint(), QSize(side, side));
  bare.resize(bare.sizeHint());
  word.resize(word.sizeHint());
  const QImage b = bx::test::render(bare);
  const QImage w = bx::test::render(word);
  // The capsule's fill shows at the left middle of a worded seal only.
  EXPECT_GT(w.pixelColor(3, w.height() / 2).alpha(), 0);
  EXPECT_EQ(b.pixelColor(0, 0).alpha(), 0);
}

TEST_F(PieceTest, SafetyNoteStructureLineLimitsAndAnchors) {
  SafetyNote titleOnly(SafetyNote::Tone::Danger, "person.crop.circle.badge.questionmark", "Name mismatch");
  EXPECT_EQ(titleOnly.textBlock(), nullptr);
  EXPECT_TRUE(titleOnly.lineBlocks().isEmpty());
  EXPECT_EQ(titleOnly.actionButton(), nullptr);
  EXPECT_EQ(SafetyNote::accent(SafetyNote::Tone::Shield), Theme::seal);
  EXPECT_EQ(SafetyNote::accent(SafetyNote::Tone::Caution), Theme::caution);
  EXPECT_EQ(SafetyNote::accent(SafetyNote::Tone::Danger), Theme::danger);

  int runs = 0;
  SafetyNote withAction(SafetyNote::Tone::Shield, "eye.slash", "Trackers", QStringLiteral("text"), {"a", "b"},
                        SafetyNote::Action{"Show images", [&] { ++runs; }});
  ASSERT_NE(withAction.actionButton(), nullptr);
  EXPECT_EQ(withAction.actionButton()->property("demoAnchor").toString(), "noteAction");
  EXPECT_EQ(withAction.actionButton()->buttonStyle(), (VaultButtonStyle{VaultButtonStyle::Kind::Quiet, true}));
  withAction.actionButton()->click();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(withAction.textBlock()->maxLines(), 4);
  ASSERT_EQ(withAction.lineBlocks().size(), 2);
  EXPECT_EQ(withAction.lineBlocks()[0]->maxLines(), 2);
  EXPECT_EQ(withAction.lineBlocks()[1]->text(), "b");

  SafetyNote anchored(SafetyNote::Tone::Caution, "link", "Links", std::nullopt, {}, SafetyNote::Action{"Show", {}},
                      QStringLiteral("linkNote"));
  EXPECT_EQ(anchored.actionButton()->property("demoAnchor").toString(), "linkNote");
  anchored.actionButton()->click();  // an empty handler is fine

  const QString sixLines = "one\ntwo\nthree\nfour\nfive\nsix";
  const QStringList shown = TextBlock::wrap(sixLines, Theme::Font::callout(), 400, 4);
  ASSERT_EQ(shown.size(), 4);
  EXPECT_EQ(shown[2], "three");
  EXPECT_EQ(shown[3], QString::fromUtf8("four…"));
}

TEST(TextBlock, WrapsAtWordsAndCutsToTheLineLimitWithAnEllipsis) {
  const QFont f = Theme::Font::callout();
  const QString text = "A bullet line long enough to need three lines in this narrow note, so it is cut short.";
  const QStringList all = TextBlock::wrap(text, f, 150, 0);
  ASSERT_GE(all.size(), 3);
  const QStringList two = TextBlock::wrap(text, f, 150, 2);
  ASSERT_EQ(two.size(), 2);
  EXPECT_EQ(two[0], all[0]);
  EXPECT_TRUE(two[1].endsWith(QChar(0x2026))) << two[1].toStdString();
  EXPECT_LE(QFontMetricsF(f).horizontalAdvance(two[1]), 150);
  EXPECT_EQ(TextBlock::wrap("short", f, 150, 2), QStringList{"short"});
  EXPECT_TRUE(TextBlock::wrap("", f, 150, 2).isEmpty());
}

TEST_F(PieceTest, VaultEmptyCentresItselfAndShowsActionsOnlyWhenGiven) {
  VaultEmpty plain("tray", "Nothing here", "Pick a folder.");
  EXPECT_EQ(plain.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
  EXPECT_EQ(plain.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
  EXPECT_EQ(plain.textBlock()->maximumWidth(), 280);
  EXPECT_EQ(plain.titleBlock()->textFont().pixelSize(), 13);
  auto* button = new VaultButton("Add Account…", VaultButtonStyle::Kind::Primary);
  VaultEmpty withAction("person.crop.circle.badge.plus", "No accounts yet", "Connect an account.", {button});
  plain.resize(400, 300);
  withAction.resize(400, 300);
  bx::test::render(plain);
  bx::test::render(withAction);
  EXPECT_TRUE(button->isVisible());
  // The block sits in the middle of the space it is given.
  const int titleCentre = withAction.titleBlock()->geometry().center().x();
  EXPECT_NEAR(titleCentre, 200, 2);
  EXPECT_LT(withAction.titleBlock()->geometry().bottom(), button->geometry().top() + button->parentWidget()->y());
}
