#include "Sheets/AddAccountSheet.h"

#include "Imap/IMAPError.h"
#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"
#include "Sheets/SheetTransitions.h"
#include "Sheets/AddAccountLogic.h"
#include "Sheets/OnWorker.h"
#include "Sheets/ProviderCard.h"
#include "Sheets/SheetHeader.h"
#include "Sheets/SheetPalette.h"
#include "Sheets/SheetStore.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/SafetyNote.h"
#include "Views/Seal.h"
#include "Views/SmallCaps.h"
#include "Views/StepRail.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>

namespace bx {

std::optional<AddAccountSheet::Step> AddAccountSheet::snapshotStartStep;
std::optional<ProviderPreset> AddAccountSheet::snapshotPreset;
std::optional<QString> AddAccountSheet::snapshotError;
std::optional<std::vector<IMAPMailbox>> AddAccountSheet::snapshotMailboxes;
double AddAccountSheet::signInTimeout = 30;

namespace {

const char* kSampleAddress = "you@example.com";
const char* kSampleHost = "imap.example.com";

QString q(const std::string& s) { return QString::fromStdString(s); }

// Texts from outside may hold "&": in a checkbox it would become a mnemonic.
QString literal(const QString& text) {
  QString out = text;
  return out.replace('&', QStringLiteral("&&"));
}

// A widget painted with one theme colour.
class Fill : public ThemedWidget {
public:
  Fill(const ThemeColor& color, QWidget* parent = nullptr) : ThemedWidget(parent), color_(color) {}

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), color_.resolved());
  }

private:
  ThemeColor color_;
};

TextBlock* text(const QString& s, const QFont& font, const ThemeColor& color, QWidget* parent) {
  auto* t = new TextBlock(s, parent);
  t->setTextFont(font);
  t->setColor(color);
  return t;
}

// A caption above a control.
QWidget* field(const QString& label, QWidget* control, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* l = new QVBoxLayout(box);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(5);
  l->addWidget(text(label, Theme::Font::weighted(Theme::Font::caption(), QFont::Medium), Theme::ink2, box));
  l->addWidget(control);
  return box;
}

// A small busy spinner: an arc that turns.
class Spinner : public ThemedWidget {
public:
  explicit Spinner(QWidget* parent) : ThemedWidget(parent) {
    setFixedSize(14, 14);
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      angle_ = (angle_ + 30) % 360;
      update();
    });
    timer_.start();
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::ink2.resolved(), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(rect()).adjusted(2, 2, -2, -2), -angle_ * 16, 270 * 16);
  }

private:
  QTimer timer_;
  int angle_ = 0;
};

} // namespace

QString AddAccountSheet::stepCaption(Step step) {
  switch (step) {
  case Step::Provider: return QStringLiteral("Provider");
  case Step::Credentials: return QStringLiteral("Sign in");
  case Step::Folders: return QStringLiteral("Folders");
  }
  return {};
}

QString AddAccountSheet::stepSubtitle(Step step) {
  switch (step) {
  case Step::Provider: return QStringLiteral("Brindlebox reads your mail over IMAP. Pick where it lives.");
  case Step::Credentials:
    return QStringLiteral("Sign in with an app-specific password — it’s made for apps like this one.");
  case Step::Folders: return QStringLiteral("Choose the folders to keep. You can change this later in Settings.");
  }
  return {};
}

