#include "Shell/RootView.h"

#include "Demo/DemoAnchors.h"
#include "Platform/PlatformText.h"
#include "Shell/Onboarding.h"
#include "Shell/SheetHost.h"
#include "Shell/ToolbarButton.h"
#include "Shell/WelcomeView.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/SmallCaps.h"
#include "Views/ToastOverlay.h"
#include "Views/VaultButton.h"

#include <QDialog>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace bx {

// MARK: backup button

BackupToolbarButton::BackupToolbarButton(ShellStore& store, ToolbarButton* button)
    : QObject(button), store_(store), button_(button), lastFinished_(store.lastFinished()) {
  orrery::demoAnchor(button, QStringLiteral("backupToolbar"));
  connect(button, &QToolButton::clicked, this, [this] {
    // A running backup keeps the item usable: it opens the ledger.
    if (store_.backupRunning()) store_.setFlag(Seams::Sheet::BackupActivity, true);
    else if (store_.hasAccounts()) store_.backUpNow();
  });
  connect(&store_, &ShellStore::backupChanged, this, &BackupToolbarButton::refresh);
  connect(&store_, &ShellStore::vaultChanged, this, &BackupToolbarButton::refresh);
  refresh();
}

void BackupToolbarButton::refresh() {
  const bool running = store_.backupRunning();
  if (running) {
    button_->setLabel(QStringLiteral("Backing Up"), QStringLiteral("arrow.triangle.2.circlepath"));
    button_->setToolTip(QStringLiteral("Show the backup ledger"));
  } else {
    button_->setLabel(QStringLiteral("Back Up Now"), QStringLiteral("arrow.down.to.line"));
    button_->setToolTip(PlatformText::localize(QStringLiteral("Fetch new mail from every account into the vault (\u21E7\u2318B)")));
  }
  button_->setPulsing(running);
  button_->setEnabled(running || store_.hasAccounts());
  const std::optional<QDateTime> finished = store_.lastFinished();
  if (finished != lastFinished_) {
    lastFinished_ = finished;
    if (!running) button_->bounce();
  }
}

// MARK: root view

RootView::RootView(ShellStore& store, QMainWindow* window) : QWidget(window), store_(store) {
  setObjectName(QStringLiteral("root"));
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  stack_ = new QStackedWidget(this);
  v->addWidget(stack_);

  welcome_ = new WelcomeView(stack_);
  stack_->addWidget(welcome_);
  welcomeToasts_ = new ToastOverlay(welcome_);
  connect(welcome_, &WelcomeView::addAccountRequested, this,
          [this] { store_.setFlag(Seams::Sheet::AddAccount, true); });
  connect(welcome_, &WelcomeView::importRequested, this, [this] { store_.presentImportPanel(); });
  welcome_->setImportMessage(store_.importMessage());
  connect(&store_, &ShellStore::importMessageChanged, this,
          [this] { welcome_->setImportMessage(store_.importMessage()); });

  buildBrowser();
  buildToolbar(window);

  auto syncToasts = [this] {
    const std::optional<Toast> t = store_.toast();
    welcomeToasts_->setToast(t);
    readerToasts_->setToast(t);
  };
  connect(&store_, &ShellStore::toastChanged, this, syncToasts);
  for (ToastOverlay* overlay : {welcomeToasts_, readerToasts_})
    connect(overlay, &ToastOverlay::dismissed, this, [this](QUuid id) { store_.clearToast(id); });
  syncToasts();

  sheets_ = new SheetHost(
      window, [this](Seams::Sheet kind, QWidget* parent) { return makeSheet(kind, parent); },
      [this](Seams::Sheet kind) { return store_.flag(kind); },
      [this](Seams::Sheet kind, bool value) { store_.setFlag(kind, value); }, this);
  connect(&store_, &ShellStore::flagChanged, sheets_, &SheetHost::flagChanged);

  connect(&store_, &ShellStore::vaultChanged, this, [this] { syncPage(true); });
  syncPage(false);
}

