// Renders every shared view piece in every state into PNG files, for review:
//   bx_gallery <output folder>
// One file per page, appearance and Reduce Motion setting:
//   <page>-<light|dark>-<motion|reduced>.png
// Prints the path of each file written. Runs under QT_QPA_PLATFORM=offscreen.

#include "Platform/Appearance.h"
#include "Platform/ReduceMotion.h"
#include "Theme/HoverHighlight.h"
#include "Theme/Motion.h"
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
#include "Views/ToastOverlay.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"
#include "Views/VaultEmpty.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QPainter>
#include <QTextStream>
#include <functional>

using namespace bx;

namespace {

class Page : public QWidget {
public:
  Page() { setAttribute(Qt::WA_StyledBackground, false); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Theme::paper.resolved());
  }
};

TextBlock* caption(const QString& text, QWidget* parent) {
  auto* t = new TextBlock(text, parent);
  t->setTextFont(Theme::Font::caption());
  t->setColor(Theme::ink3);
  return t;
}

QWidget* buttonsPage() {
  auto* page = new Page;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(24, 24, 24, 24);
  grid->setHorizontalSpacing(18);
  grid->setVerticalSpacing(12);
  const QStringList states = {"normal", "hover", "pressed", "disabled", "hover + disabled"};
  for (int c = 0; c < states.size(); ++c) grid->addWidget(new SmallCaps(states[c], Theme::ink3, page), 0, c + 1);
  const QList<QPair<VaultButtonStyle::Kind, QString>> kinds = {{VaultButtonStyle::Kind::Primary, "primary"},
                                                                {VaultButtonStyle::Kind::Secondary, "secondary"},
                                                                {VaultButtonStyle::Kind::Destructive, "destructive"},
                                                                {VaultButtonStyle::Kind::Quiet, "quiet"}};
  int row = 1;
  for (const bool compact : {false, true}) {
    for (const auto& [kind, name] : kinds) {
      grid->addWidget(caption(name + (compact ? " · compact" : ""), page), row, 0, Qt::AlignVCenter);
      for (int c = 0; c < states.size(); ++c) {
        auto* b = new VaultButton(QStringLiteral("Verify Copies"), kind, compact, page);
        if (c == 1 || c == 4) b->setHovered(true);
        if (c == 2) b->setDown(true);
        if (c >= 3) b->setEnabled(false);
        grid->addWidget(b, row, c + 1, Qt::AlignLeft);
      }
      ++row;
    }
  }
  grid->addWidget(caption("with symbols", page), row, 0, Qt::AlignVCenter);
  auto* withSymbol = new VaultButton(QStringLiteral("Verify Copies"), VaultButtonStyle::Kind::Primary, false, page);
  withSymbol->setSymbol("checkmark.shield");
  grid->addWidget(withSymbol, row, 1, Qt::AlignLeft);
  auto* next = new VaultButton(QStringLiteral("Continue to Release"), VaultButtonStyle::Kind::Secondary, false, page);
  next->setSymbol("arrow.right");
  grid->addWidget(next, row, 2, Qt::AlignLeft);
  auto* reveal = new VaultButton(QString(), VaultButtonStyle::Kind::Quiet, true, page);
  reveal->setSymbol("arrow.up.right.square", 11);
  reveal->setHovered(true);
  grid->addWidget(reveal, row, 3, Qt::AlignLeft);
  auto* save = new VaultButton(QString(), VaultButtonStyle::Kind::Quiet, true, page);
  save->setSymbol("arrow.down.to.line", 11);
  grid->addWidget(save, row, 4, Qt::AlignLeft);
  return page;
}

