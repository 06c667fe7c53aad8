#include "Shell/Onboarding.h"

#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"
#include "Shell/Harness.h"
#include "Shell/Keycap.h"
#include "Shell/Quitting.h"
#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"

#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace bx {

bool Onboarding::shouldShow() {
  // The screenshot, demo and self-test runs drive the window themselves; a
  // guide opening over it would be in their way (and in their pictures).
  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (env.contains(QStringLiteral("BRINDLEBOX_SNAPSHOT_DIR"))) return false;
  if (env.contains(QStringLiteral("BRINDLEBOX_DEMO_DIR"))) return false;
  if (Launch::choosePath(env) == LaunchPath::UITest) return false;
  return !QSettings().value(QLatin1String(kSeenKey), false).toBool();
}

std::optional<int> OnboardingView::snapshotPage;

const QList<OnboardingView::Page>& OnboardingView::pages() {
  static const QList<Page> table{
      {QStringLiteral("archivebox"), QStringLiteral("A vault, not another inbox"),
       QStringLiteral("Brindlebox copies every message to this Mac as a plain .eml file \u2014 filed by account, "
                      "folder and year \u2014 so your mail is yours, offline, for good.")},
      {QStringLiteral("eye.slash"), QStringLiteral("Read without being watched"),
       QStringLiteral("Every message opens with remote images and tracking pixels switched off, and senders that "
                      "pretend to be someone else are flagged.")},
      {QStringLiteral("command"), QStringLiteral("Travel by keyboard"),
       QStringLiteral("Drag the timeline beside the list to move through the years. Everything else is a "
                      "keystroke away.")},
      {QStringLiteral("key"), QStringLiteral("Connect your first account"),
       QStringLiteral("Brindlebox signs in with an app-specific password from your mail provider. It\u2019s kept "
                      "in your Mac\u2019s Keychain and goes nowhere else.")},
  };
  return table;
}