RootView::~RootView() {
  // Sheets go first, without clearing flags on the way out.
  delete sheets_;
  sheets_ = nullptr;
}

void RootView::buildBrowser() {
  browser_ = new QSplitter(Qt::Horizontal, stack_);
  browser_->setObjectName(QStringLiteral("browser"));
  browser_->setChildrenCollapsible(false);
  browser_->setHandleWidth(1);
  AppStore* appStore = store_.store();
  auto make = [&](const Seams::ViewFactory& factory, const char* name, QWidget* parent) -> QWidget* {
    if (appStore && factory) return factory(*appStore, parent);
    return Seams::placeholder(QString::fromLatin1(name), parent);
  };

  QWidget* sidebar = make(Seams::sidebar(), "sidebar", browser_);
  sidebar->setMinimumWidth(210);
  sidebar->setMaximumWidth(300);
  browser_->addWidget(sidebar);

  auto* content = new QWidget(browser_);
  content->setObjectName(QStringLiteral("contentColumn"));
  content->setMinimumWidth(380);
  content->setMaximumWidth(600);
  auto* h = new QHBoxLayout(content);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(0);
  QWidget* list = make(Seams::messageList(), "messages", content);
  QWidget* spine = appStore && Seams::timelineSpine() ? Seams::timelineSpine()(*appStore, content) : nullptr;
  if (!spine) {
    spine = Seams::placeholder(QString(), content);
    spine->setObjectName(QStringLiteral("spine"));
    spine->setFixedWidth(84);
  }
  h->addWidget(spine);
  h->addWidget(list, 1);
  // The spine and its tip draw over the list.
  spine->raise();
  browser_->addWidget(content);

  readerHost_ = new QWidget(browser_);
  readerHost_->setObjectName(QStringLiteral("readerHost"));
  auto* r = new QVBoxLayout(readerHost_);
  r->setContentsMargins(0, 0, 0, 0);
  r->addWidget(make(Seams::reader(), "reader", readerHost_));
  browser_->addWidget(readerHost_);
  readerToasts_ = new ToastOverlay(readerHost_);

  browser_->setStretchFactor(0, 0);
  browser_->setStretchFactor(1, 0);
  browser_->setStretchFactor(2, 1);
  browser_->setSizes({236, 450, 594});
  stack_->addWidget(browser_);
}