QWidget* textAndCardsPage() {
  auto* page = new Page;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(14);
  col->addWidget(new SmallCaps("Accounts · mixed Case", Theme::ink3, page));
  col->addWidget(new SmallCaps("ALREADY UPPER", Theme::seal, page));

  auto* lines = new QHBoxLayout;
  lines->setSpacing(16);
  for (const auto& [edge, name] : QList<QPair<Qt::Edge, QString>>{{Qt::LeftEdge, "leading"},
                                                                   {Qt::BottomEdge, "bottom"},
                                                                   {Qt::TopEdge, "top"},
                                                                   {Qt::RightEdge, "trailing"}}) {
    auto* box = new VaultCard(0, Theme::panel, page);
    box->setFixedSize(140, 40);
    auto* l = new QVBoxLayout(box);
    l->setContentsMargins(10, 0, 0, 0);
    l->addWidget(caption("hairline " + name, box));
    hairline(box, edge, Theme::focus);
    lines->addWidget(box);
  }
  lines->addStretch(1);
  col->addLayout(lines);

  auto* cards = new QHBoxLayout;
  cards->setSpacing(16);
  for (const auto& [radius, fill, name] : QList<std::tuple<qreal, ThemeColor, QString>>{
           {Theme::rCard, Theme::raised, "card 10 · raised"},
           {8, Theme::panel, "card 8 · panel"},
           {4, Theme::hover, "card 4 · hover"},
           {0, Theme::raised, "card 0"}}) {
    auto* card = new VaultCard(radius, fill, page);
    auto* l = new QVBoxLayout(card);
    l->setContentsMargins(14, 12, 14, 12);
    auto* t = new TextBlock(name, card);
    t->setTextFont(Theme::Font::headline());
    l->addWidget(t);
    auto* sub = new TextBlock("Backed up 2 minutes ago", card);
    sub->setTextFont(Theme::Font::callout());
    sub->setColor(Theme::ink2);
    l->addWidget(sub);
    card->setFixedWidth(170);
    cards->addWidget(card);
  }
  cards->addStretch(1);
  col->addLayout(cards);

  auto* ledger = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* ll = new QVBoxLayout(ledger);
  ll->setContentsMargins(14, 10, 14, 10);
  for (const auto& [label, value] : QList<QPair<QString, QString>>{{"INBOX", "12,480"}, {"Sent", "1,204"},
                                                                    {"Archive", "up to date"}}) {
    auto* row = new QHBoxLayout;
    auto* l = new TextBlock(label, ledger);
    l->setTextFont(Theme::Font::body());
    l->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row->addWidget(l);
    row->addWidget(new Leader(ledger), 1, Qt::AlignBottom);
    auto* v = new TextBlock(value, ledger);
    v->setTextFont(Theme::Font::system(11, QFont::Normal, true));
    v->setColor(Theme::ink2);
    v->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row->addWidget(v);
    ll->addLayout(row);
  }
  ledger->setFixedWidth(360);
  col->addWidget(ledger);

  auto* fonts = new QVBoxLayout;
  fonts->setSpacing(2);
  for (const auto& [font, name] : QList<QPair<QFont, QString>>{{Theme::Font::display(), "display 28"},
                                                                {Theme::Font::title(), "title 20"},
                                                                {Theme::Font::month(), "month 19"},
                                                                {Theme::Font::headline(), "headline 13"},
                                                                {Theme::Font::body(), "body 13"},
                                                                {Theme::Font::callout(), "callout 12"},
                                                                {Theme::Font::caption(), "caption 11"},
                                                                {Theme::Font::label(), "label 10"}}) {
    auto* t = new TextBlock(name, page);
    t->setTextFont(font);
    fonts->addWidget(t);
  }
  col->addLayout(fonts);
  col->addStretch(1);
  return page;
}

QWidget* swatchesPage() {
  auto* page = new Page;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(24, 24, 24, 24);
  grid->setSpacing(8);
  const QList<QPair<QString, ThemeColor>> tokens = {
      {"paper", Theme::paper},   {"panel", Theme::panel},       {"raised", Theme::raised},
      {"rule", Theme::rule},     {"ruleStrong", Theme::ruleStrong}, {"ink", Theme::ink},
      {"ink2", Theme::ink2},     {"ink3", Theme::ink3},         {"seal", Theme::seal},
      {"focus", Theme::focus},   {"caution", Theme::caution},   {"danger", Theme::danger},
      {"selection", Theme::selection}, {"hover", Theme::hover}, {"navy", Theme::navy}};
  int i = 0;
  for (const auto& [name, color] : tokens) {
    auto* card = new VaultCard(6, color, page);
    card->setFixedSize(110, 44);
    auto* l = new QVBoxLayout(card);
    l->setContentsMargins(8, 0, 0, 4);
    l->addStretch(1);
    auto* t = new TextBlock(name, card);
    t->setTextFont(Theme::Font::caption());
    t->setColor(Theme::ink2);
    l->addWidget(t);
    grid->addWidget(card, i / 5, i % 5);
    ++i;
  }
  return page;
}

