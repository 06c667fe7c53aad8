#include "Browser/VaultStatus.h"

#include "Browser/BrowserText.h"
#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"
#include "Store/AppStore.h"
#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Theme/Motion.h"
#include "Views/CountText.h"
#include "Views/ProgressLine.h"
#include "Views/SmallCaps.h"
#include "Views/StatusLine.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"

#include <QDateTime>
#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QVBoxLayout>

namespace bx {

// MARK: pieces

// A small indeterminate activity indicator; still under Reduce Motion.
class Spinner : public ThemedWidget {
public:
  explicit Spinner(QWidget* parent) : ThemedWidget(parent) {
    setFixedSize(12, 12);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
      angle_ = (angle_ + 30) % 360;
      update();
    });
  }

protected:
  void showEvent(QShowEvent*) override { timer_.start(); }
  void hideEvent(QHideEvent*) override { timer_.stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(Theme::ink2.resolved(), 1.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    const int start = ReduceMotion::isOn() ? 90 : 90 - angle_;
    p.drawArc(QRectF(1.5, 1.5, 9, 9), start * 16, 270 * 16);
  }

private:
  QTimer timer_;
  int angle_ = 0;
};

namespace {
TextBlock* line(QWidget* parent, const QFont& font, const ThemeColor& color) {
  auto* t = new TextBlock(QString(), parent);
  t->setTextFont(font);
  t->setColor(color);
  t->setMaxLines(1);
  t->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  return t;
}

int yearOf(Date d) {
  return QDateTime::fromSecsSinceEpoch(secondsSince1970(d)).date().year();
}

void armMinute(QTimer& t, QObject* owner, std::function<void()> f) {
  t.setInterval(60 * 1000);
  QObject::connect(&t, &QTimer::timeout, owner, std::move(f));
  t.start();
}
} // namespace

// MARK: settings

ScheduleSettings& ScheduleSettings::shared() {
  static ScheduleSettings s;
  return s;
}

bool ScheduleSettings::enabled() { return QSettings().value(QStringLiteral("scheduleEnabled"), false).toBool(); }

std::optional<int> ScheduleSettings::hours() {
  QSettings s;
  if (!s.contains(QStringLiteral("scheduleHours"))) return std::nullopt;
  return s.value(QStringLiteral("scheduleHours")).toInt();
}

std::optional<Date> lastCheckDate(const BackupStatus& backup, const std::vector<MailAccount>& accounts) {
  if (backup.lastFinished) return backup.lastFinished;
  std::optional<Date> latest;
  for (const auto& a : accounts)
    if (a.lastBackup && (!latest || *a.lastBackup > *latest)) latest = a.lastBackup;
  return latest;
}

// MARK: header

VaultHeader::VaultHeader(AppStore& store, QWidget* parent) : ThemedWidget(parent), store_(store) {
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 4, 0, 0);
  v->setSpacing(3);
  v->addWidget(new SmallCaps(QStringLiteral("The Vault"), Theme::ink3, this));
  auto* row = new QHBoxLayout;
  row->setSpacing(5);
  count_ = new CountText(Motion::snappy, this);
  count_->setTextFont(Theme::Font::system(20, QFont::DemiBold, true));
  count_->setColor(Theme::ink);
  messages_ = new TextBlock(QStringLiteral("messages"), this);
  messages_->setTextFont(Theme::Font::callout());
  messages_->setColor(Theme::ink2);
  row->addWidget(count_, 0, Qt::AlignBaseline);
  row->addWidget(messages_, 0, Qt::AlignBaseline);
  row->addStretch(1);
  v->addLayout(row);
  detail_ = line(this, Theme::Font::system(10, QFont::Normal, true), Theme::ink3);
  checked_ = line(this, Theme::Font::system(10, QFont::Normal, true), Theme::ink3);
  v->addWidget(detail_);
  v->addWidget(checked_);
  for (auto signal : {&AppStore::recordsChanged, &AppStore::cachesChanged, &AppStore::backupChanged,
                      &AppStore::accountsChanged})
    connect(&store_, signal, this, &VaultHeader::refresh);
  armMinute(minute_, this, [this] { refresh(); });
  refresh();
}