AddAccountSheet::AddAccountSheet(SheetStore* store, QWidget* parent)
    : QDialog(parent), store_(store), preset_(ProviderPreset::all().front()) {
  setWindowModality(Qt::WindowModal);
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(720, 560);
  setWindowTitle(QStringLiteral("Connect a mail account"));
  followThemePalette(this);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  rail_ = new StepRail({stepCaption(Step::Provider), stepCaption(Step::Credentials), stepCaption(Step::Folders)}, 0);
  header_ = new SheetHeader(QStringLiteral("Add to the vault"), QStringLiteral("Connect a mail account"),
                            stepSubtitle(Step::Provider), rail_, this);
  column->addWidget(header_);

  // The steps slide inside this area and never over the header or footer.
  area_ = new QWidget(this);
  area_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  area_->installEventFilter(this);
  column->addWidget(area_, 1);

  auto* footer = new QWidget(this);
  auto* row = new QHBoxLayout(footer);
  row->setContentsMargins(20, 14, 20, 14);
  row->setSpacing(10);
  back_ = new VaultButton(QStringLiteral("Back"), VaultButtonStyle::Kind::Quiet, true, footer);
  row->addWidget(back_);
  row->addStretch();
  indicator_ = new QWidget(footer);
  auto* ind = new QHBoxLayout(indicator_);
  ind->setContentsMargins(0, 0, 0, 0);
  ind->setSpacing(6);
  ind->addWidget(new Spinner(indicator_));
  indicatorText_ = text(QString(), Theme::Font::caption(), Theme::ink2, indicator_);
  indicatorText_->setMaxLines(1);
  ind->addWidget(indicatorText_);
  row->addWidget(indicator_);
  cancel_ = new VaultButton(QStringLiteral("Cancel"), VaultButtonStyle::Kind::Secondary, false, footer);
  row->addWidget(cancel_);
  forward_button_ = new VaultButton(QStringLiteral("Continue"), VaultButtonStyle::Kind::Primary, false, footer);
  row->addWidget(forward_button_);
  hairline(footer, Qt::TopEdge, Theme::rule);
  column->addWidget(footer);

  connect(back_, &QAbstractButton::clicked, this, [this] {
    stopSignIn();
    go(step_ == Step::Folders ? Step::Credentials : Step::Provider);
    error_.reset();
    refreshCredentials();
  });
  connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
  connect(forward_button_, &QAbstractButton::clicked, this, [this] {
    switch (step_) {
    case Step::Provider: choose(preset_); break;
    case Step::Credentials: connectAccount(); break;
    case Step::Folders: save(); break;
    }
  });

  showStep();
}

AddAccountSheet::~AddAccountSheet() {
  // The worker keeps running on its own copies; it must not sign in now.
  if (stop_) stop_->request_stop();
}

void AddAccountSheet::done(int result) {
  stopSignIn();
  QDialog::done(result);
}

IMAPServer AddAccountSheet::server() const { return AddAccountLogic::server(host_, port_, plaintext_); }

void AddAccountSheet::go(Step target) {
  forward_ = int(step_) < int(target);
  const bool changed = step_ != target;
  step_ = target;
  if (changed) showStep();
}

void AddAccountSheet::choose(const ProviderPreset& preset) {
  // A test started for another provider must not land in this one.
  stopSignIn();
  preset_ = preset;
  host_ = preset.host;
  port_ = QString::number(preset.port);
  // Clicking the tile of the step already shown still refreshes it.
  if (step_ == Step::Credentials) {
    forward_ = false;
    showStep();
  } else {
    go(Step::Credentials);
  }
}

void AddAccountSheet::connectAccount() {
  if (busy_) return;
  error_.reset();
  const IMAPServer server = this->server();
  const std::string user = AddAccountLogic::signInUser(username_);
  if (refuseSameLogin(server, user)) return;
  busy_ = true;
  const std::string password = AddAccountLogic::signInPassword(preset_.id.toStdString(), password_);
  stop_ = std::make_shared<std::stop_source>();
  const int run = ++run_;
  refreshCredentials();
  refreshFooter();
  task_ = signIn(run, server, user, password, stop_->get_token());
}

