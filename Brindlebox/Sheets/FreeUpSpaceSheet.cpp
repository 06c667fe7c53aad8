#include "Sheets/FreeUpSpaceSheet.h"

#include "DemoMode/DemoTyping.h"
#include "Platform/Appearance.h"
#include "Sheets/FreeUpSheetParts.h"
#include "Sheets/SheetHeader.h"
#include "Sheets/SheetTransitions.h"
#include "Sheets/FreeUpText.h"
#include "Sheets/VerifyLedger.h"
#include "Theme/Motion.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/ProgressLine.h"
#include "Views/StatusLine.h"
#include "Views/StepRail.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"
#include "Store/ByteCountText.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <set>

namespace bx {

int FreeUpSpaceSheet::initialYears = 1;

namespace {

using Kind = VaultButtonStyle::Kind;

QString qs(const std::string& s) { return QString::fromStdString(s); }


QFont mono(qreal px, QFont::Weight w = QFont::Normal) { return Theme::Font::system(px, w, true); }

// The rounded box of the confirmation: the danger colour at 5 % with a 1 px
// stroke at 22 % inside its edge.
class ConfirmFrame : public ThemedWidget {
public:
  using ThemedWidget::ThemedWidget;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(r, Theme::rCard, Theme::rCard);
    p.fillPath(path, Theme::danger.opacity(0.05).resolved());
    p.setPen(QPen(Theme::danger.opacity(0.22).resolved(), 1));
    p.drawPath(path);
  }
};

// The account entries, with the user name added to a label another account
// also carries, so two "Work" accounts can be told apart.
QStringList accountTitles(const std::vector<MailAccount>& accounts) {
  std::map<std::string, int> seen;
  for (const auto& a : accounts) ++seen[a.label];
  QStringList out;
  for (const auto& a : accounts)
    out << (seen[a.label] > 1 ? qs(a.label) + QString::fromUtf8(" \u00B7 ") + qs(a.username) : qs(a.label));
  return out;
}

// How a stage comes and goes: the done stage grows from slightly smaller,
// the others rise from 8 px below; both fade.
Transition stageTransition(int index) {
  const Transition t = index == 3 ? Transition::scaled(0.92) : Transition::fromBelow(8);
  return t.unlessReduced();
}

QString pluralKept(std::int64_t n) {
  return QString::number(n) + " message" + (n == 1 ? " was" : "s were") + " kept on the server because " +
         (n == 1 ? "its copy" : "their copies") + QString::fromUtf8(" couldn\u2019t be verified.");
}

// The messages are still on the server: only the marks came off, so the
// user must not read this as more space freed.
QString pluralLeftovers(std::int64_t n) {
  return "Cleared the deletion mark" + QString(n == 1 ? "" : "s") + " an interrupted release left on " +
         FreeUpText::grouped(n) + (n == 1 ? " message; it stays" : " messages; they stay") + " on the server.";
}

}  // namespace

// ---------------------------------------------------------------- construction

