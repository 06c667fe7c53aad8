#include "Browser/MessageListView.h"

#include "Browser/BrowserText.h"
#include "Browser/MessageList.h"
#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"
#include "Store/AppStore.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/ProgressLine.h"
#include "Views/SmallCaps.h"
#include "Theme/AnimatedValue.h"
#include "Theme/Motion.h"
#include "Views/CountText.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultEmpty.h"

#include "Demo/DemoAnchors.h"

#include <QAction>
#include <QEvent>
#include <QHideEvent>
#include <QShortcut>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QTimer>
#include <QToolBar>
#include <QLineEdit>
#include <QPainter>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace bx {

namespace {

// "Reading your vault": the scan's progress while the list is still empty.
class ReadingView : public ThemedWidget {
public:
  explicit ReadingView(QWidget* parent) : ThemedWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    auto* caps = new SmallCaps(QStringLiteral("Reading your vault"), Theme::ink3, this);
    outer->addWidget(caps, 0, Qt::AlignHCenter);
    outer->addSpacing(10);
    line_ = new ProgressLine(0.05, Theme::seal, 3, this);
    line_->setFixedWidth(180);
    outer->addWidget(line_, 0, Qt::AlignHCenter);
    outer->addSpacing(10);
    text_ = new TextBlock(QString(), this);
    text_->setTextFont(Theme::Font::system(11, QFont::Normal, true));
    text_->setColor(Theme::ink2);
    text_->setAlignment(Qt::AlignHCenter);
    outer->addWidget(text_, 0, Qt::AlignHCenter);
    outer->addStretch(1);
  }
  void setProgress(int done, int total) {
    line_->setValue(total >= 1 ? double(done) / total : 0.05);
    text_->setText(BrowserText::readingText(done, total));
  }
  TextBlock* text() const { return text_; }

private:
  ProgressLine* line_;
  TextBlock* text_;
};

std::optional<int> yearOfGroup(const MonthGroup& g) { return g.key.year; }

} // namespace

MessageListView::MessageListView(AppStore& store, QWidget* parent) : ThemedWidget(parent), store_(store) {
  search_ = new QLineEdit(this);
  search_->setPlaceholderText(QStringLiteral("Search subject, people, text, attachments"));
  search_->setClearButtonEnabled(true);
  search_->setObjectName(QStringLiteral("searchField"));
  search_->setText(store_.query());
  connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) { store_.setQuery(text); });
  search_->hide();  // the root window moves it into the toolbar
  // The desktop's find key reaches the field while the list is on screen.
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
  });

  subtitle_ = new TextBlock(QString(), this);
  subtitle_->setTextFont(Theme::Font::caption());
  subtitle_->setColor(Theme::ink3);
  subtitle_->setMaxLines(1);
  subtitle_->hide();  // shown by the toolbar

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  resultsSlot_ = new QWidget(this);
  resultsSlot_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  resultsSlot_->installEventFilter(this);
  results_ = new ResultsHeader(store_, resultsSlot_);
  outer->addWidget(resultsSlot_);
  resultsWanted_ = !BrowserText::trimmed(store_.query()).isEmpty();
  resultsShown_ = new AnimatedValue(resultsWanted_ ? 1 : 0, this);
  connect(resultsShown_, &AnimatedValue::changed, this, &MessageListView::placeResults);
  placeResults();
  auto* stackHost = new QWidget(this);
  stack_ = new QStackedLayout(stackHost);
  list_ = new MessageList(store_, stackHost);
  stack_->addWidget(list_);
  emptyHost_ = new QWidget(stackHost);
  auto* emptyLayout = new QVBoxLayout(emptyHost_);
  emptyLayout->setContentsMargins(0, 0, 0, 0);
  stack_->addWidget(emptyHost_);
  outer->addWidget(stackHost, 1);

  // Painted rows answer the demo's "msg-<path>" anchors.
  orrery::DemoAnchors::shared().provide(list_->viewport(), QStringLiteral("msg-"), [this](const QString& id) {
    return list_->rowRect(id.mid(4));
  });

  for (auto signal : {&AppStore::visibleChanged, &AppStore::groupsVersionChanged, &AppStore::queryChanged,
                      &AppStore::sidebarChanged, &AppStore::indexingChanged, &AppStore::recordsChanged,
                      &AppStore::accountsChanged, &AppStore::backupChanged, &AppStore::savedSearchesChanged})
    connect(&store_, signal, this, &MessageListView::refresh);
  refresh();
}

QWidget* MessageListView::emptyState() const {
  return stack_->currentWidget() == emptyHost_ ? empty_.data() : nullptr;
}

QString MessageListView::subtitle() const {
  const auto& groups = store_.groups();
  if (groups.empty()) return BrowserText::subtitle(int(store_.visible().size()), std::nullopt, std::nullopt);
  return BrowserText::subtitle(int(store_.visible().size()), yearOfGroup(groups.front()), yearOfGroup(groups.back()));
}

