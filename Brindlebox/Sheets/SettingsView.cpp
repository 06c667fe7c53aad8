#include "Sheets/SettingsView.h"

#include "Browser/VaultStatus.h"
#include "Platform/PlatformText.h"
#include "Sheets/HomePath.h"
#include "Shell/EmptySpineIllustration.h"
#include "Sheets/SheetPalette.h"
#include "Sheets/SheetStore.h"
#include "Store/ProviderPreset.h"
#include "Store/StoreTypes.h"
#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/SafetyNote.h"
#include "Views/SmallCaps.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"
#include "Views/VaultEmpty.h"

#include "Orrery/AppIconView.h"
#include "Orrery/Orrery.h"
#include "Updater/UpdateSettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace bx {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QString literal(const QString& text) {
  QString out = text;
  return out.replace('&', QStringLiteral("&&"));
}

TextBlock* text(const QString& s, const QFont& font, const ThemeColor& color, QWidget* parent) {
  auto* t = new TextBlock(s, parent);
  t->setTextFont(font);
  t->setColor(color);
  return t;
}

QFont mono11() { return Theme::Font::system(11, QFont::Normal, true); }

// A grouped section: an upper-case caption over a card of rows.
struct Section {
  QWidget* card;
  QVBoxLayout* rows;
};

Section section(QVBoxLayout* into, QWidget* parent, const std::optional<QString>& caption,
                QWidget* captionWidget = nullptr) {
  if (captionWidget) {
    into->addWidget(captionWidget);
  } else if (caption) {
    into->addWidget(new SmallCaps(*caption, Theme::ink3, parent), 0, Qt::AlignLeft);
  }
  auto* card = new VaultCard(8, Theme::raised, parent);
  auto* rows = new QVBoxLayout(card);
  rows->setContentsMargins(12, 10, 12, 10);
  rows->setSpacing(8);
  into->addWidget(card);
  return {card, rows};
}

// "Label      value" on one row.
QHBoxLayout* labelled(QVBoxLayout* rows, QWidget* parent, const QString& label, QWidget* value,
                      bool valueTakesRoom = false) {
  auto* row = new QHBoxLayout;
  row->setSpacing(12);
  auto* l = text(label, Theme::Font::body(), Theme::ink, parent);
  l->setMaxLines(1);
  row->addWidget(l, 0, Qt::AlignVCenter);
  if (valueTakesRoom) {
    row->addWidget(value, 1, Qt::AlignVCenter);
  } else {
    row->addStretch();
    row->addWidget(value, 0, Qt::AlignVCenter);
  }
  rows->addLayout(row);
  return row;
}

QWidget* scrolling(QWidget* content) {
  auto* scroll = new QScrollArea;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(content);
  return scroll;
}

QIcon symbolIcon(const QString& symbol) {
  QIcon icon;
  icon.addPixmap(Icons::pixmap(symbol, 13, Theme::ink2.resolved(), 2.0));
  return icon;
}

} // namespace

// --- ElidedLine ---

ElidedLine::ElidedLine(const QString& text, const QFont& font, QWidget* parent) : QWidget(parent), text_(text) {
  setFont(font);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLine::setText(const QString& text) {
  text_ = text;
  updateGeometry();
  update();
}

QString ElidedLine::shownText() const { return fontMetrics().elidedText(text_, Qt::ElideMiddle, width()); }

QSize ElidedLine::sizeHint() const {
  return {fontMetrics().horizontalAdvance(text_) + 1, fontMetrics().height()};
}
QSize ElidedLine::minimumSizeHint() const { return {40, fontMetrics().height()}; }

void ElidedLine::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(Theme::ink.resolved());
  p.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, shownText());
}

// --- HourStepper ---