FreeUpSpaceSheet::FreeUpSpaceSheet(SheetStore* store, QWidget* parent)
    : QDialog(parent), store_(store), preset_(initialYears) {
  before_ = FreeUpText::yearsBefore(std::chrono::system_clock::now(), initialYears);
  setWindowModality(Qt::WindowModal);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Free Up Space");
  setFixedSize(680, 620);
  setAutoFillBackground(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  rail_ = new StepRail({"Choose", "Verify", "Release"}, 0);
  header_ = new SheetHeader("Free up space on the server", title(), subtitle(), rail_, this);
  outer->addWidget(header_);

  stages_ = new QStackedWidget(this);
  stages_->addWidget(buildChoose());
  stages_->addWidget(buildVerify());
  stages_->addWidget(buildRelease());
  stages_->addWidget(buildDone());
  outer->addWidget(stages_, 1);
  buildFooter(outer);

  // On appear: the first account and its first chosen folder.
  const auto accounts = store_->accounts();
  if (!accountID_ && !accounts.empty()) accountID_ = accounts.front().id;
  if (mailbox_.empty()) {
    const auto a = account();
    mailbox_ = a && !a->folders.empty() ? a->folders.front() : "INBOX";
  }

  connect(store_, &SheetStore::cleanupChanged, this, &FreeUpSpaceSheet::refresh);
  connect(store_, &SheetStore::accountsChanged, this, [this] {
    fillPickers();
    refresh();
  });
  connect(&Appearance::shared(), &Appearance::changed, this, [this] { refresh(); });
  fillPickers();
  refresh();
  // In demo and screenshot runs the field shows the scripted phrase; such
  // a sheet never hands a release to the engine.
  if (DemoTyping::followedByViews()) {
    followsTyping_ = true;
    auto copy = [this](const QString& t) {
      setConfirmation(t);
      if (confirmField_->text() != t) confirmField_->setText(t);
    };
    connect(&DemoTyping::shared(), &DemoTyping::textChanged, this, copy);
    if (!DemoTyping::shared().text().isEmpty()) copy(DemoTyping::shared().text());
  }
}

FreeUpSpaceSheet::~FreeUpSpaceSheet() = default;

QWidget* FreeUpSpaceSheet::buildChoose() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(18);

  auto* options = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* grid = new QGridLayout(options);
  grid->setContentsMargins(16, 16, 16, 16);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(14);
  const QStringList labels{"Account", "Folder", "Older than"};
  for (int i = 0; i < 3; ++i)
    grid->addWidget(sheetText(labels[i], Theme::Font::callout(), Theme::ink2, options), i, 0, Qt::AlignVCenter);

  accountPicker_ = new QComboBox(options);
  accountPicker_->setFixedWidth(280);
  grid->addWidget(accountPicker_, 0, 1, Qt::AlignLeft);
  connect(accountPicker_, &QComboBox::activated, this, &FreeUpSpaceSheet::pickAccount);

  folderPicker_ = new QComboBox(options);
  folderPicker_->setFixedWidth(280);
  grid->addWidget(folderPicker_, 1, 1, Qt::AlignLeft);
  connect(folderPicker_, &QComboBox::activated, this, [this](int i) {
    if (i >= 0) mailbox_ = folderPicker_->itemData(i).toString().toStdString();
    refresh();
  });

  auto* older = new QHBoxLayout;
  older->setSpacing(6);
  for (auto [years, label] : {std::pair{1, "1 year"}, std::pair{2, "2 years"}, std::pair{5, "5 years"}}) {
    auto* b = new VaultButton(label, Kind::Secondary, true, options);
    b->setFocusPolicy(Qt::TabFocus);
    presets_.append({years, b});
    older->addWidget(b);
    connect(b, &VaultButton::clicked, this, [this, y = years] { pickPreset(y); });
  }
  datePicker_ = new QDateEdit(options);
  datePicker_->setDisplayFormat("MMM d, yyyy");
  datePicker_->setFixedWidth(110);
  datePicker_->setCalendarPopup(false);
  datePicker_->setMinimumDate(QDate(100, 1, 1));
  older->addWidget(datePicker_);
  older->addStretch(1);
  connect(datePicker_, &QDateEdit::dateChanged, this, [this](QDate d) {
    if (fillingPickers_) return;
    // The picked day at the cut-off's time of day.
    const QDateTime old = QDateTime::fromSecsSinceEpoch(secondsSince1970(before_), Qt::LocalTime);
    const QDateTime picked(d, old.time(), Qt::LocalTime);
    before_ = dateFromSeconds(picked.toSecsSinceEpoch());
    preset_ = 0;
    refresh();
  });
  grid->addLayout(older, 2, 1);
  grid->setColumnStretch(1, 1);
  col->addWidget(options);

  auto* promises = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* plist = new QVBoxLayout(promises);
  plist->setContentsMargins(0, 0, 0, 0);
  plist->setSpacing(0);
  const struct {
    const char* symbol;
    const char* title;
    const char* detail;
  } rows[] = {
      {"checkmark.shield", "Verified means proven",
       "A local .eml exists, holds exactly the bytes the server reports, and reads as a complete email."},
      {"arrow.uturn.backward", "Anything doubtful stays",
       "Missing, partial or changed copies are kept on the server \u2014 and listed so you know why."},
      {"keyboard", "You type to confirm",
       "Release only happens after you type the number of messages. You can stop at any time."},
  };
  for (const auto& r : rows) {
    auto* icon = new SymbolView(r.symbol, 13, Theme::seal);
    icon->setBoxWidth(18);
    StatusLine::Style style;
    style.margins = QMargins(14, 10, 14, 10);
    style.spacing = 12;
    style.leadAlignment = Qt::AlignTop;
    style.titleFont = Theme::Font::weighted(Theme::Font::callout(), QFont::DemiBold);
    style.titleColor = Theme::ink;
    style.detailFont = Theme::Font::callout();
    style.detailColor = Theme::ink2;
    auto* row = new StatusLine(icon, style, QString::fromUtf8(r.title), QString::fromUtf8(r.detail), promises);
    hairline(row, Qt::BottomEdge, Theme::rule);
    plist->addWidget(row);
  }
  col->addWidget(promises);

  gmailNote_ = new NoteSlot(page);
  chooseError_ = new NoteSlot(page);
  col->addWidget(gmailNote_);
  col->addWidget(chooseError_);
  col->addStretch(1);
  return page;
}