void RootView::buildToolbar(QMainWindow* window) {
  toolBar_ = new QToolBar(QStringLiteral("Toolbar"), window);
  toolBar_->setObjectName(QStringLiteral("toolbar"));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->toggleViewAction()->setVisible(false);
  toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
  window->addToolBar(Qt::TopToolBarArea, toolBar_);

  // The primary actions sit at the trailing end.
  auto* spacer = new QWidget(toolBar_);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolBar_->addWidget(spacer);

  auto* backup = new ToolbarButton(QStringLiteral("Back Up Now"), QStringLiteral("arrow.down.to.line"), toolBar_);
  backup->setObjectName(QStringLiteral("backupToolbar"));
  toolBar_->addWidget(backup);
  backup_ = new BackupToolbarButton(store_, backup);

  freeUp_ = new ToolbarButton(QStringLiteral("Free Up Space"), QStringLiteral("arrow.up.bin"), toolBar_);
  freeUp_->setObjectName(QStringLiteral("freeUpToolbar"));
  freeUp_->setToolTip(
      PlatformText::localize(QStringLiteral(
          "Remove old messages from the server once their copies are verified (\u21E7\u2318F)")));
  orrery::demoAnchor(freeUp_, QStringLiteral("freeUpToolbar"));
  connect(freeUp_, &QToolButton::clicked, this, [this] {
    if (store_.hasAccounts()) store_.setFlag(Seams::Sheet::FreeUp, true);
  });
  toolBar_->addWidget(freeUp_);

  more_ = new ToolbarButton(QStringLiteral("More"), QStringLiteral("ellipsis.circle"), toolBar_);
  more_->setObjectName(QStringLiteral("more"));
  more_->setToolTip(QStringLiteral("Import, show the vault folder, backup ledger"));
  auto* menu = new QMenu(more_);
  // No shortcuts here: the menu bar carries them.
  menu->addAction(QStringLiteral("Import .eml or .mbox\u2026"), this, [this] { store_.presentImportPanel(); });
  menu->addAction(PlatformText::localize(QStringLiteral("Show Vault in Finder")), this, [this] { store_.openArchiveInFinder(); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("Backup Ledger\u2026"), this,
                  [this] { store_.setFlag(Seams::Sheet::BackupActivity, true); });
  more_->setMenu(menu);
  more_->setPopupMode(QToolButton::InstantPopup);
  toolBar_->addWidget(more_);

  connect(&store_, &ShellStore::vaultChanged, this, &RootView::syncToolbar);
  syncToolbar();
}

void RootView::syncToolbar() { freeUp_->setEnabled(store_.hasAccounts()); }

bool RootView::showsWelcome() const { return stack_->currentWidget() == welcome_; }

void RootView::syncPage(bool animated) {
  QWidget* target = store_.isEmptyVault() ? static_cast<QWidget*>(welcome_) : browser_;
  if (stack_->currentWidget() == target) return;
  QWidget* old = stack_->currentWidget();
  if (animated && old && isVisible() && !Motion::isInstant()) {
    // Cross-fade: the old page's picture fades out over the new page.
    auto* shot = new QLabel(this);
    shot->setPixmap(old->grab());
    shot->setGeometry(stack_->geometry());
    auto* effect = new QGraphicsOpacityEffect(shot);
    shot->setGraphicsEffect(effect);
    stack_->setCurrentWidget(target);
    shot->show();
    shot->raise();
    auto* fade = new AnimatedValue(1, shot);
    connect(fade, &AnimatedValue::changed, shot, [shot, effect](double v) {
      effect->setOpacity(v);
      if (v <= 0) shot->deleteLater();
    });
    fade->animateTo(0, Motion::fade);
  } else {
    stack_->setCurrentWidget(target);
  }
}

QDialog* RootView::makeSheet(Seams::Sheet kind, QWidget* parent) {
  if (kind == Seams::Sheet::Welcome) {
    OnboardingActions actions;
    actions.context = &store_;
    actions.accountCount = [s = &store_] { return s->accountCount(); };
    actions.presentImportPanel = [s = &store_] { s->presentImportPanel(); };
    actions.showAddAccount = [s = &store_] { s->setFlag(Seams::Sheet::AddAccount, true); };
    auto* guide = new OnboardingView(OnboardingView::snapshotPage.value_or(0), std::move(actions), parent);
    connect(&store_, &ShellStore::vaultChanged, guide, &OnboardingView::refreshFooter);
    return guide;
  }
  if (AppStore* s = store_.store(); s && Seams::sheet(kind)) return Seams::sheet(kind)(*s, parent);
  // Until the sheet's subsystem lands: a named, closable placeholder.
  static const char* names[] = {"Add Account", "Free Up Space", "Backup Ledger", "Welcome"};
  auto* dialog = new QDialog(parent);
  dialog->setObjectName(QString::fromLatin1(names[int(kind)]));
  dialog->setWindowTitle(QString::fromLatin1(names[int(kind)]));
  dialog->resize(560, 420);
  auto* v = new QVBoxLayout(dialog);
  v->addWidget(new SmallCaps(QString::fromLatin1(names[int(kind)]), Theme::ink3, dialog), 1, Qt::AlignCenter);
  auto* done = new VaultButton(QStringLiteral("Close"), VaultButtonStyle::Kind::Secondary, false, dialog);
  connect(done, &QAbstractButton::clicked, dialog, &QDialog::reject);
  v->addWidget(done, 0, Qt::AlignRight);
  return dialog;
}

void RootView::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (shownOnce_) return;
  shownOnce_ = true;
  if (Onboarding::shouldShow()) {
    guideScheduled_ = true;
    QTimer::singleShot(400, this, [s = &store_] { s->setFlag(Seams::Sheet::Welcome, true); });
  }
}

} // namespace bx