HourStepper::HourStepper(int value, QWidget* parent) : QWidget(parent), value_(qBound(1, value, 48)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  label_ = new QLabel(labelText(value_), this);
  label_->setTextFormat(Qt::PlainText);
  label_->setFont(Theme::Font::system(12, QFont::Normal, true));
  row->addWidget(label_);
  row->addStretch();
  down_ = new QPushButton(QStringLiteral("−"), this);
  up_ = new QPushButton(QStringLiteral("+"), this);
  down_->setAccessibleName(QStringLiteral("Fewer hours"));
  up_->setAccessibleName(QStringLiteral("More hours"));
  for (auto* b : {down_, up_}) {
    b->setFixedWidth(28);
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  connect(down_, &QPushButton::clicked, this, [this] { step(-1); });
  connect(up_, &QPushButton::clicked, this, [this] { step(+1); });
  down_->setEnabled(value_ > 1);
  up_->setEnabled(value_ < 48);
}

QString HourStepper::labelText(int hours) {
  return QStringLiteral("Every ") + QString::number(hours) + QStringLiteral(" hour") +
         (hours == 1 ? QString() : QStringLiteral("s"));
}

void HourStepper::step(int delta) {
  const int next = qBound(1, value_ + delta, 48);
  if (next == value_) return;
  value_ = next;
  label_->setText(labelText(value_));
  down_->setEnabled(value_ > 1);
  up_->setEnabled(value_ < 48);
  emit userChanged(value_);
}

// --- SettingsView ---

SettingsView::SettingsView(SheetStore* store, QWidget* parent) : QWidget(parent), store_(store) {
  setFixedSize(580, 540);
  followThemePalette(this);
  auto* l = new QVBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  tabs_ = new QTabWidget(this);
  tabs_->setDocumentMode(true);
  l->addWidget(tabs_);

  tabs_->addTab(buildGeneral(), symbolIcon("gearshape"), QStringLiteral("General"));

  accountsPage_ = new QWidget;
  auto* pageLayout = new QVBoxLayout(accountsPage_);
  pageLayout->setContentsMargins(20, 16, 20, 16);
  tabs_->addTab(scrolling(accountsPage_), symbolIcon("person.2"), QStringLiteral("Accounts"));
  rebuildAccounts();

  tabs_->addTab(buildAbout(), symbolIcon("info.circle"), QStringLiteral("About"));
  tabs_->addTab(new orrery::UpdateSettingsView, symbolIcon("checkmark.seal"), QStringLiteral("Updates"));
  tabs_->setCurrentIndex(0);

  connect(store_, &SheetStore::accountsChanged, this, [this] {
    rebuildAccounts();
    refreshVault();
  });
  connect(store_, &SheetStore::busyChanged, this, [this] { rebuildAccounts(); });
  connect(store_, &SheetStore::vaultChanged, this, [this] { refreshVault(); });
}

QWidget* SettingsView::buildGeneral() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(20, 16, 20, 16);
  col->setSpacing(8);

  // Vault.
  auto vault = section(col, page, QStringLiteral("Vault"));
  location_ = new ElidedLine(QString(), mono11(), vault.card);
  // The path takes what room there is and elides in the middle.
  location_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  labelled(vault.rows, vault.card, QStringLiteral("Location"), location_, true);
  contents_ = text(QString(), mono11(), Theme::ink2, vault.card);
  contents_->setMaxLines(1);
  labelled(vault.rows, vault.card, QStringLiteral("Contents"), contents_);
  auto* buttons = new QHBoxLayout;
  showInFiles_ = new QPushButton(PlatformText::localize(QStringLiteral("Show in Finder")), vault.card);
  moveVault_ = new QPushButton(QStringLiteral("Move Vault…"), vault.card);
  buttons->addWidget(showInFiles_);
  buttons->addWidget(moveVault_);
  buttons->addStretch();
  vault.rows->addLayout(buttons);
  vault.rows->addWidget(text(QStringLiteral("One standard .eml per message, filed as Account › Folder › Year. Any "
                                            "mail app can open them."),
                             Theme::Font::caption(), Theme::ink2, vault.card));
  connect(showInFiles_, &QPushButton::clicked, this, [this] { store_->openArchiveInFinder(); });
  connect(moveVault_, &QPushButton::clicked, this, [this] { moveVault(); });
  refreshVault();

  // Automatic backup: the keys are written only when the user changes a
  // control, so an untouched installation keeps the store's own default.
  col->addSpacing(8);
  auto schedule = section(col, page, QStringLiteral("Automatic backup"));
  QSettings settings;
  const bool enabled = settings.value(kScheduleEnabled, false).toBool();
  const int hours = settings.contains(kScheduleHours) ? settings.value(kScheduleHours).toInt() : 6;
  scheduleToggle_ = new QCheckBox(QStringLiteral("Back up automatically while Brindlebox is open"), schedule.card);
  scheduleToggle_->setChecked(enabled);
  schedule.rows->addWidget(scheduleToggle_);
  stepper_ = new HourStepper(hours, schedule.card);
  stepper_->setVisible(enabled);
  schedule.rows->addWidget(stepper_);
  schedule.rows->addWidget(text(QStringLiteral("Brindlebox looks every few minutes and backs up any account whose "
                                               "last backup is older than this."),
                                Theme::Font::caption(), Theme::ink2, schedule.card));
  connect(scheduleToggle_, &QCheckBox::clicked, this, [this](bool on) {
    QSettings().setValue(kScheduleEnabled, on);
    ScheduleSettings::shared().notifyChanged();
    stepper_->setVisible(on);
  });
  // The backup strip only re-reads the schedule on this signal (or its minute
  // tick), so every write announces itself.
  connect(stepper_, &HourStepper::userChanged, this, [](int h) {
    QSettings().setValue(kScheduleHours, h);
    ScheduleSettings::shared().notifyChanged();
  });

  // Reading.
  col->addSpacing(8);
  auto reading = section(col, page, QStringLiteral("Reading"));
  const std::pair<const char*, QString> notes[] = {
      {"eye.slash", QStringLiteral("Remote images and web fonts stay off until you click “Show images”. Tracking "
                                   "pixels stay blocked even then.")},
      {"person.crop.circle.badge.questionmark",
       QStringLiteral("Senders whose name doesn’t match their address, or whose domain imitates a well-known one, "
                      "are flagged for a second look.")}};
  for (const auto& [symbol, words] : notes) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(new SymbolView(QString::fromLatin1(symbol), 12, Theme::ink2, reading.card), 0, Qt::AlignTop);
    row->addWidget(text(words, Theme::Font::callout(), Theme::ink, reading.card), 1);
    reading.rows->addLayout(row);
  }
  col->addStretch();
  return scrolling(page);
}