QWidget* FreeUpSpaceSheet::buildVerify() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(12);

  waiting_ = new QWidget(page);
  auto* wl = new QHBoxLayout(waiting_);
  wl->setContentsMargins(0, 8, 0, 0);
  wl->setSpacing(10);
  wl->addWidget(new SmallSpinner(waiting_));
  waitingText_ = sheetText({}, Theme::Font::callout(), Theme::ink2, waiting_);
  wl->addWidget(waitingText_, 1);
  col->addWidget(waiting_);

  verifyError_ = new NoteSlot(page);
  col->addWidget(verifyError_);

  verification_ = new QWidget(page);
  auto* vv = new QVBoxLayout(verification_);
  vv->setContentsMargins(0, 0, 0, 0);
  vv->setSpacing(12);
  auto* tally = new QVBoxLayout;
  tally->setSpacing(8);
  auto* line = new QHBoxLayout;
  line->setSpacing(0);
  tallyChecked_ = sheetText({}, mono(13, QFont::DemiBold), Theme::ink, verification_);
  tallyOf_ = sheetText({}, Theme::Font::callout(), Theme::ink2, verification_);
  line->addWidget(tallyChecked_, 0, Qt::AlignBottom);
  line->addWidget(tallyOf_, 0, Qt::AlignBottom);
  line->addStretch(1);
  tallyVerifiedIcon_ = new SymbolView("checkmark.shield.fill", 11, Theme::seal, verification_);
  tallyVerified_ = sheetText({}, mono(11, QFont::Medium), Theme::seal, verification_);
  tallyKeptIcon_ = new SymbolView("arrow.uturn.backward", 11, Theme::ink3, verification_);
  tallyKept_ = sheetText({}, mono(11, QFont::Medium), Theme::ink3, verification_);
  line->addWidget(tallyVerifiedIcon_, 0, Qt::AlignVCenter);
  line->addSpacing(4);
  line->addWidget(tallyVerified_, 0, Qt::AlignBottom);
  line->addWidget(sheetText("   ", mono(11, QFont::Medium), Theme::ink3, verification_), 0, Qt::AlignBottom);
  line->addWidget(tallyKeptIcon_, 0, Qt::AlignVCenter);
  line->addSpacing(4);
  line->addWidget(tallyKept_, 0, Qt::AlignBottom);
  tally->addLayout(line);
  tallyLine_ = new ProgressLine(0, Theme::focus, 3, verification_);
  tally->addWidget(tallyLine_);
  nothingText_ = sheetText({}, Theme::Font::callout(), Theme::ink2, verification_);
  tally->addWidget(nothingText_);
  vv->addLayout(tally);
  ledgerSlot_ = new QVBoxLayout;
  ledgerSlot_->setContentsMargins(0, 0, 0, 0);
  vv->addLayout(ledgerSlot_, 1);
  unsafeNote_ = new NoteSlot(verification_);
  vv->addWidget(unsafeNote_);
  col->addWidget(verification_, 1);
  col->addStretch(0);
  return page;
}

QWidget* FreeUpSpaceSheet::buildRelease() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(16);

  summary_ = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* sv = new QVBoxLayout(summary_);
  sv->setContentsMargins(0, 0, 0, 0);
  sv->setSpacing(0);
  for (const char* label : {"Messages to release", "Space freed on the server", "From", "Older than",
                            "Kept on the server", "Copies in your vault"}) {
    auto* row = new LeaderRow(label, Theme::Font::callout(), Theme::ink2, summary_);
    row->setContentsMargins(14, 8, 14, 8);
    summaryRows_.append(row);
    sv->addWidget(row);
  }
  col->addWidget(summary_);

  confirmBox_ = new ConfirmFrame(page);
  auto* cb = new QVBoxLayout(confirmBox_);
  cb->setContentsMargins(14, 14, 14, 14);
  cb->setSpacing(8);
  confirmText_ = new QLabel(confirmBox_);
  confirmText_->setTextFormat(Qt::RichText);  // our own text: numbers and the phrase only
  confirmText_->setWordWrap(true);
  confirmText_->setFont(Theme::Font::callout());
  cb->addWidget(confirmText_);
  auto* fieldRow = new QHBoxLayout;
  fieldRow->setSpacing(8);
  confirmField_ = new QLineEdit(confirmBox_);
  confirmField_->setFont(mono(13));
  confirmField_->setFixedWidth(200);
  confirmField_->setProperty("demoAnchor", "confirmField");
  fieldRow->addWidget(confirmField_);
  check_ = new SymbolView("checkmark.circle.fill", 13, Theme::seal, confirmBox_);
  // Keeps its place while hidden, so the field does not move as it comes.
  QSizePolicy keep = check_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  check_->setSizePolicy(keep);
  check_->hide();
  fieldRow->addWidget(check_);
  fieldRow->addStretch(1);
  cb->addLayout(fieldRow);
  connect(confirmField_, &QLineEdit::textChanged, this, [this](const QString& t) {
    if (t == confirmation_) return;
    confirmation_ = t;
    refresh();
  });
  col->addWidget(confirmBox_);

  progressBox_ = new QWidget(page);
  auto* pv = new QVBoxLayout(progressBox_);
  pv->setContentsMargins(0, 0, 0, 0);
  pv->setSpacing(6);
  auto* ph = new QHBoxLayout;
  progressTitle_ = sheetText({}, Theme::Font::weighted(Theme::Font::callout(), QFont::DemiBold), Theme::ink, progressBox_);
  progressCount_ = sheetText({}, mono(11), Theme::ink2, progressBox_);
  ph->addWidget(progressTitle_);
  ph->addStretch(1);
  ph->addWidget(progressCount_);
  pv->addLayout(ph);
  progressLine_ = new ProgressLine(0, Theme::danger.opacity(0.8), 3, progressBox_);
  pv->addWidget(progressLine_);
  progressBox_->hide();
  col->addWidget(progressBox_);

  accountGone_ = new NoteSlot(page);
  col->addWidget(accountGone_);
  releaseError_ = new NoteSlot(page);
  col->addWidget(releaseError_);
  col->addStretch(1);
  return page;
}