QWidget* sealsAndNotesPage() {
  auto* page = new Page;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(12);
  auto* seals = new QHBoxLayout;
  seals->setSpacing(12);
  seals->addWidget(new Seal(QStringLiteral("Verified"), 11, Theme::seal, "checkmark.seal", page));
  seals->addWidget(new Seal(QStringLiteral("Differs"), 11, Theme::caution, "exclamationmark.triangle", page));
  seals->addWidget(new Seal(QStringLiteral("Connected"), 11, Theme::seal, "checkmark.shield.fill", page));
  seals->addWidget(new Seal(QStringLiteral("Imported"), 10, Theme::ink2, "square.and.arrow.down", page));
  seals->addWidget(new Seal(std::nullopt, 11, Theme::seal, "checkmark.shield.fill", page));
  seals->addWidget(new Seal(std::nullopt, 11, Theme::danger, "xmark.seal", page));
  seals->addStretch(1);
  col->addLayout(seals);

  auto addNote = [&](SafetyNote* n) {
    n->setFixedWidth(520);
    col->addWidget(n);
  };
  addNote(new SafetyNote(SafetyNote::Tone::Shield, "eye.slash", "3 trackers blocked",
                         QStringLiteral("Remote images are off. Tracking pixels stay blocked even then."),
                         {"pixel.example-mail.com", "open.tracker.example"},
                         SafetyNote::Action{"Show images", [] {}}));
  addNote(new SafetyNote(SafetyNote::Tone::Caution, "link", "Links that go somewhere else",
                         QStringLiteral("Two links show one site but lead to another."), {},
                         SafetyNote::Action{"Show links", [] {}}, QStringLiteral("linkNote")));
  addNote(new SafetyNote(SafetyNote::Tone::Danger, "person.crop.circle.badge.questionmark",
                         "The name doesn’t match the address"));
  addNote(new SafetyNote(
      SafetyNote::Tone::Caution, "exclamationmark.triangle", "Six lines of text are cut to four",
      QStringLiteral("Line one of the advice.\nLine two of the advice.\nLine three of the advice.\n"
                     "Line four of the advice.\nLine five of the advice.\nLine six of the advice."),
      {QStringLiteral("A bullet line long enough to need three lines in this narrow note, so the last of its "
                      "lines is cut and ends with an ellipsis instead of running on and on past two lines.")}));
  col->addStretch(1);
  return page;
}

QWidget* monogramsPage() {
  auto* page = new Page;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(24, 24, 24, 24);
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(10);
  const QList<QPair<QString, QString>> people = {{"Ada Lovelace", "ada@example.org"},
                                                 {"Grace Brewster Hopper", "grace@example.org"},
                                                 {"élodie", "e@example.org"},
                                                 {"", "jane.doe@example.org"},
                                                 {"", "postmaster@example.org"},
                                                 {"", ""},
                                                 {"._@ ", ""}};
  int col = 0;
  for (const auto& [name, email] : people) {
    int row = 0;
    for (const qreal size : {28.0, 36.0, 44.0}) {
      grid->addWidget(new Monogram(name, email, size, page), row++, col, Qt::AlignCenter);
    }
    auto* t = caption(name.isEmpty() ? (email.isEmpty() ? QStringLiteral("(empty)") : email) : name, page);
    t->setMaxTextWidth(90);
    grid->addWidget(t, row, col, Qt::AlignHCenter | Qt::AlignTop);
    ++col;
  }
  return page;
}

QWidget* emptyPage() {
  auto* page = new Page;
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(0, 0, 0, 0);
  auto* a = new VaultEmpty("tray", "Nothing here yet", "Back up an account or import .eml and .mbox files to fill the vault.",
                           {}, page);
  auto* b = new VaultEmpty(
      "person.crop.circle.badge.plus", "No accounts yet", "Connect an account to start filling the vault.",
      {new VaultButton("Add Account…", VaultButtonStyle::Kind::Primary, false, nullptr)}, page);
  auto* c1 = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* c1l = new QVBoxLayout(c1);
  c1l->addWidget(a);
  auto* c2 = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* c2l = new QVBoxLayout(c2);
  c2l->addWidget(b);
  row->addWidget(c1);
  row->addWidget(c2);
  page->setMinimumSize(760, 320);
  return page;
}

QWidget* stepRailPage() {
  auto* page = new Page;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(16);
  const QStringList three = {"Provider", "Sign in", "Folders"};
  for (int index : {0, 1, 2, 3}) {
    col->addWidget(caption(QStringLiteral("index %1 · ").arg(index) + StepRail::accessibilityLabel(three, index), page));
    col->addWidget(new StepRail(three, index, page));
  }
  const QStringList four = {"Choose", "Verify", "Release", "Done"};
  col->addWidget(caption("four steps · index 2", page));
  col->addWidget(new StepRail(four, 2, page));
  col->addStretch(1);
  return page;
}