orrery::Task<void> AddAccountSheet::signIn(int run, IMAPServer server, std::string user, std::string password,
                                           std::stop_token stop) {
  const double timeout = signInTimeout;
  onWorker<SignInResult> work([server, user, password, stop, timeout] {
    return runSignIn(server, user, password, stop, timeout);
  }, this);
  SignInResult result = co_await work;
  // A stopped or superseded run leaves no trace.
  if (run != run_ || stop.stop_requested()) co_return;
  if (result.ok) {
    mailboxes_ = AddAccountLogic::folderOrder(result.mailboxes);
    chosen_ = AddAccountLogic::preselection(preset_.id.toStdString(), result.mailboxes);
    password_ = q(password);
    busy_ = false;
    go(Step::Folders);
  } else {
    if (!result.cancelled) error_ = result.error;
    busy_ = false;
    refreshCredentials();
  }
  refreshFooter();
  emit signInFinished();
}

void AddAccountSheet::stopSignIn() {
  if (!busy_) return;
  if (stop_) stop_->request_stop();
  ++run_;
  busy_ = false;
  refreshFooter();
  emit signInFinished();
}

void AddAccountSheet::capturedFieldEdited() {
  // What the running test signs in with no longer matches the fields.
  stopSignIn();
  refreshFooter();
}

bool AddAccountSheet::refuseSameLogin(const IMAPServer& server, const std::string& user) {
  const auto existing = AddAccountLogic::sameLogin(store_->accounts(), server, user);
  if (!existing) return false;
  error_ = AddAccountLogic::alreadyAdded(*existing);
  if (step_ != Step::Credentials)
    go(Step::Credentials);
  else
    refreshCredentials();
  refreshFooter();
  return true;
}

void AddAccountSheet::save() {
  const MailAccount account(UUID::random(), AddAccountLogic::accountLabel(label_, username_),
                            AddAccountLogic::signInUser(username_), server(), preset_.id.toStdString(),
                            AddAccountLogic::chosenFolders(mailboxes_, chosen_), mailboxes_);
  // Another window may have added the same login since the test.
  if (refuseSameLogin(account.server, account.username)) return;
  try {
    store_->addAccount(account, password_.toStdString());
  } catch (const AccountSaveError& e) {
    error_ = FriendlyError::Message{e.part == AccountSaveError::Part::Accounts ? "Couldn\u2019t save the account"
                                                                               : "Couldn\u2019t save the password",
                                    e.what()};
    go(Step::Credentials);
    return;
  } catch (const std::exception& e) {
    error_ = FriendlyError::Message{"Couldn\u2019t save the password", e.what()};
    go(Step::Credentials);
    return;
  }
  SheetStore* store = store_;
  accept();
  store->backUpNow(account);
}

void AddAccountSheet::setChosen(const std::string& name, bool on) {
  if (on)
    chosen_.insert(name);
  else
    chosen_.erase(name);
  refreshFolderCount();
  refreshFooter();
}

QList<QCheckBox*> AddAccountSheet::folderToggles() const {
  if (!folderList_) return {};
  return folderList_->findChildren<QCheckBox*>();
}

void AddAccountSheet::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
    if (event->modifiers() & ~Qt::KeypadModifier) break;
    if (forward_button_->isEnabled()) forward_button_->click();
    event->accept();
    return;
  case Qt::Key_Escape:
    reject();
    event->accept();
    return;
  default: break;
  }
  QDialog::keyPressEvent(event);
}

bool AddAccountSheet::eventFilter(QObject* watched, QEvent* event) {
  // The step on screen fills the area; one sliding in or out has its own
  // position and only follows in size.
  if (watched == area_ && event->type() == QEvent::Resize && page_) page_->resize(area_->size());
  return QDialog::eventFilter(watched, event);
}

void AddAccountSheet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  stage();
}

void AddAccountSheet::stage() {
  if (!snapshotStartStep || !snapshotPreset) return;
  // Staged for a picture: everything lands at once.
  const bool wasInstant = Motion::isInstant();
  Motion::setInstant(true);
  choose(*snapshotPreset);
  step_ = *snapshotStartStep;
  username_ = QString::fromLatin1(kSampleAddress);
  if (snapshotMailboxes) {
    mailboxes_ = *snapshotMailboxes;
    chosen_.clear();
    for (size_t i = 0; i < mailboxes_.size() && i < 2; ++i) chosen_.insert(mailboxes_[i].name);
  }
  if (snapshotError) {
    const IMAPError refused = IMAPError::commandFailed("LOGIN", IMAPStatus::no, snapshotError->toStdString());
    error_ = FriendlyError::describe(refused, std::nullopt);
  }
  showStep();
  Motion::setInstant(wasInstant);
}