void SettingsView::refreshVault() {
  if (!location_) return;
  location_->setText(tildePath(store_->vaultRoot()));
  location_->setToolTip(store_->vaultRoot());
  contents_->setText(store_->vaultSummary());
}

void SettingsView::moveVault() {
  auto* chooser = new QFileDialog(window());
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  chooser->setFileMode(QFileDialog::Directory);
  chooser->setOption(QFileDialog::ShowDirsOnly);
  chooser->setLabelText(QFileDialog::Accept, QStringLiteral("Use Folder"));
  chooser->setObjectName(QStringLiteral("moveVaultChooser"));
  QPointer<SettingsView> self = this;
  connect(chooser, &QFileDialog::fileSelected, this, [self](const QString& path) {
    if (!self || path.isEmpty()) return;
    if (auto refusal = self->store_->changeArchiveRoot(path)) {
      auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("The vault can’t move now"), *refusal,
                                  QMessageBox::Ok, self->window());
      box->setTextFormat(Qt::PlainText);
      box->setWindowModality(Qt::WindowModal);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->setObjectName(QStringLiteral("moveVaultRefusal"));
      box->open();
    }
    self->refreshVault();
  });
  chooser->open();
}

void SettingsView::rebuildAccounts() {
  // The old sections go as a whole. A toggle of theirs may be what asked for
  // this redraw, so they are deleted once its signal has returned; until then
  // they are off the page.
  if (accountsContent_) {
    accountsContent_->hide();
    accountsContent_->setParent(nullptr);
    accountsContent_->deleteLater();
  }
  accountsContent_ = new QWidget(accountsPage_);
  accountsPage_->layout()->addWidget(accountsContent_);
  accountsColumn_ = new QVBoxLayout(accountsContent_);
  accountsColumn_->setContentsMargins(0, 0, 0, 0);
  accountsColumn_->setSpacing(10);

  QWidget* page = accountsContent_;
  const auto accounts = store_->accounts();
  if (const auto problem = store_->storageProblem())
    accountsColumn_->addWidget(new SafetyNote(SafetyNote::Tone::Caution, QStringLiteral("exclamationmark.triangle"),
                                              q(problem->title), q(problem->advice), {}, std::nullopt, std::nullopt,
                                              page));
  if (accounts.empty()) {
    auto empty = section(accountsColumn_, page, std::nullopt);
    auto* e = new VaultEmpty(QStringLiteral("person.crop.circle.badge.plus"), QStringLiteral("No accounts yet"),
                             QStringLiteral("Add an IMAP account to start filling the vault."), {}, empty.card);
    e->setFixedHeight(170);
    empty.rows->addWidget(e);
  }
  for (const MailAccount& account : accounts) {
    auto* head = new QWidget(page);
    auto* hl = new QHBoxLayout(head);
    hl->setContentsMargins(0, 0, 0, 0);
    hl->setSpacing(6);
    hl->addWidget(new SymbolView(ProviderPreset::named(q(account.provider)).symbol, 12, Theme::ink2, head));
    auto* name = text(q(account.label), Theme::Font::headline(), Theme::ink, head);
    name->setMaxLines(1);
    hl->addWidget(name, 1);
    auto sec = section(accountsColumn_, page, std::nullopt, head);
    sec.card->setProperty("accountId", q(account.id.string()));

    auto* server = text(q(account.server.host) + ":" + QString::number(account.server.port), mono11(), Theme::ink,
                        sec.card);
    server->setMaxLines(1);
    labelled(sec.rows, sec.card, QStringLiteral("Server"), server);
    auto* user = text(q(account.username), mono11(), Theme::ink, sec.card);
    user->setMaxLines(1);
    labelled(sec.rows, sec.card, QStringLiteral("User"), user);

    // Folders to back up: a disclosure, closed at first.
    auto* disclose = new QToolButton(sec.card);
    disclose->setObjectName(QStringLiteral("foldersDisclosure"));
    disclose->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclose->setAutoRaise(true);
    disclose->setCheckable(true);
    const bool open = expanded_.count(account.id) > 0;
    disclose->setChecked(open);
    disclose->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    disclose->setText(literal(QStringLiteral("Folders to back up (") + QString::number(account.folders.size()) +
                              QStringLiteral(")")));
    sec.rows->addWidget(disclose, 0, Qt::AlignLeft);
    auto* folders = new QWidget(sec.card);
    folders->setObjectName(QStringLiteral("folderToggles"));
    auto* fl = new QVBoxLayout(folders);
    fl->setContentsMargins(20, 0, 0, 0);
    fl->setSpacing(4);
    for (const auto& m : account.knownFolders) {
      if (!m.isSelectable()) continue;
      auto* box = new QCheckBox(literal(q(m.displayName)), folders);
      box->setProperty("mailboxName", q(m.name));
      box->setChecked(std::find(account.folders.begin(), account.folders.end(), m.name) != account.folders.end());
      const UUID id = account.id;
      const std::string name = m.name;
      connect(box, &QCheckBox::toggled, this, [this, id, name](bool on) {
        // Change only the folders of the account as the store holds it now.
        for (MailAccount copy : store_->accounts()) {
          if (copy.id != id) continue;
          auto& f = copy.folders;
          if (on) {
            f.push_back(name);
          } else {
            f.erase(std::remove(f.begin(), f.end(), name), f.end());
          }
          store_->updateAccount(copy);
          return;
        }
      });
      fl->addWidget(box);
    }
    folders->setVisible(open);
    sec.rows->addWidget(folders);
    connect(disclose, &QToolButton::toggled, this, [this, disclose, folders, id = account.id](bool on) {
      if (on)
        expanded_.insert(id);
      else
        expanded_.erase(id);
      disclose->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
      folders->setVisible(on);
    });

    auto* last = text(account.lastBackup ? Fmt::ago(*account.lastBackup) : QStringLiteral("never"), mono11(), Theme::ink2,
                      sec.card);
    last->setMaxLines(1);
    labelled(sec.rows, sec.card, QStringLiteral("Last backup"), last);

    auto* remove = new QPushButton(QStringLiteral("Remove Account…"), sec.card);
    remove->setObjectName(QStringLiteral("removeAccount"));
    QPalette pal = remove->palette();
    pal.setColor(QPalette::ButtonText, Theme::danger.resolved());
    remove->setPalette(pal);
    if (store_->accountBusy(account.id)) {
      remove->setEnabled(false);
      remove->setToolTip(QStringLiteral("A backup or Free Up Space is working on this account. Remove it when that "
                                        "has finished."));
    }
    connect(remove, &QPushButton::clicked, this, [this, account] { confirmRemoval(account); });
    sec.rows->addWidget(remove, 0, Qt::AlignLeft);
    accountsColumn_->addSpacing(6);
  }

  auto add = section(accountsColumn_, page, std::nullopt);
  auto* addButton = new QPushButton(symbolIcon("plus"), QStringLiteral("Add Account…"), add.card);
  addButton->setObjectName(QStringLiteral("addAccount"));
  connect(addButton, &QPushButton::clicked, this, [this] {
    SheetStore* store = store_;
    bringMainForward([store] { store->setShowAddAccount(); });
  });
  add.rows->addWidget(addButton, 0, Qt::AlignLeft);
  accountsColumn_->addStretch();
  accountsContent_->show();
}