QString MessageListView::emptyKind() const {
  if (!store_.query().isEmpty()) return QStringLiteral("search");
  if (store_.indexing()) return QStringLiteral("reading");
  if (!store_.records().empty()) return QStringLiteral("filter");
  return QStringLiteral("vault");
}

void MessageListView::showEvent(QShowEvent* e) {
  ThemedWidget::showEvent(e);
  // After the window has built its toolbar and laid it out.
  QTimer::singleShot(0, this, [this] {
    placeInToolbar();
    showInToolbar(isVisible());
    updateTitle();
  });
}

void MessageListView::hideEvent(QHideEvent* e) {
  ThemedWidget::hideEvent(e);
  // The welcome page took the list's place: its pieces leave the toolbar
  // and the title with it. A minimised window keeps them.
  if (!e->spontaneous()) showInToolbar(false);
}

void MessageListView::showInToolbar(bool on) {
  if (!placed_) return;
  for (QAction* a : {leadAction_.data(), trailAction_.data()})
    if (a) a->setVisible(on);
  if (!on && window()) window()->setWindowTitle(titleBefore_);
}

void MessageListView::placeInToolbar() {
  if (placed_) return;
  auto* main = qobject_cast<QMainWindow*>(window());
  QToolBar* bar = main ? main->findChild<QToolBar*>(QStringLiteral("toolbar")) : nullptr;
  if (!bar) return;
  placed_ = true;
  titleBefore_ = main->windowTitle();
  // The subtitle leads the toolbar; the search field ends it.
  auto* lead = new QWidget(bar);
  auto* leadLayout = new QVBoxLayout(lead);
  leadLayout->setContentsMargins(8, 0, 8, 0);
  leadLayout->addWidget(subtitle_, 0, Qt::AlignVCenter | Qt::AlignLeft);
  subtitle_->setMinimumWidth(160);
  subtitle_->setVisible(true);
  leadAction_ = bar->insertWidget(bar->actions().value(0), lead);
  // The field keeps the subtitle's 8 px from the window's edge.
  auto* trail = new QWidget(bar);
  auto* trailLayout = new QHBoxLayout(trail);
  trailLayout->setContentsMargins(6, 0, 8, 0);
  trail->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  search_->setFixedWidth(260);
  search_->setVisible(true);
  trailLayout->addWidget(search_, 0, Qt::AlignVCenter);
  trailAction_ = bar->addWidget(trail);
}

void MessageListView::updateTitle() {
  const QString title = BrowserText::windowTitle(store_.sidebarTitle());
  if (windowTitle() != title) setWindowTitle(title);
  if (placed_ && isVisible() && window() && window()->windowTitle() != title) window()->setWindowTitle(title);
  const QString sub = subtitle();
  if (subtitle_->text() != sub) {
    subtitle_->setText(sub);
    emit subtitleChanged(sub);
  }
}

void MessageListView::refresh() {
  if (search_->text() != store_.query()) search_->setText(store_.query());
  updateTitle();
  const QString typed = BrowserText::trimmed(store_.query());
  // While it leaves, the header keeps the last results it showed.
  if (!typed.isEmpty()) results_->setResults(int(store_.visible().size()), typed);
  showResults(!typed.isEmpty());

  if (!store_.visible().empty()) {
    stack_->setCurrentWidget(list_);
    return;
  }
  rebuildEmptyState();
  stack_->setCurrentWidget(emptyHost_);
}

void MessageListView::showResults(bool on) {
  if (on == resultsWanted_) return;
  resultsWanted_ = on;
  // Read as the header comes or goes: under Reduce Motion it only fades.
  const bool reduce = ReduceMotion::isOn();
  resultsMove_ = !reduce;
  resultsShown_->animateTo(on ? 1 : 0, MotionAnimation{reduce, Motion::snappy}.effective());
  placeResults();
}

void MessageListView::placeResults() {
  const double shown = resultsShown_->value();
  const bool gone = !resultsWanted_ && shown == resultsShown_->target();
  resultsSlot_->setVisible(!gone);
  results_->setVisible(!gone);
  if (gone) {
    results_->setGraphicsEffect(nullptr);
    return;
  }
  const int h = results_->sizeHint().height();
  const double part = std::clamp(shown, 0.0, 1.0);
  // Sliding, the header hangs from the top edge by the part that is in.
  const int slot = resultsMove_ ? int(std::lround(h * part)) : h;
  resultsSlot_->setFixedHeight(slot);
  results_->setGeometry(0, slot - h, resultsSlot_->width(), h);
  if (part >= 1) {
    results_->setGraphicsEffect(nullptr);
    return;
  }
  auto* fade = qobject_cast<QGraphicsOpacityEffect*>(results_->graphicsEffect());
  if (!fade) {
    fade = new QGraphicsOpacityEffect(results_);
    results_->setGraphicsEffect(fade);
  }
  fade->setOpacity(part);
}