// --- Steps ---

void AddAccountSheet::showStep() {
  rail_->setIndex(stepIndex());
  header_->setSubtitle(stepSubtitle(step_));

  // A step still sliding out from an earlier change goes at once.
  for (auto& gone : leaving_) delete gone.data();
  leaving_.clear();
  QWidget* old = page_;
  if (old) old->move(0, 0);
  QWidget* page = nullptr;
  switch (step_) {
  case Step::Provider: page = buildProviderGrid(); break;
  case Step::Credentials: page = buildCredentials(); break;
  case Step::Folders: page = buildFolderPicker(); break;
  }
  page->setParent(area_);
  page->setGeometry(QRect(QPoint(0, 0), area_->size()));
  page->show();
  page_ = page;
  refreshFooter();

  if (!old) return;
  old->setEnabled(false);
  const bool reduce = ReduceMotion::isOn();
  const Animation anim = reduce ? Motion::fade : Motion::spring;
  if (Motion::isInstant() || !isVisible()) {
    delete old;
    return;
  }
  auto* group = new QParallelAnimationGroup(page);
  const int w = area_->width();
  if (reduce) {
    auto* inFx = new QGraphicsOpacityEffect(page);
    page->setGraphicsEffect(inFx);
    auto* outFx = new QGraphicsOpacityEffect(old);
    old->setGraphicsEffect(outFx);
    auto* a = new QPropertyAnimation(inFx, "opacity", group);
    a->setStartValue(0.0);
    a->setEndValue(1.0);
    auto* b = new QPropertyAnimation(outFx, "opacity", group);
    b->setStartValue(1.0);
    b->setEndValue(0.0);
    for (auto* x : {a, b}) {
      x->setDuration(anim.durationMs());
      x->setEasingCurve(QEasingCurve::InOutQuad);
    }
  } else {
    const int dir = forward_ ? 1 : -1;
    auto* a = new QPropertyAnimation(page, "pos", group);
    a->setStartValue(QPoint(dir * w, 0));
    a->setEndValue(QPoint(0, 0));
    auto* b = new QPropertyAnimation(old, "pos", group);
    b->setStartValue(QPoint(0, 0));
    b->setEndValue(QPoint(-dir * w, 0));
    for (auto* x : {a, b}) {
      x->setDuration(anim.durationMs());
      x->setEasingCurve(QEasingCurve::OutCubic);
    }
  }
  QPointer<QWidget> gone = old;
  leaving_.append(gone);
  connect(group, &QAbstractAnimation::finished, this, [gone] { delete gone.data(); });
  group->start(QAbstractAnimation::DeleteWhenStopped);
}

QWidget* AddAccountSheet::buildProviderGrid() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 24, 24, 24);
  col->setSpacing(14);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(10);
  int i = 0;
  for (const auto& p : ProviderPreset::all()) {
    auto* card = new ProviderCard(p, p == preset_, page);
    card->setProperty("demoAnchor", QStringLiteral("provider-") + p.id);
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(card, &QAbstractButton::clicked, this, [this, p] { choose(p); });
    grid->addWidget(card, i / 2, i % 2);
    ++i;
  }
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  col->addLayout(grid);
  auto* promise = new QHBoxLayout;
  promise->setSpacing(8);
  promise->addWidget(new SymbolView(QStringLiteral("lock"), 12, Theme::seal, page), 0, Qt::AlignVCenter);
  promise->addWidget(text(PlatformText::localize(QStringLiteral(
                              "Your password stays in this Mac’s Keychain and is sent to nobody but your mail "
                              "provider. Brindlebox only reads — it never changes mail on the server unless you "
                              "use Free Up Space.")),
                          Theme::Font::caption(), Theme::ink2, page),
                     1);
  col->addLayout(promise);
  col->addStretch();
  return page;
}