QWidget* FreeUpSpaceSheet::buildDone() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setSpacing(14);
  col->addStretch(1);
  doneShield_ = new SymbolView("checkmark.shield.fill", 44, Theme::seal, page);
  col->addWidget(doneShield_, 0, Qt::AlignHCenter);
  doneText_ = sheetText({}, Theme::Font::body(), Theme::ink, page);
  doneText_->setAlignment(Qt::AlignHCenter);
  doneText_->setMaxTextWidth(420);
  col->addWidget(doneText_, 0, Qt::AlignHCenter);
  doneKept_ = sheetText({}, Theme::Font::callout(), Theme::ink2, page);
  doneKept_->setAlignment(Qt::AlignHCenter);
  doneKept_->setMaxTextWidth(560);
  col->addWidget(doneKept_, 0, Qt::AlignHCenter);
  doneLeftovers_ = sheetText({}, Theme::Font::callout(), Theme::ink2, page);
  doneLeftovers_->setAlignment(Qt::AlignHCenter);
  doneLeftovers_->setMaxTextWidth(560);
  col->addWidget(doneLeftovers_, 0, Qt::AlignHCenter);
  col->addStretch(1);
  return page;
}

void FreeUpSpaceSheet::buildFooter(QVBoxLayout* outer) {
  auto* footer = new QWidget(this);
  auto* row = new QHBoxLayout(footer);
  row->setContentsMargins(20, 14, 20, 14);
  row->setSpacing(10);
  hairline(footer, Qt::TopEdge, Theme::rule);

  auto make = [&](const QString& label, Kind kind, const QString& symbol = {}) {
    auto* b = new VaultButton(label, kind, false, footer);
    if (!symbol.isEmpty()) b->setSymbol(symbol);
    b->setFocusPolicy(Qt::TabFocus);
    b->hide();
    return b;
  };
  cancel_ = make("Cancel", Kind::Secondary);
  verifyLeading_ = make("Stop", Kind::Secondary);
  releaseLeading_ = make("Stop", Kind::Secondary);
  verifyCopies_ = make("Verify Copies", Kind::Primary, "checkmark.shield");
  verifyCopies_->setToolTip("Compare the server with your vault. Nothing is deleted.");
  verifyCopies_->setProperty("demoAnchor", "verifyCopies");
  continue_ = make("Continue to Release", Kind::Primary, "arrow.right");
  continue_->setProperty("demoAnchor", "continueRelease");
  release_ = make("Release 0 from Server", Kind::Destructive, "externaldrive.badge.minus");
  release_->setToolTip("Type the confirmation to enable");
  release_->setProperty("demoAnchor", "releaseButton");
  done_ = make("Done", Kind::Primary);

  for (auto* b : {cancel_, verifyLeading_, releaseLeading_}) row->addWidget(b);
  row->addStretch(1);
  for (auto* b : {verifyCopies_, continue_, release_, done_}) row->addWidget(b);
  outer->addWidget(footer);

  connect(cancel_, &VaultButton::clicked, this, [this] { close(); });
  connect(verifyCopies_, &VaultButton::clicked, this, &FreeUpSpaceSheet::verifyCopies);
  connect(verifyLeading_, &VaultButton::clicked, this, &FreeUpSpaceSheet::pressLeading);
  connect(releaseLeading_, &VaultButton::clicked, this, &FreeUpSpaceSheet::pressLeading);
  connect(continue_, &VaultButton::clicked, this, [this] { store_->setCleanupStage(FreeUpStage::release); });
  connect(release_, &VaultButton::clicked, this, &FreeUpSpaceSheet::pressRelease);
  connect(done_, &VaultButton::clicked, this, [this] { close(); });
}