QString VaultHeader::countText() const { return BrowserText::count((long long)store_.records().size()); }

QString VaultHeader::detail() const {
  const auto& r = store_.records();
  if (r.empty()) return BrowserText::headerDetail(store_.totalBytes(), std::nullopt, std::nullopt);
  return BrowserText::headerDetail(store_.totalBytes(), yearOf(r.back().date), yearOf(r.front().date));
}

QString VaultHeader::checkedText() const {
  const auto d = lastCheckDate(store_.backup(), store_.accounts());
  return d ? QStringLiteral("checked ") + Fmt::ago(*d) : QString();
}

void VaultHeader::refresh() {
  const long long n = (long long)store_.records().size();
  count_->setCount(countText(), n < shownCount_);
  shownCount_ = n;
  detail_->setText(detail());
  const QString checked = checkedText();
  checked_->setText(checked);
  const bool lineCame = checked_->isHidden() == !checked.isEmpty();
  checked_->setVisible(!checked.isEmpty());
  setAccessibleName(QStringLiteral("The Vault, ") + countText() + QStringLiteral(" messages, ") + detail() +
                    (checked.isEmpty() ? QString() : QStringLiteral(", ") + checked));
  if (lineCame) emit linesChanged();
}

// MARK: strip

BackupStrip::BackupStrip(AppStore& store, QWidget* parent) : ThemedWidget(parent), store_(store) {
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(10, 10, 10, 10);
  v->setSpacing(8);

  idle_ = new QWidget(this);
  auto* idle = new QVBoxLayout(idle_);
  idle->setContentsMargins(0, 0, 0, 0);
  idle->setSpacing(8);
  shield_ = new SymbolView(QStringLiteral("checkmark.shield.fill"), 15, Theme::seal);
  StatusLine::Style style;
  style.spacing = 8;
  style.lineSpacing = 1;
  style.leadAlignment = Qt::AlignVCenter;
  style.titleFont = Theme::Font::weighted(Theme::Font::callout(), QFont::Medium);
  style.titleColor = Theme::ink;
  style.detailFont = Theme::Font::system(9.5, QFont::Normal, true);
  style.detailColor = Theme::ink3;
  style.maxLines = 1;
  status_ = new StatusLine(shield_, style, QString(), QString(), idle_);
  title_ = status_->title();
  detail_ = status_->detail();
  backUp_ = new VaultButton(QStringLiteral("Back Up"), VaultButtonStyle::Kind::Primary, true, idle_);
  backUp_->setProperty("demoAnchor", QStringLiteral("backupNow"));
  connect(backUp_, &QAbstractButton::clicked, this, [this] { store_.backUpNow(std::nullopt); });
  // Beside the texts, "Back Up" keeps 4 px of room on top of the row's
  // spacing; below them, it lines up with the texts.
  beside_ = new QWidget(status_);
  auto* besideRow = new QHBoxLayout(beside_);
  besideRow->setContentsMargins(4 + style.spacing, 0, 0, 0);
  besideRow->setSpacing(0);
  status_->row()->addWidget(beside_, 0, Qt::AlignVCenter);
  below_ = new QWidget(idle_);
  auto* belowRow = new QHBoxLayout(below_);
  belowRow->setContentsMargins(shield_->sizeHint().width() + style.spacing, 0, 0, 0);
  belowRow->setSpacing(0);
  belowRow->addStretch(1);
  idle->addWidget(status_);
  idle->addWidget(below_);
  placeBackUp(false);
  v->addWidget(idle_);

  running_ = new QWidget(this);
  auto* run = new QVBoxLayout(running_);
  run->setContentsMargins(0, 0, 0, 0);
  run->setSpacing(8);
  auto* top = new QHBoxLayout;
  top->setSpacing(6);
  spinner_ = new Spinner(running_);
  runTitle_ = line(running_, Theme::Font::weighted(Theme::Font::callout(), QFont::Medium), Theme::ink);
  stop_ = new VaultButton(QString(), VaultButtonStyle::Kind::Quiet, true, running_);
  stop_->setSymbol(QStringLiteral("stop.fill"), 9);
  stop_->setAccessibleName(QStringLiteral("Stop backup"));
  stop_->setToolTip(PlatformText::localize(QStringLiteral("Stop backup (⌘.)")));
  connect(stop_, &QAbstractButton::clicked, this, [this] { store_.stopBackup(); });
  top->addWidget(spinner_, 0, Qt::AlignVCenter);
  top->addWidget(runTitle_, 1, Qt::AlignVCenter);
  top->addWidget(stop_, 0, Qt::AlignVCenter);
  run->addLayout(top);
  bar_ = new ProgressLine(0, Theme::seal, 3, running_);
  run->addWidget(bar_);
  progress_ = new CountText(Motion::snappy, running_);
  progress_->setTextFont(Theme::Font::system(10, QFont::Normal, true));
  progress_->setColor(Theme::ink3);
  progress_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  run->addWidget(progress_);
  v->addWidget(running_);

  indexing_ = line(this, Theme::Font::system(9.5, QFont::Normal, true), Theme::ink3);
  v->addWidget(indexing_);

  setToolTip(PlatformText::localize(QStringLiteral("Double-click for the backup ledger (⇧⌘0)")));
  backUp_->installEventFilter(this);
  stop_->installEventFilter(this);

  for (auto signal : {&AppStore::backupChanged, &AppStore::accountsChanged, &AppStore::backupProblemsChanged,
                      &AppStore::indexingChanged, &AppStore::storageProblemChanged})
    connect(&store_, signal, this, &BackupStrip::refresh);
  connect(&ScheduleSettings::shared(), &ScheduleSettings::changed, this, &BackupStrip::refresh);
  armMinute(minute_, this, [this] { refresh(); });
  shownFinish_ = store_.backup().lastFinished;
  refresh();
}