bool MessageListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == resultsSlot_ && event->type() == QEvent::Resize)
    results_->setGeometry(0, resultsSlot_->height() - results_->height(), resultsSlot_->width(), results_->height());
  return ThemedWidget::eventFilter(watched, event);
}

void MessageListView::rebuildEmptyState() {
  const QString kind = emptyKind();
  const bool all = store_.sidebar().kind == SidebarItem::Kind::all;
  const bool suspicious =
      store_.sidebar().kind == SidebarItem::Kind::smart && store_.sidebar().smart == SmartFilter::suspicious;
  const bool canBackUp = !store_.accounts().empty() && !store_.backup().running;
  QString key = kind;
  if (kind == QLatin1String("search")) key += store_.query();
  else if (kind == QLatin1String("filter")) key += BrowserText::sidebarKey(store_.sidebar());
  else if (kind == QLatin1String("vault")) key += canBackUp ? QStringLiteral("+") : QStringLiteral("-");

  if (key == emptyKey_ && empty_) {
    if (auto* reading = dynamic_cast<ReadingView*>(empty_.data()); reading && store_.indexing())
      reading->setProgress(store_.indexing()->done, store_.indexing()->total);
    return;
  }
  emptyKey_ = key;
  if (empty_) delete empty_.data();
  QWidget* w = nullptr;
  if (kind == QLatin1String("search")) {
    w = new VaultEmpty(QStringLiteral("text.magnifyingglass"),
                       QStringLiteral("Nothing matches “") + store_.query() + QStringLiteral("”"),
                       QStringLiteral("Search looks in subjects, people, message text and attachment names. Try "
                                      "fewer or shorter words."));
  } else if (kind == QLatin1String("reading")) {
    auto* reading = new ReadingView(nullptr);
    reading->setProgress(store_.indexing()->done, store_.indexing()->total);
    w = reading;
  } else if (kind == QLatin1String("filter")) {
    auto* e = new VaultEmpty(suspicious ? QStringLiteral("checkmark.shield") : QStringLiteral("tray"),
                             suspicious ? QStringLiteral("All clear") : QStringLiteral("Nothing here"),
                             BrowserText::emptyText(store_.sidebar()));
    if (!all) {
      auto* show = new VaultButton(QStringLiteral("Show Everything"), VaultButtonStyle::Kind::Secondary, false);
      connect(show, &QAbstractButton::clicked, this, [this] {
        store_.setSidebar(SidebarItem::makeAll());
        store_.refreshVisible();
      });
      e->addAction(show);
    }
    w = e;
  } else {
    auto* e = new VaultEmpty(QStringLiteral("archivebox"), QStringLiteral("The vault is empty"),
                             QStringLiteral("Run a backup to copy your messages here as .eml files."));
    auto* backUp = new VaultButton(QStringLiteral("Back Up Now"), VaultButtonStyle::Kind::Primary, false);
    backUp->setEnabled(canBackUp);
    connect(backUp, &QAbstractButton::clicked, this, [this] { store_.backUpNow(std::nullopt); });
    e->addAction(backUp);
    w = e;
  }
  w->setObjectName(QStringLiteral("emptyState-") + kind);
  emptyHost_->layout()->addWidget(w);
  empty_ = w;
}

void MessageListView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::panel.resolved());
}

// MARK: results header

ResultsHeader::ResultsHeader(AppStore& store, QWidget* parent) : ThemedWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(16, 7, 16, 7);
  row->setSpacing(6);
  count_ = new CountText(Motion::snappy, this);
  count_->setTextFont(Theme::Font::system(11.5, QFont::DemiBold, true));
  count_->setColor(Theme::ink);
  text_ = new TextBlock(QString(), this);
  text_->setTextFont(Theme::Font::callout());
  text_->setColor(Theme::ink2);
  text_->setMaxLines(1);
  text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  save_ = new VaultButton(QStringLiteral("Save to Sidebar"), VaultButtonStyle::Kind::Quiet, true, this);
  save_->setSymbol(QStringLiteral("plus"));
  save_->setProperty("demoAnchor", QStringLiteral("saveSearch"));
  save_->setToolTip(PlatformText::localize(QStringLiteral("Keep this search in the sidebar (⌥⌘S)")));
  connect(save_, &QAbstractButton::clicked, this, [&store] { store.saveCurrentSearch(); });
  row->addWidget(count_, 0, Qt::AlignVCenter);
  row->addWidget(text_, 1, Qt::AlignVCenter);
  row->addWidget(save_, 0, Qt::AlignVCenter);
  hairline(this, Qt::BottomEdge, Theme::rule);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ResultsHeader::setResults(int count, const QString& trimmedQuery) {
  count_->setCount(BrowserText::count(count), count < shownCount_);
  shownCount_ = count;
  text_->setText(BrowserText::resultsText(count, trimmedQuery));
}

QString ResultsHeader::countText() const { return count_->text(); }
QString ResultsHeader::text() const { return text_->text(); }

void ResultsHeader::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::paper.resolved());
}

} // namespace bx