void SettingsView::confirmRemoval(const MailAccount& account) {
  if (removal_) return;
  auto* box = new QMessageBox(window());
  box->setIcon(QMessageBox::Warning);
  box->setTextFormat(Qt::PlainText);
  box->setText(QStringLiteral("Remove “") + q(account.label) + QStringLiteral("” from Brindlebox?"));
  box->setInformativeText(PlatformText::localize(
      QStringLiteral("Its password is forgotten and backups stop. Messages already in the vault stay on your Mac.")));
  auto* removeButton = box->addButton(QStringLiteral("Remove Account"), QMessageBox::DestructiveRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("removeAccountDialog"));
  removal_ = box;
  const UUID id = account.id;
  connect(box, &QMessageBox::finished, this, [this, box, removeButton, id] {
    if (box->clickedButton() != removeButton) return;
    // Work may have started on the account while the dialog was open.
    if (store_->accountBusy(id)) return;
    for (const MailAccount& a : store_->accounts()) {
      if (a.id == id) {
        store_->removeAccount(a);
        return;
      }
    }
  });
  box->open();
}

QWidget* SettingsView::buildAbout() {
  auto* page = new QWidget;
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  auto* spine = new EmptySpineIllustration(page);
  spine->setObjectName(QStringLiteral("spine"));
  spine->setFixedWidth(96);
  hairline(spine, Qt::RightEdge, Theme::rule);
  row->addWidget(spine);

  auto* col = new QVBoxLayout;
  col->setContentsMargins(28, 28, 28, 28);
  col->setSpacing(10);
  col->addWidget(new orrery::AppIconView(64, page), 0, Qt::AlignLeft);
  col->addWidget(new SmallCaps(QStringLiteral("Brindlebox"), Theme::ink3, page), 0, Qt::AlignLeft);
  col->addWidget(text(QStringLiteral("An archive vault for your email."), Theme::Font::title(), Theme::ink, page));
  const QString version = QCoreApplication::applicationVersion();
  auto* versionLine = text(QStringLiteral("Version ") + (version.isEmpty() ? QStringLiteral("1.0") : version),
                           mono11(), Theme::ink2, page);
  versionLine->setObjectName(QStringLiteral("version"));
  col->addWidget(versionLine);
  col->addWidget(text(QStringLiteral("Plain files, offline reading, nothing sent anywhere but your own mail server."),
                      Theme::Font::callout(), Theme::ink2, page));
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(0, 6, 0, 0);
  buttons->setSpacing(10);
  auto* check = new VaultButton(QStringLiteral("Check for Updates…"), VaultButtonStyle::Kind::Secondary, false, page);
  auto* welcome = new VaultButton(QStringLiteral("Show Welcome Guide"), VaultButtonStyle::Kind::Quiet, true, page);
  welcome->setObjectName(QStringLiteral("showWelcome"));
  buttons->addWidget(check);
  buttons->addWidget(welcome);
  buttons->addStretch();
  col->addLayout(buttons);
  col->addStretch();
  row->addLayout(col, 1);

  connect(check, &QAbstractButton::clicked, this, [] { orrery::Orrery::checkForUpdates(); });
  connect(welcome, &QAbstractButton::clicked, this, [this] {
    SheetStore* store = store_;
    bringMainForward([store] { store->setShowWelcome(); });
  });
  return page;
}

void SettingsView::bringMainForward(const std::function<void()>& setFlag) {
  setFlag();
  QWidget* target = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == "main" && w->windowTitle() != "Settings") {
      target = w;
      break;
    }
  }
  if (!target) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMainWindow*>(w) && w->isVisible() && w->windowTitle() != "Settings") {
        target = w;
        break;
      }
    }
  }
  if (!target) return;
  target->raise();
  target->activateWindow();
}

} // namespace bx