void BackupStrip::fadeIn(QWidget* block) {
  if (Motion::isInstant()) return;
  // One effect per block, made on its first switch and kept transparent to
  // painting once it settles.
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(block->graphicsEffect());
  if (!effect) {
    effect = new QGraphicsOpacityEffect(block);
    block->setGraphicsEffect(effect);
  }
  auto* anim = new QVariantAnimation(block);
  const Animation a = motion(Motion::spring);
  anim->setDuration(a.durationMs());
  anim->setStartValue(0.0);
  anim->setEndValue(1.0);
  connect(anim, &QVariantAnimation::valueChanged, effect,
          [effect, a](const QVariant& v) { effect->setOpacity(std::clamp(a.progress(v.toDouble()), 0.0, 1.0)); });
  connect(anim, &QVariantAnimation::finished, effect, [effect] { effect->setOpacity(1); });
  effect->setOpacity(0);
  anim->start(QAbstractAnimation::DeleteWhenStopped);
}

bool BackupStrip::isBackUpBelow() const { return below_->isVisibleTo(this); }

void BackupStrip::placeBackUp(bool below) {
  auto* from = static_cast<QHBoxLayout*>((below ? beside_ : below_)->layout());
  auto* to = static_cast<QHBoxLayout*>((below ? below_ : beside_)->layout());
  from->removeWidget(backUp_);
  if (below) to->insertWidget(0, backUp_, 0, Qt::AlignVCenter);
  else to->addWidget(backUp_, 0, Qt::AlignVCenter);
  backUp_->show();
  beside_->setVisible(!below);
  below_->setVisible(below);
}

void BackupStrip::fitBackUp() {
  const QMargins m = layout()->contentsMargins();
  const int room = width() - m.left() - m.right();
  if (room <= 0) return;
  // The title and detail keep to one line each and are never cut: where they
  // and "Back Up" do not fit side by side, the button moves below them.
  const int beside = status_->idealWidth() + beside_->layout()->contentsMargins().left() + status_->row()->spacing() +
                     backUp_->sizeHint().width();
  const bool below = beside > room;
  if (below != isBackUpBelow()) placeBackUp(below);
}