namespace {

TextBlock* text(const QString& s, const QFont& font, const ThemeColor& color, QWidget* parent) {
  auto* t = new TextBlock(PlatformText::localize(s), parent);
  t->setTextFont(font);
  t->setColor(color);
  return t;
}

// A symbol whose size bounces once shortly after it is shown.
class BouncingSymbol : public SymbolView {
public:
  BouncingSymbol(const QString& symbol, qreal pixels, const ThemeColor& color, QWidget* parent)
      : SymbolView(symbol, pixels, color, parent) {
    connect(&phase_, &AnimatedValue::changed, this,
            [this](double v) { setScaleFactor(1 + 0.18 * std::sin(M_PI * std::clamp(v, 0.0, 1.0))); });
  }

protected:
  void showEvent(QShowEvent* e) override {
    SymbolView::showEvent(e);
    if (bounced_) return;
    bounced_ = true;
    phase_.setValue(0);
    phase_.animateTo(1, Animation::easeOut(0.5));
  }

private:
  AnimatedValue phase_{1};
  bool bounced_ = false;
};

QWidget* bullets(const QList<std::pair<QString, QString>>& rows, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* v = new QVBoxLayout(box);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(10);
  for (const auto& [symbol, line] : rows) {
    auto* h = new QHBoxLayout;
    h->setSpacing(10);
    auto* icon = new SymbolView(symbol, 13, Theme::seal, box);
    icon->setBoxWidth(20);
    h->addWidget(icon, 0, Qt::AlignTop);
    h->addWidget(text(line, Theme::Font::body(), Theme::ink, box), 1);
    v->addLayout(h);
  }
  return box;
}

QWidget* keyCard(QWidget* parent) {
  auto* card = new VaultCard(Theme::rCard, Theme::raised, parent);
  card->setObjectName(QStringLiteral("keyCard"));
  auto* grid = new QGridLayout(card);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(9);
  const std::pair<const char16_t*, const char*> rows[] = {
      {u"\u21E7\u2318B", "Back up now"},
      {u"\u2318N", "Add a mail account"},
      {u"\u23181 \u2013 \u23184", "Jump to a shelf"},
      {u"\u2318\u2191  \u2318\u2193", "Previous / next message"},
      {u"\u21E7\u2318L", "Show images in this message"},
  };
  int r = 0;
  for (const auto& [keys, label] : rows) {
    grid->addWidget(new Keycap(QString::fromUtf16(keys), card), r, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(text(QString::fromUtf8(label), Theme::Font::body(), Theme::ink, card), r, 1, Qt::AlignVCenter);
    ++r;
  }
  grid->setColumnStretch(1, 1);
  return card;
}

QWidget* detail(int index, QWidget* parent) {
  switch (index) {
  case 0:
    return bullets({{QStringLiteral("doc.text"), QStringLiteral("One standard .eml per message \u2014 opens in any mail app")},
                    {QStringLiteral("magnifyingglass"), QStringLiteral("Fast offline search across every account")},
                    {QStringLiteral("checkmark.shield"), QStringLiteral("Free up server space once each copy is verified")}},
                   parent);
  case 1:
    return bullets({{QStringLiteral("eye.slash"), QStringLiteral("Remote images and tracking pixels never load")},
                    {QStringLiteral("person.crop.circle.badge.questionmark"),
                     QStringLiteral("Look-alike domains and spoofed names are flagged")},
                    {QStringLiteral("link"), QStringLiteral("Links that go somewhere other than they say are called out")}},
                   parent);
  case 2:
    return keyCard(parent);
  default:
    return bullets({{QStringLiteral("lock"), QStringLiteral("No accounts or servers of ours \u2014 nothing leaves your Mac "
                                                            "except the sign-in to your provider")},
                    {QStringLiteral("list.number"),
                     QStringLiteral("The next screen walks you through creating an app password, step by step")}},
                   parent);
  }
}

} // namespace

QWidget* makeOnboardingPage(int index, QWidget* parent) {
  const auto& table = OnboardingView::pages();
  const OnboardingView::Page& page = table[std::clamp(index, 0, int(table.size()) - 1)];
  auto* w = new QWidget(parent);
  w->setObjectName(QStringLiteral("page%1").arg(index));
  auto* v = new QVBoxLayout(w);
  v->setContentsMargins(36, 30, 36, 0);
  v->setSpacing(16);

  auto* header = new QHBoxLayout;
  header->setSpacing(10);
  auto* number = text(QString::asprintf("%02d", index + 1), Theme::Font::system(13, QFont::DemiBold, true),
                      Theme::seal, w);
  number->setObjectName(QStringLiteral("pageNumber"));
  auto* count = text(QStringLiteral("/ ") + QString::asprintf("%02d", int(table.size())),
                     Theme::Font::system(13, QFont::Normal, true), Theme::ink3, w);
  count->setObjectName(QStringLiteral("pageCount"));
  header->addWidget(number, 0, Qt::AlignBottom);
  header->addWidget(count, 0, Qt::AlignBottom);
  header->addStretch(1);
  header->addWidget(new BouncingSymbol(page.symbol, 22, Theme::ink2, w), 0, Qt::AlignBottom);
  v->addLayout(header);

  auto* titles = new QVBoxLayout;
  titles->setSpacing(8);
  auto* title = text(page.title, Theme::Font::display(), Theme::ink, w);
  title->setObjectName(QStringLiteral("pageTitle"));
  titles->addWidget(title);
  auto* body = text(page.text, Theme::Font::system(14), Theme::ink2, w);
  body->setObjectName(QStringLiteral("pageText"));
  titles->addWidget(body);
  v->addLayout(titles);
  v->addWidget(detail(index, w));
  v->addStretch(1);
  return w;
}

// MARK: guide

OnboardingView::OnboardingView(int startPage, OnboardingActions actions, QWidget* parent)
    : QDialog(parent), actions_(std::move(actions)) {
  page_ = std::clamp(startPage, 0, int(pages().size()) - 1);
  setObjectName(QStringLiteral("onboarding"));
  setWindowTitle(QStringLiteral("Welcome to Brindlebox"));
  setWindowModality(Qt::WindowModal);
  setFixedSize(580, 470);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Theme::panel.resolved());
  setPalette(pal);
  connect(&Appearance::shared(), &Appearance::changed, this, [this] {
    QPalette p = palette();
    p.setColor(QPalette::Window, Theme::panel.resolved());
    setPalette(p);
  });

  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);
  area_ = new OnboardingPageArea(this);
  v->addWidget(area_, 1);
  footer_ = new QWidget(this);
  footer_->setObjectName(QStringLiteral("footer"));
  auto* f = new QHBoxLayout(footer_);
  f->setContentsMargins(20, 14, 20, 14);
  f->setSpacing(10);
  dots_ = new PageDots(int(pages().size()), page_, footer_);
  f->addWidget(dots_);
  f->addStretch(1);
  footerButtons_ = new QHBoxLayout;
  footerButtons_->setSpacing(10);
  f->addLayout(footerButtons_);
  hairline(footer_, Qt::TopEdge, Theme::rule);
  v->addWidget(footer_);

  area_->show(makeOnboardingPage(page_), true, false);
  buildFooter();

  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* sc = new QShortcut(QKeySequence(key), this);
    sc->setContext(Qt::WindowShortcut);
    connect(sc, &QShortcut::activated, this, &OnboardingView::runDefault);
  }
}

