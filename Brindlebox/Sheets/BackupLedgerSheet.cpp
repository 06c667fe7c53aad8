#include "Sheets/BackupLedgerSheet.h"

#include "Platform/Appearance.h"
#include "Platform/PlatformText.h"
#include "Sheets/FreeUpSheetParts.h"
#include "Sheets/SheetHeader.h"
#include "Sheets/SheetTransitions.h"
#include "Sheets/FreeUpText.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Vault/FileNames.h"
#include "Views/Hairline.h"
#include "Views/Leader.h"
#include "Views/ProgressLine.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"
#include "Views/VaultEmpty.h"

#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScrollArea>
#include <QVBoxLayout>

namespace bx {

namespace {

using Kind = VaultButtonStyle::Kind;

QString qs(const std::string& s) { return QString::fromStdString(s); }

TextBlock* text(const QString& t, const QFont& font, const ThemeColor& color, QWidget* parent) {
  return sheetText(t, font, color, parent, 1);
}

QFont mono(qreal px, QFont::Weight w = QFont::Normal) { return Theme::Font::system(px, w, true); }

}  // namespace

// ---------------------------------------------------------------- status

LedgerStatus LedgerStatus::of(const std::optional<BackupLedgerLine>& line, const std::optional<Date>& lastRun,
                              const std::function<QString(Date)>& ago) {
  if (line && line->running) {
    const double v = line->total == 0 ? 0.03 : double(line->done) / double(line->total);
    return {"+" + FreeUpText::grouped(line->done) + " of " + FreeUpText::grouped(line->total), Theme::focus, false, v};
  }
  if (line && line->finished) {
    if (line->newMessages > 0) return {"+" + FreeUpText::grouped(line->newMessages) + " new", Theme::seal, true, {}};
    return {"up to date", Theme::seal, true, {}};
  }
  // The run failed before this folder was done: what it got, and so what
  // is still missing, rather than an age that reads like success.
  if (line && line->failed) {
    if (line->total > 0)
      return {FreeUpText::grouped(line->done) + " of " + FreeUpText::grouped(line->total) + " saved", Theme::caution,
              false, {}};
    return {"not backed up", Theme::caution, false, {}};
  }
  if (lastRun) return {ago(*lastRun), Theme::ink3, false, {}};
  return {"waiting", Theme::ink3, false, {}};
}

// ---------------------------------------------------------------- folder line

LedgerFolderLine::LedgerFolderLine(const QString& shownName, QWidget* parent) : ThemedWidget(parent) {
  auto* col = new QVBoxLayout(this);
  col->setContentsMargins(14, 9, 14, 9);
  col->setSpacing(5);
  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  name_ = text(shownName, Theme::Font::body(), Theme::ink, this);
  name_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  count_ = new RollingCount(mono(11.5, QFont::Medium), Theme::ink, this);
  auto* status = new QWidget(this);
  status->setFixedWidth(110);
  auto* sl = new QHBoxLayout(status);
  sl->setContentsMargins(0, 0, 0, 0);
  sl->setSpacing(3);
  sl->addStretch(1);
  check_ = new SymbolView("checkmark", 10, Theme::seal, status);
  status_ = text({}, mono(10), Theme::ink3, status);
  sl->addWidget(check_, 0, Qt::AlignVCenter);
  sl->addWidget(status_, 0, Qt::AlignVCenter);
  row->addWidget(name_, 0, Qt::AlignBottom);
  row->addWidget(new Leader(this), 1, Qt::AlignBottom);
  row->addWidget(count_, 0, Qt::AlignBottom);
  row->addWidget(status, 0, Qt::AlignBottom);
  col->addLayout(row);
  bar_ = new ProgressLine(0, Theme::seal, 2, this);
  bar_->hide();
  col->addWidget(bar_);
  hairline(this, Qt::BottomEdge, Theme::rule);
}

void LedgerFolderLine::update(std::int64_t count, const LedgerStatus& status) {
  count_->setValue(count);
  status_->setText(status.text);
  status_->setColor(status.color);
  check_->setColor(status.color);
  check_->setVisible(status.checkmark);
  const bool bar = status.progress.has_value();
  if (status.progress) bar_->setValue(*status.progress);
  if (barShown_ == bar) return;
  const bool animate = barShown_.has_value();
  barShown_ = bar;
  if (!animate) bar_->setVisible(bar);
  else if (bar) transitionIn(bar_, Transition::opacity(), motion(Motion::spring));
  else transitionOut(bar_, Transition::opacity(), motion(Motion::spring));
}

QString LedgerFolderLine::shownName() const { return name_->text(); }
QString LedgerFolderLine::countText() const { return count_->text(); }
QString LedgerFolderLine::statusText() const { return status_->text(); }
ThemeColor LedgerFolderLine::statusColor() const { return status_->color(); }
bool LedgerFolderLine::hasCheckmark() const { return !check_->isHidden(); }
ProgressLine* LedgerFolderLine::progress() const { return bar_->isHidden() ? nullptr : bar_; }

// ---------------------------------------------------------------- account card

LedgerAccountCard::LedgerAccountCard(SheetStore* store, const MailAccount& account, QWidget* parent)
    : ThemedWidget(parent), store_(store), account_(account) {
  auto* col = new QVBoxLayout(this);
  col->setContentsMargins(0, 0, 0, 0);
  col->setSpacing(0);

  auto* head = new QWidget(this);
  auto* hl = new QHBoxLayout(head);
  hl->setContentsMargins(14, 10, 14, 10);
  hl->setSpacing(8);
  symbol_ = new SymbolView(store->providerSymbol(account.provider), 12, Theme::ink2, head);
  label_ = text({}, Theme::Font::headline(), Theme::ink, head);
  label_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  user_ = text({}, mono(10), Theme::ink3, head);
  phase_ = text({}, Theme::Font::caption(), Theme::focus, head);
  last_ = text({}, mono(10), Theme::ink3, head);
  backUp_ = new VaultButton("Back Up", Kind::Quiet, true, head);
  backUp_->setFocusPolicy(Qt::TabFocus);
  hl->addWidget(symbol_, 0, Qt::AlignVCenter);
  hl->addWidget(label_, 0, Qt::AlignBottom);
  hl->addWidget(user_, 0, Qt::AlignBottom);
  hl->addStretch(1);
  hl->addWidget(phase_, 0, Qt::AlignVCenter);
  hl->addWidget(last_, 0, Qt::AlignVCenter);
  hl->addWidget(backUp_, 0, Qt::AlignVCenter);
  hairline(head, Qt::BottomEdge, Theme::rule);
  col->addWidget(head);
  connect(backUp_, &VaultButton::clicked, this, [this] { store_->backUpNow(account_); });

  problem_ = new NoteSlot(this);
  problem_->layout()->setContentsMargins(10, 10, 10, 10);
  col->addWidget(problem_);

  lines_ = new QVBoxLayout;
  lines_->setSpacing(0);
  col->addLayout(lines_);
  for (const auto& name : account.folders) {
    QString shown = qs(name);
    for (const auto& k : account.knownFolders)
      if (k.name == name) {
        shown = qs(k.displayName);
        break;
      }
    auto* line = new LedgerFolderLine(shown, this);
    lineByName_[name] = line;
    lines_->addWidget(line);
  }
  reloadSync();
}

void LedgerAccountCard::reloadSync() {
  sync_ = store_->loadSync(account_);
  refresh(account_);
}

bool LedgerAccountCard::busy() const {
  return store_->backupRunning() && store_->runningAccountID() == std::optional<UUID>(account_.id);
}

std::pair<std::string, std::string> LedgerAccountCard::countKey(const std::string& mailbox) const {
  // The mail lives under the account folder its backups used, which is not
  // the label's folder when another account already had that name.
  auto split = [](const std::string& dir) {
    const auto slash = dir.find('/');
    if (slash == std::string::npos) return std::pair{dir, std::string()};
    return std::pair{dir.substr(0, slash), dir.substr(slash + 1)};
  };
  auto own = sync_.folders.find(mailbox);
  if (own != sync_.folders.end() && !own->second.directory.empty()) return split(own->second.directory);

  const std::string accountDir = store_->accountFolder(account_);
  std::string folderDir = mailbox;
  for (const auto& k : account_.knownFolders)
    if (k.name == mailbox) {
      folderDir = FileNames::folderDirectory(k);
      break;
    }
  return {accountDir, folderDir};
}

void LedgerAccountCard::refresh(const MailAccount& account) {
  account_ = account;
  symbol_->setSymbol(store_->providerSymbol(account.provider));
  label_->setText(qs(account.label));
  user_->setText(qs(account.username));
  const bool isBusy = busy();
  phase_->setVisible(isBusy);
  last_->setVisible(!isBusy);
  backUp_->setVisible(!isBusy);
  if (shownBusy_ && *shownBusy_ != isBusy) {
    // Idle and running trade places by fading.
    const Animation animation = motion(Motion::spring);
    for (QWidget* w : isBusy ? QList<QWidget*>{phase_} : QList<QWidget*>{last_, backUp_})
      transitionIn(w, Transition::opacity(), animation);
  }
  shownBusy_ = isBusy;
  if (isBusy) phase_->setText(store_->phase());
  last_->setText(account.lastBackup ? "checked " + store_->ago(*account.lastBackup) : QString("never backed up"));
  backUp_->setEnabled(!store_->backupRunning());

  if (auto p = store_->problem(account))
    problem_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle", qs(p->title), qs(p->advice));
  else
    problem_->clear();

  const auto agoFn = [this](Date d) { return store_->ago(d); };
  for (const auto& [name, line] : lineByName_) {
    const auto sync = sync_.folders.find(name);
    const std::optional<Date> lastRun = sync != sync_.folders.end() ? sync->second.lastRun : std::nullopt;
    const auto [accountDir, folderDir] = countKey(name);
    line->update(store_->count(accountDir, folderDir),
                 LedgerStatus::of(store_->ledgerLine(account, name), lastRun, agoFn));
  }
}

QString LedgerAccountCard::trailingText() const { return busy() ? phase_->text() : last_->text(); }

LedgerFolderLine* LedgerAccountCard::line(const std::string& mailbox) const {
  auto it = lineByName_.find(mailbox);
  return it == lineByName_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- sheet

namespace {

// A card surface behind a widget's own layout.
class CardFrame : public VaultCard {
public:
  explicit CardFrame(QWidget* parent) : VaultCard(Theme::rCard, Theme::raised, parent) {}
};

}  // namespace

BackupLedgerSheet::BackupLedgerSheet(SheetStore* store, QWidget* parent) : QDialog(parent), store_(store) {
  setWindowModality(Qt::WindowModal);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Backup Ledger");
  setFixedSize(600, 560);
  setAutoFillBackground(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  trailing_ = new QWidget;
  auto* tl = new QHBoxLayout(trailing_);
  tl->setContentsMargins(0, 0, 0, 0);
  spinner_ = new SmallSpinner(trailing_);
  shield_ = new SymbolView("checkmark.shield.fill", 22, Theme::seal, trailing_);
  tl->addWidget(spinner_);
  tl->addWidget(shield_);
  header_ = new SheetHeader("Backup ledger", QString(), QString(), trailing_, this);
  outer->addWidget(header_);

  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* content = new QWidget;
  content->setAutoFillBackground(false);
  scroll->viewport()->setAutoFillBackground(false);
  body_ = new QVBoxLayout(content);
  body_->setContentsMargins(24, 24, 24, 24);
  body_->setSpacing(18);

  // An account list or vault folder that cannot be read is said above
  // everything else: the accounts are only out of sight, and adding them
  // again is not the cure.
  listProblem_ = new NoteSlot(content);
  body_->addWidget(listProblem_);

  addAccount_ = new VaultButton(QString::fromUtf8("Add Account\u2026"), Kind::Primary, false);
  addAccount_->setFocusPolicy(Qt::TabFocus);
  empty_ = new VaultEmpty("person.crop.circle.badge.plus", "No accounts yet",
                          "Connect an account to start filling the vault.", {addAccount_}, content);
  empty_->setFixedHeight(220);
  connect(addAccount_, &VaultButton::clicked, this, [this] {
    store_->requestAddAccount();
    close();
  });
  body_->addWidget(empty_);

  imported_ = new CardFrame(content);
  auto* il = new QHBoxLayout(imported_);
  il->setContentsMargins(14, 14, 14, 14);
  il->addWidget(new SymbolView("square.and.arrow.down", 13, Theme::ink2, imported_), 0, Qt::AlignVCenter);
  il->addWidget(text("Imported", Theme::Font::headline(), Theme::ink, imported_), 0, Qt::AlignBottom);
  il->addWidget(new Leader(imported_), 1, Qt::AlignBottom);
  importedCount_ = text({}, mono(11), Theme::ink2, imported_);
  il->addWidget(importedCount_, 0, Qt::AlignBottom);
  body_->addWidget(imported_);
  body_->addStretch(1);
  scroll->setWidget(content);
  outer->addWidget(scroll, 1);

  auto* footer = new QWidget(this);
  auto* fl = new QHBoxLayout(footer);
  fl->setContentsMargins(20, 14, 20, 14);
  fl->setSpacing(10);
  hairline(footer, Qt::TopEdge, Theme::rule);
  fl->addWidget(new SymbolView("folder", 12, Theme::ink3, footer), 0, Qt::AlignVCenter);
  path_ = text({}, mono(10), Theme::ink3, footer);
  path_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  fl->addWidget(path_, 1, Qt::AlignVCenter);
  show_ = new VaultButton("Show", Kind::Quiet, true, footer);
  fl->addWidget(show_);
  fl->addStretch(0);
  stop_ = new VaultButton("Stop", Kind::Secondary, false, footer);
  stop_->setSymbol("stop.fill");
  stop_->setToolTip(PlatformText::localize(QString::fromUtf8("Stop after the current batch (\u2318.)")));
  backUpAll_ = new VaultButton("Back Up All", Kind::Secondary, false, footer);
  close_ = new VaultButton("Close", Kind::Primary, false, footer);
  for (auto* b : {show_, stop_, backUpAll_, close_}) b->setFocusPolicy(Qt::TabFocus);
  fl->addWidget(stop_);
  fl->addWidget(backUpAll_);
  fl->addWidget(close_);
  outer->addWidget(footer);

  connect(show_, &VaultButton::clicked, this, [this] { store_->openArchiveInFinder(); });
  connect(stop_, &VaultButton::clicked, this, [this] { store_->stopBackup(); });
  connect(backUpAll_, &VaultButton::clicked, this, [this] { store_->backUpNow(std::nullopt); });
  connect(close_, &VaultButton::clicked, this, [this] { close(); });

  connect(store_, &SheetStore::ledgerChanged, this, &BackupLedgerSheet::refresh);
  connect(store_, &SheetStore::backupRunEnded, this, [this] {
    for (auto* c : cards_) c->reloadSync();
    refresh();
  });
  connect(&Appearance::shared(), &Appearance::changed, this, [this] { refresh(); });
  shownFinish_ = store_->lastFinished();
  rebuildCards();
  refresh();
}

QString BackupLedgerSheet::statusTitle(bool running, const QString& account, const std::optional<QString>& last) {
  if (running) return "Backing up " + account + QString::fromUtf8("\u2026");
  return last.value_or("Your vault");
}

QString BackupLedgerSheet::statusTitle() const {
  return statusTitle(store_->backupRunning(), store_->runningAccountLabel(), store_->lastMessage());
}

bool BackupLedgerSheet::cardsMatch() const {
  const auto accounts = store_->accounts();
  if (accounts.size() != std::size_t(cards_.size())) return false;
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const MailAccount& a = cards_[int(i)]->account();
    if (a.id != accounts[i].id || a.folders != accounts[i].folders || a.knownFolders != accounts[i].knownFolders)
      return false;
  }
  return true;
}

void BackupLedgerSheet::rebuildCards() {
  for (auto* c : cards_) {
    body_->removeWidget(c);
    delete c;
  }
  cards_.clear();
  int at = 1;  // after the storage problem's note
  for (const auto& a : store_->accounts()) {
    auto* card = new CardFrame(body_->parentWidget());
    auto* cl = new QVBoxLayout(card);
    cl->setContentsMargins(0, 0, 0, 0);
    auto* inner = new LedgerAccountCard(store_, a, card);
    cl->addWidget(inner);
    body_->insertWidget(at++, card);
    cards_.append(inner);
  }
}

void BackupLedgerSheet::refresh() {
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Theme::panel.resolved());
  pal.setColor(QPalette::Base, Theme::raised.resolved());
  pal.setColor(QPalette::Button, Theme::raised.resolved());
  pal.setColor(QPalette::Text, Theme::ink.resolved());
  pal.setColor(QPalette::WindowText, Theme::ink.resolved());
  setPalette(pal);

  if (!cardsMatch()) rebuildCards();
  const auto accounts = store_->accounts();
  for (std::size_t i = 0; i < accounts.size() && i < std::size_t(cards_.size()); ++i)
    cards_[int(i)]->refresh(accounts[i]);

  const bool running = store_->backupRunning();
  header_->setTitle(statusTitle());
  header_->setSubtitle(store_->vaultSummary());
  spinner_->setVisible(running);
  shield_->setVisible(!running);
  // A failed account keeps the shield on caution, as it keeps the strip.
  const bool trouble = store_->anyProblem();
  shield_->setSymbol(trouble ? "exclamationmark.shield.fill" : "checkmark.shield.fill");
  shield_->setColor(trouble ? Theme::caution : Theme::seal);
  stop_->setVisible(running);
  backUpAll_->setVisible(!running);
  if (shownRunning_ && *shownRunning_ != running) {
    // Idle and running trade places by fading.
    const Animation animation = motion(Motion::spring);
    transitionIn(running ? static_cast<QWidget*>(spinner_) : shield_, Transition::opacity(), animation);
    transitionIn(running ? stop_ : backUpAll_, Transition::opacity(), animation);
  }
  shownRunning_ = running;
  // The shield bounces once for every run that ends.
  if (store_->lastFinished() != shownFinish_) {
    if (shownFinish_ || store_->lastFinished()) bounceSymbol(shield_);
    shownFinish_ = store_->lastFinished();
  }

  empty_->setVisible(accounts.empty());
  if (const auto p = store_->storageProblem())
    listProblem_->show(SafetyNote::Tone::Caution, "exclamationmark.triangle", qs(p->title), qs(p->advice));
  else
    listProblem_->clear();
  imported_->setVisible(store_->hasImported());
  importedCount_->setText(FreeUpText::grouped(store_->importedCount()));

  const QString full = FreeUpText::tildePath(store_->vaultRoot(), QDir::homePath());
  path_->setText(full);
  path_->setToolTip(full);
  {
    // One line, shortened in the middle.
    const QFontMetrics fm(path_->textFont());
    const int w = std::max(40, width() - 330);
    path_->setText(fm.elidedText(full, Qt::ElideMiddle, w));
  }
  backUpAll_->setEnabled(!accounts.empty());
}

LedgerAccountCard* BackupLedgerSheet::card(const UUID& id) const {
  for (auto* c : cards_)
    if (c->account().id == id) return c;
  return nullptr;
}

QList<LedgerAccountCard*> BackupLedgerSheet::cards() const { return cards_; }

QString BackupLedgerSheet::importedText() const { return importedCount_->text(); }
QString BackupLedgerSheet::pathText() const { return path_->toolTip(); }
VaultButton* BackupLedgerSheet::actionButton() const { return stop_->isHidden() ? backUpAll_ : stop_; }
bool BackupLedgerSheet::showsSpinner() const { return !spinner_->isHidden(); }
QString BackupLedgerSheet::shieldSymbol() const { return shield_->symbol(); }

void BackupLedgerSheet::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    close_->click();
    e->accept();
    return;
  }
  if (e->key() == Qt::Key_Escape) {
    close();
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

}  // namespace bx