void BackupStrip::resizeEvent(QResizeEvent* e) {
  ThemedWidget::resizeEvent(e);
  fitBackUp();
}

QString BackupStrip::statusTitle() const {
  const bool ever = store_.backup().lastFinished.has_value() ||
                    std::any_of(store_.accounts().begin(), store_.accounts().end(),
                                [](const MailAccount& a) { return a.lastBackup.has_value(); });
  // An account list that cannot be read hides accounts: that needs the
  // user as much as a failed backup does.
  const bool problems = !store_.backupProblems().isEmpty() || store_.storageProblem();
  return BrowserText::statusTitle(problems, store_.accounts().empty(), ever);
}

QString BackupStrip::statusDetail() const {
  const auto d = lastCheckDate(store_.backup(), store_.accounts());
  return BrowserText::statusDetail(d ? std::optional<QString>(Fmt::ago(*d)) : std::nullopt, ScheduleSettings::enabled(),
                                   ScheduleSettings::hours(), int(store_.accounts().size()));
}

bool BackupStrip::isRunningShown() const { return !running_->isHidden(); }
QString BackupStrip::runningTitle() const { return runTitle_->text(); }
QString BackupStrip::progressText() const { return progress_->text(); }
double BackupStrip::progressValue() const { return bar_->value(); }
QString BackupStrip::indexingText() const { return indexing_->isHidden() ? QString() : indexing_->text(); }

void BackupStrip::refresh() {
  const BackupStatus& b = store_.backup();
  const bool switching = b.running == running_->isHidden();
  idle_->setVisible(!b.running);
  running_->setVisible(b.running);
  if (switching && isVisible()) fadeIn(b.running ? running_ : idle_);
  const bool problems = !store_.backupProblems().isEmpty() || store_.storageProblem();
  shield_->setSymbol(problems ? QStringLiteral("exclamationmark.shield.fill") : QStringLiteral("checkmark.shield.fill"));
  shield_->setColor(problems ? Theme::caution : Theme::seal);
  if (b.lastFinished != shownFinish_) {
    shownFinish_ = b.lastFinished;
    bounceSymbol(shield_);
  }
  title_->setText(statusTitle());
  detail_->setText(statusDetail());
  fitBackUp();
  const bool noAccounts = store_.accounts().empty();
  backUp_->setEnabled(!noAccounts);
  backUp_->setToolTip(noAccounts ? QStringLiteral("Add an account first")
                                 : PlatformText::localize(QStringLiteral("Fetch new mail into the vault (⇧⌘B)")));
  runTitle_->setText(BrowserText::runningTitle(b.progress));
  bar_->setValue(BrowserText::progressFraction(b.progress));
  progress_->setCount(BrowserText::progressLine(b.progress));
  const auto ix = store_.indexing();
  const bool showIndexing = ix && ix->total > 0;
  indexing_->setVisible(showIndexing);
  if (showIndexing) indexing_->setText(BrowserText::indexingLine(ix->done, ix->total));
  setAccessibleName(b.running ? runningTitle() : statusTitle() + QStringLiteral(", ") + statusDetail());
  QString tip = PlatformText::localize(QStringLiteral("Double-click for the backup ledger (⇧⌘0)"));
  if (const auto p = store_.storageProblem())
    tip = QString::fromStdString(p->title) + QLatin1Char('\n') + QString::fromStdString(p->advice) +
          QStringLiteral("\n\n") + tip;
  setToolTip(tip);
}

void BackupStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  VaultCard::paint(p, QRectF(rect()), Theme::rCard, Theme::panel);
}

void BackupStrip::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) store_.setShowBackupActivity(true);
}

bool BackupStrip::eventFilter(QObject* watched, QEvent* event) {
  // A double-click's second press arrives as a double-click event, which a
  // button would take as a new press: a double-click on "Back Up" would
  // start a run and then stop it on the button that replaced it.
  if (event->type() == QEvent::MouseButtonDblClick && (watched == backUp_ || watched == stop_)) {
    if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) store_.setShowBackupActivity(true);
    return true;
  }
  return ThemedWidget::eventFilter(watched, event);
}

} // namespace bx