QString OnboardingView::finishTitle() const {
  const int n = actions_.accountCount ? actions_.accountCount() : 0;
  return n == 0 ? QStringLiteral("Add a Mail Account") : QStringLiteral("Start Reading");
}

void OnboardingView::buildFooter() {
  while (QLayoutItem* item = footerButtons_->takeAt(0)) {
    if (QWidget* w = item->widget()) w->deleteLater();
    delete item;
  }
  const int last = int(pages().size()) - 1;
  auto add = [this](const QString& title, VaultButtonStyle style, void (OnboardingView::*action)()) {
    auto* b = new VaultButton(title, style, footer_);
    b->setObjectName(title);
    connect(b, &QAbstractButton::clicked, this, action);
    footerButtons_->addWidget(b);
    return b;
  };
  if (page_ < last) {
    auto* skipButton = add(QStringLiteral("Skip"), {VaultButtonStyle::Kind::Quiet, true}, &OnboardingView::skip);
    skipButton->setFocusPolicy(Qt::NoFocus);
  }
  if (page_ >= 1) {
    auto* b = new VaultButton(QStringLiteral("Back"), VaultButtonStyle{VaultButtonStyle::Kind::Secondary, false},
                              footer_);
    b->setObjectName(QStringLiteral("Back"));
    connect(b, &QAbstractButton::clicked, this, [this] { go(page_ - 1); });
    footerButtons_->addWidget(b);
  }
  if (page_ < last) {
    auto* b = new VaultButton(QStringLiteral("Continue"), VaultButtonStyle{VaultButtonStyle::Kind::Primary, false},
                              footer_);
    b->setObjectName(QStringLiteral("Continue"));
    connect(b, &QAbstractButton::clicked, this, [this] { go(page_ + 1); });
    footerButtons_->addWidget(b);
  } else {
    add(QStringLiteral("Import Files\u2026"), {VaultButtonStyle::Kind::Secondary, false},
        &OnboardingView::importFiles);
    add(finishTitle(), {VaultButtonStyle::Kind::Primary, false}, &OnboardingView::finish);
  }
}

void OnboardingView::refreshFooter() { buildFooter(); }

QStringList OnboardingView::footerButtons() const {
  QStringList titles;
  for (int i = 0; i < footerButtons_->count(); ++i) {
    if (auto* b = qobject_cast<VaultButton*>(footerButtons_->itemAt(i)->widget())) titles << b->text();
  }
  return titles;
}

VaultButton* OnboardingView::footerButton(const QString& title) const {
  for (int i = 0; i < footerButtons_->count(); ++i) {
    auto* b = qobject_cast<VaultButton*>(footerButtons_->itemAt(i)->widget());
    if (b && b->text() == title) return b;
  }
  return nullptr;
}

void OnboardingView::runDefault() {
  if (left_) return;
  if (page_ < int(pages().size()) - 1) go(page_ + 1);
  else finish();
}

void OnboardingView::go(int target) {
  if (left_) return;
  target = std::clamp(target, 0, int(pages().size()) - 1);
  if (target == page_) return;
  forward_ = page_ < target;
  page_ = target;
  area_->show(makeOnboardingPage(page_), forward_, true);
  dots_->setCurrent(page_);
  buildFooter();
}

void OnboardingView::leave() {
  left_ = true;
  // Written to disk before the sheet goes, so a crash right after cannot
  // bring the guide back.
  QSettings settings;
  settings.setValue(QLatin1String(Onboarding::kSeenKey), true);
  settings.sync();
  QDialog::done(QDialog::Accepted);
}