// ---------------------------------------------------------------- derived values

std::optional<MailAccount> FreeUpSpaceSheet::account() const {
  const auto accounts = store_->accounts();
  if (accounts.empty()) return std::nullopt;
  if (accountID_)
    for (const auto& a : accounts)
      if (a.id == *accountID_) return a;
  return accounts.front();
}

std::optional<MailAccount> FreeUpSpaceSheet::planAccount() const {
  if (!planAccountID_) return account();
  for (const auto& a : store_->accounts())
    if (a.id == *planAccountID_) return a;
  return std::nullopt;
}

bool FreeUpSpaceSheet::planAccountGone() const { return planAccountID_ && !planAccount(); }

int FreeUpSpaceSheet::stageIndex() const { return int(store_->cleanupState().stage); }

QString FreeUpSpaceSheet::title() const {
  switch (store_->cleanupState().stage) {
  case FreeUpStage::choose: return "Choose what to release";
  case FreeUpStage::verify: return "Verifying every copy";
  case FreeUpStage::release: return "Release from the server";
  case FreeUpStage::done: return QString::fromUtf8("Released \u2014 copies safe");
  }
  return {};
}

QString FreeUpSpaceSheet::subtitle() const {
  const FreeUpState s = store_->cleanupState();
  switch (s.stage) {
  case FreeUpStage::choose: return "Nothing on the server changes until step 3.";
  case FreeUpStage::verify:
    return "Each message on the server is matched to its .eml in the vault, byte for byte.";
  case FreeUpStage::release: return "Only messages with a verified copy can leave the server.";
  case FreeUpStage::done: return s.result ? qs(*s.result) : QString();
  }
  return {};
}

QString FreeUpSpaceSheet::phrase() const {
  const FreeUpState s = store_->cleanupState();
  return FreeUpText::phrase(s.plan ? std::int64_t(s.plan->verified().size()) : 0);
}

bool FreeUpSpaceSheet::matches() const { return FreeUpText::matches(confirmation_, phrase()); }

void FreeUpSpaceSheet::setConfirmation(const QString& text) {
  confirmation_ = text;
  refresh();
}

VaultButton* FreeUpSpaceSheet::presetButton(int years) const {
  for (const auto& [y, b] : presets_)
    if (y == years) return b;
  return nullptr;
}

VaultButton* FreeUpSpaceSheet::leadingButton() const {
  for (auto* b : {cancel_, verifyLeading_, releaseLeading_})
    if (!b->isHidden()) return b;
  return nullptr;
}

VaultButton* FreeUpSpaceSheet::trailingButton() const {
  for (auto* b : {verifyCopies_, continue_, release_, done_})
    if (!b->isHidden()) return b;
  return nullptr;
}

QString FreeUpSpaceSheet::waitingText() const { return waitingText_->text(); }

QString FreeUpSpaceSheet::tallyText() const {
  return tallyChecked_->text() + tallyOf_->text() + QString::fromUtf8(" \u00B7 ") + tallyVerified_->text() +
         QString::fromUtf8(" \u00B7 ") + tallyKept_->text();
}

QString FreeUpSpaceSheet::releaseProgressText() const {
  return progressTitle_->text() + " " + progressCount_->text();
}

LeaderRow* FreeUpSpaceSheet::summaryRow(int i) const { return summaryRows_.value(i); }
QString FreeUpSpaceSheet::doneText() const { return doneText_->text(); }
QString FreeUpSpaceSheet::doneKeptText() const { return doneKept_->isHidden() ? QString() : doneKept_->text(); }
QString FreeUpSpaceSheet::doneLeftoversText() const {
  return doneLeftovers_->isHidden() ? QString() : doneLeftovers_->text();
}
QWidget* FreeUpSpaceSheet::checkMark() const { return check_->isHidden() ? nullptr : check_; }

// ---------------------------------------------------------------- choices

void FreeUpSpaceSheet::fillPickers() {
  fillingPickers_ = true;
  const auto accounts = store_->accounts();
  const QStringList titles = accountTitles(accounts);
  accountPicker_->clear();
  for (std::size_t i = 0; i < accounts.size(); ++i)
    accountPicker_->addItem(titles[int(i)], qs(accounts[i].id.string()));
  const auto a = account();
  accountPicker_->setCurrentIndex(a ? accountPicker_->findData(qs(a->id.string())) : -1);

  folderPicker_->clear();
  if (a) {
    for (const auto& name : a->folders) {
      QString shown = qs(name);
      for (const auto& k : a->knownFolders)
        if (k.name == name) {
          shown = qs(k.displayName);
          break;
        }
      folderPicker_->addItem(shown, qs(name));
    }
  }
  folderPicker_->setCurrentIndex(folderPicker_->findData(qs(mailbox_)));
  fillingPickers_ = false;
}