QWidget* AddAccountSheet::buildCredentials() {
  auto* page = new QWidget;
  auto* row = new QHBoxLayout(page);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  auto* form = new QWidget(page);
  form->setFixedWidth(340);
  auto* fc = new QVBoxLayout(form);
  fc->setContentsMargins(24, 24, 24, 24);
  fc->setSpacing(14);
  formColumn_ = fc;
  hairline(form, Qt::RightEdge, Theme::rule);

  labelEdit_ = new QLineEdit(label_, form);
  labelEdit_->setPlaceholderText(preset_.name);
  connect(labelEdit_, &QLineEdit::textEdited, this, [this](const QString& t) { label_ = t; });
  fc->addWidget(field(QStringLiteral("Name in the sidebar"), labelEdit_, form));

  userEdit_ = new QLineEdit(username_, form);
  userEdit_->setPlaceholderText(QString::fromLatin1(kSampleAddress));
  connect(userEdit_, &QLineEdit::textEdited, this, [this](const QString& t) {
    username_ = t;
    capturedFieldEdited();
  });
  fc->addWidget(field(QStringLiteral("Email address"), userEdit_, form));

  passwordEdit_ = new QLineEdit(password_, form);
  passwordEdit_->setEchoMode(QLineEdit::Password);
  passwordEdit_->setPlaceholderText(preset_.id == "gmail" ? QStringLiteral("xxxx xxxx xxxx xxxx")
                                                          : QStringLiteral("App-specific password"));
  connect(passwordEdit_, &QLineEdit::textEdited, this, [this](const QString& t) {
    password_ = t;
    capturedFieldEdited();
  });
  fc->addWidget(field(QStringLiteral("App password"), passwordEdit_, form));

  hostEdit_ = nullptr;
  portEdit_ = nullptr;
  plaintextBox_ = nullptr;
  if (preset_.id == "custom") {
    auto* server = new QHBoxLayout;
    server->setSpacing(10);
    hostEdit_ = new QLineEdit(host_, form);
    hostEdit_->setPlaceholderText(QString::fromLatin1(kSampleHost));
    server->addWidget(field(QStringLiteral("IMAP server"), hostEdit_, form), 1);
    portEdit_ = new QLineEdit(port_, form);
    portEdit_->setFixedWidth(70);
    server->addWidget(field(QStringLiteral("Port"), portEdit_, form));
    fc->addLayout(server);
    plaintextBox_ = new QCheckBox(QStringLiteral("Unencrypted (local test server only)"), form);
    plaintextBox_->setFont(Theme::Font::callout());
    plaintextBox_->setChecked(plaintext_);
    plaintextBox_->setVisible(host_ == "127.0.0.1");
    fc->addWidget(plaintextBox_);
    connect(hostEdit_, &QLineEdit::textEdited, this, [this](const QString& t) {
      host_ = t;
      if (plaintextBox_) plaintextBox_->setVisible(host_ == "127.0.0.1");
      capturedFieldEdited();
    });
    connect(portEdit_, &QLineEdit::textEdited, this, [this](const QString& t) {
      port_ = t;
      capturedFieldEdited();
    });
    connect(plaintextBox_, &QCheckBox::toggled, this, [this](bool on) {
      if (plaintext_ == on) return;
      plaintext_ = on;
      capturedFieldEdited();
    });
  } else {
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    line->addWidget(new SymbolView(QStringLiteral("lock.fill"), 9, Theme::seal, form), 0, Qt::AlignVCenter);
    auto* where = text(preset_.host + QStringLiteral(" · TLS · ") + QString::number(preset_.port),
                       Theme::Font::system(10.5, QFont::Normal, true), Theme::ink2, form);
    line->addWidget(where, 1);
    fc->addLayout(line);
  }
  errorNote_ = nullptr;
  fc->addStretch();
  row->addWidget(form);

  // The provider's instructions.
  auto* help = new Fill(Theme::paper, page);
  auto* hc = new QVBoxLayout(help);
  hc->setContentsMargins(24, 24, 24, 24);
  hc->setSpacing(12);
  hc->addWidget(new SmallCaps(QStringLiteral("Getting an app password · ") + preset_.name, Theme::ink3, help), 0,
                Qt::AlignLeft);
  for (int i = 0; i < preset_.steps.size(); ++i) {
    auto* step = new QHBoxLayout;
    step->setSpacing(10);
    auto* number = text(QStringLiteral("%1").arg(i + 1, 2, 10, QChar('0')),
                        Theme::Font::system(10.5, QFont::DemiBold, true), Theme::seal, help);
    auto* body = text(preset_.steps[i], Theme::Font::callout(), Theme::ink, help);
    // The number sits on the first line of the step's text.
    number->setContentsMargins(0, qMax(0, body->firstBaseline() - number->firstBaseline()), 0, 0);
    step->addWidget(number, 0, Qt::AlignTop);
    step->addWidget(body, 1, Qt::AlignTop);
    hc->addLayout(step);
  }
  if (preset_.helpURL) {
    auto* open = new VaultButton(QStringLiteral("Open ") + preset_.name + QStringLiteral(" security settings"),
                                 VaultButtonStyle::Kind::Secondary, false, help);
    open->setSymbol(QStringLiteral("arrow.up.forward"));
    const QUrl url = *preset_.helpURL;
    connect(open, &QAbstractButton::clicked, this, [url] { QDesktopServices::openUrl(url); });
    hc->addSpacing(2);
    hc->addWidget(open, 0, Qt::AlignLeft);
  }
  if (preset_.note) {
    auto* card = new VaultCard(8, Theme::raised, help);
    auto* cl = new QVBoxLayout(card);
    cl->setContentsMargins(10, 10, 10, 10);
    cl->addWidget(text(*preset_.note, Theme::Font::caption(), Theme::ink2, card));
    hc->addWidget(card);
  }
  hc->addStretch();
  row->addWidget(help, 1);

  // Built after the fields so a staged or kept error shows at once.
  QMetaObject::invokeMethod(this, [this] { refreshCredentials(); }, Qt::DirectConnection);
  return page;
}