void OnboardingView::skip() {
  if (left_) return;
  leave();
}

void OnboardingView::importFiles() {
  if (left_) return;
  leave();
  if (actions_.context && actions_.presentImportPanel) {
    // After the sheet has gone, so the open panel does not sit on it.
    QTimer::singleShot(0, actions_.context.data(), actions_.presentImportPanel);
  }
}

void OnboardingView::finish() {
  if (left_) return;
  const int accounts = actions_.accountCount ? actions_.accountCount() : 0;
  leave();
  if (accounts == 0 && actions_.context && actions_.showAddAccount) {
    QTimer::singleShot(350, actions_.context.data(), actions_.showAddAccount);
  }
}

void OnboardingView::reject() {
  // Escape and the title-bar close skip; a close on the way out of the
  // application leaves the guide due for the next start.
  if (left_) return;
  if (Quitting::isOn()) {
    left_ = true;
    QDialog::done(QDialog::Rejected);
    return;
  }
  skip();
}

// MARK: page area

OnboardingPageArea::OnboardingPageArea(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pageArea"));
  connect(&progress_, &AnimatedValue::changed, this, [this](double v) {
    if (v >= 1 && progress_.target() >= 1 && leaving_) {
      leaving_->deleteLater();
      leaving_ = nullptr;
    }
    place();
  });
}

void OnboardingPageArea::show(QWidget* page, bool forward, bool animated) {
  if (leaving_) leaving_->deleteLater();
  leaving_ = animated ? current_ : nullptr;
  if (!animated && current_) current_->deleteLater();
  current_ = page;
  page->setParent(this);
  page->setGraphicsEffect(new QGraphicsOpacityEffect(page));
  page->setGeometry(rect());
  page->QWidget::show();
  forward_ = forward;
  slides_ = !ReduceMotion::isOn();
  if (animated) {
    progress_.setValue(0);
    progress_.animateTo(1, slides_ ? Motion::spring : Motion::fade);
  } else {
    progress_.setValue(1);
  }
  place();
}

void OnboardingPageArea::resizeEvent(QResizeEvent*) { place(); }

void OnboardingPageArea::place() {
  const qreal t = progress_.value();
  const int w = width();
  const int dir = forward_ ? 1 : -1;
  auto setOpacity = [](QWidget* page, qreal o) {
    if (auto* e = qobject_cast<QGraphicsOpacityEffect*>(page->graphicsEffect())) {
      e->setOpacity(std::clamp(o, 0.0, 1.0));
      e->setEnabled(o < 1);
    }
  };
  if (current_) {
    const int x = slides_ ? qRound(dir * w * (1 - t)) : 0;
    current_->setGeometry(x, 0, w, height());
    setOpacity(current_, t);
  }
  if (leaving_) {
    const int x = slides_ ? qRound(-dir * w * t) : 0;
    leaving_->setGeometry(x, 0, w, height());
    setOpacity(leaving_, 1 - t);
  }
}

// MARK: dots

PageDots::PageDots(int count, int current, QWidget* parent)
    : ThemedWidget(parent), count_(count), current_(current), position_(current) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(&position_, &AnimatedValue::changed, this, [this] { update(); });
}

void PageDots::setCurrent(int current) {
  current_ = current;
  position_.animateTo(current, motion(Motion::spring));
}

qreal PageDots::dotWidth(int i) const {
  const qreal nearness = std::clamp(1 - std::abs(position_.value() - i), 0.0, 1.0);
  return 6 + 12 * nearness;
}

QSize PageDots::sizeHint() const { return {count_ * 6 + 12 + (count_ - 1) * 5, 6}; }

void PageDots::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  qreal x = 0;
  const qreal y = (height() - 6) / 2.0;
  for (int i = 0; i < count_; ++i) {
    const qreal w = dotWidth(i);
    const qreal nearness = (w - 6) / 12;
    const QColor c = nearness > 0.5 ? Theme::focus.resolved() : Theme::ruleStrong.resolved();
    p.fillPath(Shapes::capsule(QRectF(x, y, w, 6)), c);
    x += w + 5;
  }
}

} // namespace bx