void FreeUpSpaceSheet::pickAccount(int index) {
  const auto accounts = store_->accounts();
  if (index < 0 || std::size_t(index) >= accounts.size()) return;
  accountID_ = accounts[std::size_t(index)].id;
  const auto a = account();
  mailbox_ = a && !a->folders.empty() ? a->folders.front() : "INBOX";
  fillPickers();
  refresh();
}

void FreeUpSpaceSheet::pickPreset(int years) {
  preset_ = years;
  before_ = FreeUpText::yearsBefore(std::chrono::system_clock::now(), years);
  refresh();
}

void FreeUpSpaceSheet::verifyCopies() {
  const auto a = account();
  if (!a || mailbox_.empty()) return;
  confirmation_.clear();
  confirmField_->clear();
  planAccountID_ = a->id;
  store_->checkCleanup(*a, mailbox_, before_);
}

void FreeUpSpaceSheet::pressLeading() {
  const FreeUpState s = store_->cleanupState();
  if (s.busy) {
    store_->cancelCleanup();
  } else if (s.stage == FreeUpStage::verify) {
    store_->resetCleanup();
  } else if (s.stage == FreeUpStage::release) {
    store_->setCleanupStage(FreeUpStage::verify);
  }
}

void FreeUpSpaceSheet::pressRelease() {
  const FreeUpState s = store_->cleanupState();
  if (!matches() || s.busy || s.released || !s.plan) return;
  if (followsTyping_) return;
  // The release goes to the account the plan was made for, never to
  // whichever account the picker falls back to once that one is gone.
  const auto a = planAccount();
  if (!a) {
    refresh();
    return;
  }
  store_->runCleanup(*a);
}

// ---------------------------------------------------------------- drawing

void FreeUpSpaceSheet::refresh() {
  if (closing_) return;
  const FreeUpState s = store_->cleanupState();
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Theme::panel.resolved());
  pal.setColor(QPalette::WindowText, Theme::ink.resolved());
  pal.setColor(QPalette::Base, Theme::raised.resolved());
  pal.setColor(QPalette::Text, Theme::ink.resolved());
  pal.setColor(QPalette::Button, Theme::raised.resolved());
  pal.setColor(QPalette::ButtonText, Theme::ink.resolved());
  pal.setColor(QPalette::PlaceholderText, Theme::ink3.resolved());
  pal.setColor(QPalette::Highlight, Theme::focus.resolved());
  setPalette(pal);

  header_->setTitle(title());
  header_->setSubtitle(subtitle());
  const int stage = int(s.stage);
  rail_->setIndex(stage);
  if (stages_->currentIndex() != stage) {
    const Animation animation = motion(Motion::spring);
    transitionOutPicture(stages_->currentWidget(), stages_, stageTransition(stages_->currentIndex()), animation);
    stages_->setCurrentIndex(stage);
    transitionIn(stages_->currentWidget(), stageTransition(stage), animation);
    if (s.stage == FreeUpStage::done) bounceSymbol(doneShield_);
  }
  refreshChoose(s);
  refreshVerify(s);
  refreshRelease(s);
  refreshDone(s);
  refreshFooter(s);
}

void FreeUpSpaceSheet::refreshChoose(const FreeUpState& s) {
  const auto a = account();
  for (const auto& [years, b] : presets_)
    b->setButtonStyle({preset_ == years ? Kind::Primary : Kind::Secondary, true});
  fillingPickers_ = true;
  const QDateTime t = QDateTime::fromSecsSinceEpoch(secondsSince1970(before_), Qt::LocalTime);
  if (datePicker_->date() != t.date()) datePicker_->setDate(t.date());
  fillingPickers_ = false;
  if (a && a->provider == "gmail")
    gmailNote_->show(SafetyNote::Tone::Shield, "info.circle", "Gmail note",
                     QString::fromUtf8("Deleting from a label only removes the label. To really free space choose "
                                       "\u201C[Gmail]/All Mail\u201D; Gmail then moves the messages to Trash."));
  else
    gmailNote_->clear();
  if (s.error)
    chooseError_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle", qs(s.error->title),
                       qs(s.error->advice) + " Nothing was deleted.");
  else
    chooseError_->clear();
}