void AddAccountSheet::refreshCredentials() {
  if (step_ != Step::Credentials || !formColumn_) return;
  // The note rises 8 points as it fades in, and sinks as it goes; another
  // error in its place only changes its texts.
  const Transition slide = Transition::fromBelow(8).unlessReduced();
  const bool animate = isVisible();
  if (!error_) {
    if (errorNote_) {
      SafetyNote* leaving = errorNote_;
      errorNote_ = nullptr;
      if (animate) transitionOutAndDelete(leaving, slide, motion(Motion::spring));
      else delete leaving;
    }
    return;
  }
  if (errorNote_ && errorNote_->titleBlock()->text() == q(error_->title) && errorNote_->textBlock() &&
      errorNote_->textBlock()->text() == q(error_->advice))
    return;
  const bool replacing = errorNote_ != nullptr;
  auto* note = new SafetyNote(SafetyNote::Tone::Caution, QStringLiteral("exclamationmark.triangle"),
                              q(error_->title), q(error_->advice));
  // Just above the closing stretch.
  if (replacing) {
    formColumn_->replaceWidget(errorNote_, note);
    delete errorNote_.data();
  } else {
    formColumn_->insertWidget(formColumn_->count() - 1, note);
  }
  errorNote_ = note;
  if (!replacing && animate) {
    note->hide();
    transitionIn(note, slide, motion(Motion::spring));
  }
}