QWidget* progressPage() {
  auto* page = new Page;
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(24, 24, 24, 24);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(12);
  int row = 0;
  for (const qreal height : {3.0, 4.0, 6.0}) {
    for (const double value : {0.0, 0.5, 1.7, -0.2, 0.83}) {
      grid->addWidget(caption(QStringLiteral("height %1 · value %2").arg(height).arg(value), page), row, 0, Qt::AlignVCenter);
      auto* line = new ProgressLine(value, value > 1 ? Theme::seal : Theme::focus, height, page);
      line->setFixedWidth(200);
      grid->addWidget(line, row, 1, Qt::AlignVCenter);
      ++row;
    }
  }
  return page;
}

QWidget* toastsPage() {
  auto* page = new Page;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(16);
  const QList<Toast> toasts = {
      Toast::make("12,480 new messages saved", "checkmark.shield.fill", Theme::seal),
      Toast::make("Removed “Work” — its messages stay in the vault", "person.crop.circle.badge.minus", Theme::ink2),
      Toast::make("Nothing imported — 3 files weren’t a valid email", "exclamationmark.triangle.fill", Theme::caution),
      Toast::make("A very long toast message that goes on and on about what happened, far longer than a banner can "
                  "hold on two lines, so its end is cut with an ellipsis rather than growing a third line below.",
                  "stop.circle.fill", Theme::ink2)};
  for (const Toast& t : toasts) {
    auto* host = new VaultCard(Theme::rCard, Theme::panel, page);
    host->setFixedSize(560, 120);
    auto* overlay = new ToastOverlay(host);
    overlay->setToast(t);
    col->addWidget(host);
  }
  return page;
}

QWidget* hoverPage() {
  auto* page = new Page;
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(32, 32, 32, 32);
  row->setSpacing(28);
  for (const auto& [hover, lift, name] : QList<std::tuple<bool, bool, QString>>{
           {false, true, "not hovered"}, {true, false, "hovered · no lift"}, {true, true, "hovered · lift"}}) {
    auto* card = new VaultCard(Theme::rCard, Theme::raised, page);
    card->setFixedSize(190, 90);
    auto* l = new QVBoxLayout(card);
    l->setContentsMargins(14, 12, 14, 12);
    auto* t = new TextBlock(name, card);
    t->setTextFont(Theme::Font::headline());
    l->addWidget(t);
    auto* sub = new TextBlock("Background 5 %, lift 1.015 and shadow when lifted", card);
    sub->setTextFont(Theme::Font::caption());
    sub->setColor(Theme::ink2);
    l->addWidget(sub);
    auto* h = HoverHighlight::apply(card, Theme::rCard, lift);
    h->setHover(hover);
    row->addWidget(card);
  }
  return page;
}

} // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) {
    QTextStream(stderr) << "usage: bx_gallery <output folder>\n";
    return 2;
  }
  QDir out(args[1]);
  if (!out.mkpath(".")) {
    QTextStream(stderr) << "cannot create " << args[1] << "\n";
    return 1;
  }
  Motion::setInstant(true);

  const QList<QPair<QString, std::function<QWidget*()>>> pages = {
      {"buttons", buttonsPage},   {"text-cards", textAndCardsPage}, {"swatches", swatchesPage},
      {"seals-notes", sealsAndNotesPage}, {"monograms", monogramsPage}, {"empty", emptyPage},
      {"steprail", stepRailPage}, {"progress", progressPage},     {"toasts", toastsPage},
      {"hover", hoverPage}};
  QTextStream stdoutStream(stdout);
  int failures = 0;
  for (const ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
    Appearance::shared().setOverride(scheme);
    for (const bool reduce : {false, true}) {
      ReduceMotion::shared().setOverride(reduce);
      for (const auto& [name, make] : pages) {
        std::unique_ptr<QWidget> page(make());
        page->ensurePolished();
        // As wide as it likes, then as tall as its wrapped texts need.
        QSize size = page->sizeHint().expandedTo(page->minimumSize());
        if (page->layout() && page->layout()->hasHeightForWidth())
          size.setHeight(std::max(page->minimumHeight(), page->layout()->totalHeightForWidth(size.width())));
        page->resize(size);
        page->setAttribute(Qt::WA_DontShowOnScreen);
        page->show();
        QApplication::processEvents();
        const QString file = out.filePath(QStringLiteral("%1-%2-%3.png")
                                              .arg(name, scheme == ColorScheme::Dark ? "dark" : "light",
                                                   reduce ? "reduced" : "motion"));
        if (!page->grab().save(file)) {
          QTextStream(stderr) << "could not write " << file << "\n";
          ++failures;
          continue;
        }
        stdoutStream << file << "\n";
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