void FreeUpSpaceSheet::refreshVerify(const FreeUpState& s) {
  waiting_->setVisible(!s.plan && !s.error);
  if (!s.plan && s.error)
    verifyError_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle", qs(s.error->title),
                       qs(s.error->advice) + " Nothing was deleted.");
  else
    verifyError_->clear();
  if (!s.plan && !s.error) {
    const auto a = account();
    waitingText_->setText("Asking " + (a ? qs(a->server.host) : QString("the server")) +
                          " which messages are older than " + FreeUpText::abbreviatedDate(before_) +
                          QString::fromUtf8("\u2026"));
  }
  verification_->setVisible(s.plan.has_value());
  if (!s.plan) {
    if (ledger_) {
      delete ledger_;
      ledger_ = nullptr;
    }
    return;
  }
  const CleanupPlan& plan = *s.plan;
  const auto items = std::int64_t(plan.items.size());
  const auto verified = std::int64_t(plan.verified().size());
  const auto kept = std::int64_t(plan.unverified().size());
  const bool done = items <= s.checked;
  tallyChecked_->setText(FreeUpText::grouped(s.checked));
  tallyOf_->setText(" of " + FreeUpText::grouped(items) + " checked");
  tallyVerified_->setText(FreeUpText::grouped(verified) + " verified");
  tallyKept_->setText(FreeUpText::grouped(kept) + " kept");
  const ThemeColor keptColor = kept > 0 ? Theme::caution : Theme::ink3;
  tallyKept_->setColor(keptColor);
  tallyKeptIcon_->setColor(keptColor);
  tallyLine_->setValue(items == 0 ? 1.0 : double(s.checked) / double(items));
  tallyLine_->setTint(done ? Theme::seal : Theme::focus);
  nothingText_->setVisible(items == 0);
  if (items == 0)
    nothingText_->setText("Nothing in " + qs(plan.displayName) + " is older than " +
                          FreeUpText::abbreviatedDate(plan.before) + ".");

  if (!ledger_) {
    ledger_ = new VerifyLedger(plan, s.checked, showKept_, verification_);
    ledgerSlot_->addWidget(ledger_);
    connect(ledger_, &VerifyLedger::showKeptToggled, this, [this](bool show) {
      showKept_ = show;
      if (ledger_) ledger_->setShowKept(show);
    });
  } else {
    ledger_->setPlan(plan);
    ledger_->setShowKept(showKept_);
    ledger_->setChecked(s.checked);
  }

  if (!plan.canDeleteSafely())
    unsafeNote_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle",
                      QString::fromUtf8("This folder can\u2019t be released safely"),
                      "The server lacks UIDPLUS and " + QString::number(plan.otherDeletedOnServer) +
                          " other message(s) are already marked deleted, so removing ours would remove theirs too.");
  else
    unsafeNote_->clear();
}

void FreeUpSpaceSheet::refreshRelease(const FreeUpState& s) {
  const std::int64_t count = s.plan ? std::int64_t(s.plan->verified().size()) : 0;
  summary_->setVisible(s.plan.has_value());
  if (s.plan) {
    const CleanupPlan& plan = *s.plan;
    const auto a = planAccount();
    const QFont f = mono(11.5, QFont::Medium);
    const auto kept = std::int64_t(plan.unverified().size());
    summaryRows_[0]->setValue(FreeUpText::grouped(count), f, Theme::ink);
    summaryRows_[1]->setValue(ByteCountText::file(plan.verifiedBytes()), f, Theme::ink);
    summaryRows_[2]->setValue((a ? qs(a->label) : QString()) + QString::fromUtf8(" \u203A ") + qs(plan.displayName),
                              f, Theme::ink2);
    summaryRows_[3]->setValue(FreeUpText::abbreviatedDate(plan.before), f, Theme::ink2);
    summaryRows_[4]->setValue(FreeUpText::grouped(kept), f, kept != 0 ? Theme::caution : Theme::ink2);
    summaryRows_[5]->setValue("all " + FreeUpText::grouped(count) + " stay", f, Theme::seal);
  }

  confirmBox_->setVisible(!s.released);
  if (s.released.has_value() != progressShown_) {
    progressShown_ = s.released.has_value();
    const Transition t = Transition::fromBelow(8).unlessReduced();
    if (progressShown_) transitionIn(progressBox_, t, motion(Motion::spring));
    else progressBox_->hide();
  }
  const QString ph = FreeUpText::phrase(count);
  confirmText_->setText("Releasing permanently deletes these " + FreeUpText::grouped(count).toHtmlEscaped() +
                        " messages from the server (your provider may keep them in Trash for a while). Type <b>" +
                        ph.toHtmlEscaped() + "</b> to confirm.");
  QPalette lp = confirmText_->palette();
  lp.setColor(QPalette::WindowText, Theme::ink.resolved());
  confirmText_->setPalette(lp);
  confirmField_->setPlaceholderText(ph);
  if (confirmField_->text() != confirmation_) confirmField_->setText(confirmation_);
  if (const bool match = FreeUpText::matches(confirmation_, ph); match != checkShown_) {
    checkShown_ = match;
    const Transition t = Transition::scaled(0.92).unlessReduced();
    if (checkShown_) transitionIn(check_, t, motion(Motion::snappy));
    else transitionOut(check_, t, motion(Motion::snappy));
  }
  if (s.released) {
    const auto [doneN, total] = *s.released;
    progressTitle_->setText(s.busy ? QString::fromUtf8("Releasing\u2026") : QString("Released"));
    progressCount_->setText(FreeUpText::grouped(doneN) + " / " + FreeUpText::grouped(total));
    progressLine_->setValue(total == 0 ? 0.0 : double(doneN) / double(total));
  }
  if (s.error)
    releaseError_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle", qs(s.error->title),
                        qs(s.error->advice));
  else
    releaseError_->clear();
  if (s.stage == FreeUpStage::release && planAccountGone() && !s.busy)
    accountGone_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle",
                       "The account of this check was removed",
                       "These messages were checked for an account that is no longer set up, so nothing can be "
                       "released for it. Nothing was deleted.");
  else
    accountGone_->clear();
}