QWidget* AddAccountSheet::buildFolderPicker() {
  auto* page = new QWidget;
  auto* col = new QVBoxLayout(page);
  col->setContentsMargins(24, 20, 24, 20);
  col->setSpacing(12);

  auto* head = new QHBoxLayout;
  auto* seal = new Seal(QStringLiteral("Connected"), 11, Theme::seal, QStringLiteral("checkmark.shield.fill"), page);
  head->addWidget(seal, 0, Qt::AlignVCenter);
  auto* user = text(username_, Theme::Font::system(11, QFont::Normal, true), Theme::ink2, page);
  user->setMaxLines(1);
  head->addWidget(user, 0, Qt::AlignVCenter);
  head->addStretch();
  countLine_ = text(QString(), Theme::Font::system(10.5, QFont::Normal, true), Theme::ink2, page);
  countLine_->setMaxLines(1);
  head->addWidget(countLine_, 0, Qt::AlignVCenter);
  col->addLayout(head);

  auto* card = new VaultCard(Theme::rCard, Theme::raised, page);
  auto* cardLayout = new QVBoxLayout(card);
  cardLayout->setContentsMargins(1, 1, 1, 1);
  auto* scroll = new QScrollArea(card);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll->viewport()->setAutoFillBackground(false);
  auto* list = new QWidget;
  list->setAutoFillBackground(false);
  folderList_ = list;
  auto* rows = new QVBoxLayout(list);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  for (const auto& m : mailboxes_) {
    if (!m.isSelectable()) continue;
    auto* rowBox = new QWidget(list);
    auto* r = new QHBoxLayout(rowBox);
    r->setContentsMargins(12, 8, 12, 8);
    auto* box = new QCheckBox(literal(q(m.displayName)), rowBox);
    box->setFont(Theme::Font::body());
    box->setChecked(chosen_.count(m.name) > 0);
    box->setProperty("mailboxName", q(m.name));
    const std::string name = m.name;
    connect(box, &QCheckBox::toggled, this, [this, name](bool on) { setChosen(name, on); });
    r->addWidget(box);
    if (auto role = m.role()) {
      auto* tagCard = new VaultCard(4, Theme::raised, rowBox);
      auto* tl = new QHBoxLayout(tagCard);
      tl->setContentsMargins(5, 1, 5, 1);
      tl->addWidget(text(q(*role), Theme::Font::system(9.5, QFont::Normal, true), Theme::ink3, tagCard));
      r->addWidget(tagCard, 0, Qt::AlignVCenter);
    }
    r->addStretch();
    hairline(rowBox, Qt::BottomEdge, Theme::rule);
    rows->addWidget(rowBox);
  }
  rows->addStretch();
  scroll->setWidget(list);
  cardLayout->addWidget(scroll);
  col->addWidget(card, 1);

  if (preset_.note) col->addWidget(text(*preset_.note, Theme::Font::caption(), Theme::ink2, page));
  refreshFolderCount();
  return page;
}

void AddAccountSheet::refreshFolderCount() {
  if (!countLine_) return;
  qlonglong selectable = 0;
  for (const auto& m : mailboxes_)
    if (m.isSelectable()) ++selectable;
  countLine_->setText(QStringLiteral("%1 of %2 folders").arg(qlonglong(chosen_.size())).arg(selectable));
}

void AddAccountSheet::refreshFooter() {
  back_->setVisible(step_ != Step::Provider);
  indicator_->setVisible(busy_);
  indicatorText_->setText(QStringLiteral("Signing in to ") + host_ + QStringLiteral("…"));
  switch (step_) {
  case Step::Provider:
    forward_button_->setText(QStringLiteral("Continue"));
    forward_button_->setEnabled(true);
    break;
  case Step::Credentials:
    forward_button_->setText(QStringLiteral("Connect"));
    forward_button_->setEnabled(!busy_ && !username_.isEmpty() && !password_.isEmpty() &&
                                !(preset_.id == "custom" && host_.isEmpty()));
    break;
  case Step::Folders:
    forward_button_->setText(QStringLiteral("Save and Back Up"));
    forward_button_->setEnabled(!chosen_.empty());
    break;
  }
}

} // namespace bx