void FreeUpSpaceSheet::refreshDone(const FreeUpState& s) {
  doneText_->setText(s.result ? qs(*s.result) : QString("Done"));
  // What stayed: every planned message that did not leave the server, so a
  // verified message whose copy changed before the release counts too.
  std::int64_t kept = 0;
  if (s.plan) {
    if (s.releasedUIDs) {
      const std::set<std::uint32_t> gone(s.releasedUIDs->begin(), s.releasedUIDs->end());
      for (const auto& item : s.plan->items)
        if (!gone.count(item.uid)) ++kept;
    } else {
      kept = std::int64_t(s.plan->unverified().size());
    }
  }
  doneKept_->setVisible(kept > 0);
  if (kept > 0) doneKept_->setText(pluralKept(kept));
  doneLeftovers_->setVisible(s.leftoversUnflagged > 0);
  if (s.leftoversUnflagged > 0) doneLeftovers_->setText(pluralLeftovers(s.leftoversUnflagged));
}

void FreeUpSpaceSheet::refreshFooter(const FreeUpState& s) {
  for (auto* b : {cancel_, verifyLeading_, releaseLeading_, verifyCopies_, continue_, release_, done_}) b->hide();
  switch (s.stage) {
  case FreeUpStage::choose:
    cancel_->show();
    verifyCopies_->show();
    verifyCopies_->setEnabled(account().has_value() && !mailbox_.empty());
    break;
  case FreeUpStage::verify: {
    verifyLeading_->show();
    verifyLeading_->setText(s.busy ? "Stop" : "Back");
    continue_->show();
    const bool ready = s.plan && s.checked >= std::int64_t(s.plan->items.size()) && !s.plan->verified().empty() &&
                       s.plan->canDeleteSafely();
    continue_->setEnabled(ready);
    break;
  }
  case FreeUpStage::release: {
    releaseLeading_->show();
    releaseLeading_->setText(s.busy ? "Stop" : "Back");
    releaseLeading_->setToolTip(
        s.busy ? "Stop after the current round; anything not yet released stays on the server" : QString());
    const std::int64_t count = s.plan ? std::int64_t(s.plan->verified().size()) : 0;
    release_->setText("Release " + FreeUpText::grouped(count) + " from Server");
    release_->setVisible(!(s.released && !s.error));
    release_->setEnabled(matches() && !s.busy && !s.released && !planAccountGone());
    break;
  }
  case FreeUpStage::done:
    done_->show();
    break;
  }
}

// ---------------------------------------------------------------- keys and closing

void FreeUpSpaceSheet::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && e->modifiers() == Qt::NoModifier ||
      (key == Qt::Key_Enter && e->modifiers() == Qt::KeypadModifier)) {
    // The forward button of the stage; the release button has no key.
    VaultButton* target = nullptr;
    switch (store_->cleanupState().stage) {
    case FreeUpStage::choose: target = verifyCopies_; break;
    case FreeUpStage::verify: target = continue_; break;
    case FreeUpStage::release: break;
    case FreeUpStage::done: target = done_; break;
    }
    if (target && !target->isHidden() && target->isEnabled()) target->click();
    e->accept();
    return;
  }
  if (key == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    if (VaultButton* lead = leadingButton()) {
      if (lead->isEnabled()) lead->click();
    } else {
      close();
    }
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void FreeUpSpaceSheet::reject() {
  // The window's own close request: refused while a release runs.
  if (store_->cleanupState().releasing()) return;
  QDialog::reject();
}

void FreeUpSpaceSheet::done(int r) {
  if (store_->cleanupState().releasing()) return;
  if (!closing_) {
    closing_ = true;
    store_->resetCleanup();
  }
  QDialog::done(r);
}

void FreeUpSpaceSheet::closeEvent(QCloseEvent* e) {
  if (store_->cleanupState().releasing()) {
    e->ignore();
    return;
  }
  if (!closing_) {
    closing_ = true;
    store_->resetCleanup();
  }
  QDialog::closeEvent(e);
}

void FreeUpSpaceSheet::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  refresh();
}

}  // namespace bx
