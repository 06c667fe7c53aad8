#include "Shell/WelcomeView.h"

#include "Platform/PlatformText.h"
#include "Platform/ReduceMotion.h"
#include "Shell/EmptySpineIllustration.h"
#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/SmallCaps.h"
#include "Views/StatusLine.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

namespace bx {
namespace {

TextBlock* text(const QString& s, const QFont& font, const ThemeColor& color, QWidget* parent) {
  auto* t = new TextBlock(s, parent);
  t->setTextFont(font);
  t->setColor(color);
  return t;
}

// One promise: the numeral on the title's baseline, title over text, a rule
// along the bottom.
QWidget* promise(const QString& numeral, const QString& title, const QString& body, QWidget* parent) {
  const QFont numeralFont = Theme::Font::system(11, QFont::DemiBold, true);
  auto* num = text(numeral, numeralFont, Theme::seal, nullptr);
  num->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  // First-baseline alignment: lower the numeral by the difference of ascents.
  const int drop = QFontMetrics(Theme::Font::headline()).ascent() - QFontMetrics(numeralFont).ascent();
  num->setContentsMargins(0, std::max(0, drop), 0, 0);
  StatusLine::Style style;
  style.margins = QMargins(16, 12, 16, 12);
  style.spacing = 14;
  style.lineSpacing = 2;
  style.leadAlignment = Qt::AlignTop;
  style.titleFont = Theme::Font::headline();
  style.titleColor = Theme::ink;
  style.detailFont = Theme::Font::callout();
  style.detailColor = Theme::ink2;
  auto* row = new StatusLine(num, style, title, body, parent);
  hairline(row, Qt::BottomEdge, Theme::rule);
  return row;
}

} // namespace

QString WelcomeView::hintText() {
  return PlatformText::localize(QStringLiteral(
      "Already in Apple Mail? Mailbox \u203A Export Mailbox\u2026 gives you an .mbox to import here."));
}

WelcomeView::WelcomeView(QWidget* parent) : ThemedWidget(parent) {
  setObjectName(QStringLiteral("welcome"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  spine_ = new EmptySpineIllustration(this);
  spine_->setFixedWidth(120);
  hairline(spine_, Qt::RightEdge, Theme::rule);
  row->addWidget(spine_);

  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->viewport()->setAutoFillBackground(false);
  row->addWidget(scroll_, 1);

  auto* page = new QWidget;
  page->setAutoFillBackground(false);
  auto* centre = new QVBoxLayout(page);
  centre->setContentsMargins(64, 48, 64, 48);
  centre->setSpacing(0);
  content_ = new QWidget(page);
  auto* stack = new QVBoxLayout(content_);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(22);
  centre->addStretch(1);
  centre->addWidget(content_);
  centre->addStretch(1);
  scroll_->setWidget(page);
  // The scroll area fills its page by default; the panel shows through here.
  page->setAutoFillBackground(false);
  scroll_->setAutoFillBackground(false);

  stack->addWidget(new SmallCaps(QStringLiteral("Brindlebox \u00B7 an empty vault"), Theme::ink3, content_), 0,
                   Qt::AlignLeft);

  auto* headBlock = new QVBoxLayout;
  headBlock->setSpacing(10);
  auto* headline = text(QStringLiteral("A vault for every email\nyou\u2019ve ever kept."),
                        Theme::Font::system(34, QFont::DemiBold), Theme::ink, content_);
  headline->setObjectName(QStringLiteral("headline"));
  headBlock->addWidget(headline);
  auto* blurb = text(PlatformText::localize(QStringLiteral(
                         "Brindlebox copies your mail onto this Mac as plain .eml files \u2014 one per message, "
                         "filed by account, folder and year \u2014 then lets you travel through it offline.")),
                     Theme::Font::system(15), Theme::ink2, content_);
  blurb->setObjectName(QStringLiteral("blurb"));
  blurb->setMaxTextWidth(520);
  blurb->setMaximumWidth(520);
  headBlock->addWidget(blurb);
  stack->addLayout(headBlock);

  auto* card = new VaultCard(Theme::rCard, Theme::raised, content_);
  card->setObjectName(QStringLiteral("promises"));
  card->setMaximumWidth(560);
  auto* rows = new QVBoxLayout(card);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  rows->addWidget(promise(QStringLiteral("01"), QStringLiteral("Plain files you own"),
                          QStringLiteral("Standard .eml, readable by any mail app \u2014 no database, no lock-in."),
                          card));
  rows->addWidget(promise(
      QStringLiteral("02"), QStringLiteral("Read without being watched"),
      QStringLiteral("Remote images and tracking pixels never load. Look-alike senders are flagged."), card));
  rows->addWidget(promise(QStringLiteral("03"), QStringLiteral("Free space, never lose mail"),
                          QStringLiteral("Old mail leaves the server only after each local copy is verified."),
                          card));
  stack->addWidget(card);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(10);
  addAccount_ = new VaultButton(QStringLiteral("Add a Mail Account"), VaultButtonStyle::Kind::Primary, false, content_);
  addAccount_->setSymbol(QStringLiteral("plus"));
  import_ = new VaultButton(QStringLiteral("Import .eml or .mbox\u2026"), VaultButtonStyle::Kind::Secondary, false,
                            content_);
  buttons->addWidget(addAccount_);
  buttons->addWidget(import_);
  buttons->addStretch(1);
  stack->addLayout(buttons);
  connect(addAccount_, &QAbstractButton::clicked, this, &WelcomeView::addAccountRequested);
  connect(import_, &QAbstractButton::clicked, this, &WelcomeView::importRequested);

  // The default action: a VaultButton is no default push button, so Return
  // and Enter are shortcuts of the page. Window context keeps them off the
  // window while a sheet above it is the active window.
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* sc = new QShortcut(QKeySequence(key), this);
    sc->setContext(Qt::WindowShortcut);
    connect(sc, &QShortcut::activated, addAccount_, [this] {
      if (addAccount_->isEnabled()) addAccount_->click();
    });
  }

  status_ = new ImportStatusLine(content_);
  stack->addWidget(status_);

  auto* hint = text(hintText(), Theme::Font::caption(), Theme::ink3, content_);
  hint->setObjectName(QStringLiteral("hint"));
  stack->addWidget(hint);

  spineFade_ = new QGraphicsOpacityEffect(spine_);
  spineFade_->setOpacity(0);
  spine_->setGraphicsEffect(spineFade_);
  contentFade_ = new QGraphicsOpacityEffect(content_);
  contentFade_->setOpacity(0);
  content_->setGraphicsEffect(contentFade_);
  connect(&appear_, &AnimatedValue::changed, this, [this] { applyAppear(); });
  applyAppear();
}

void WelcomeView::setImportMessage(const std::optional<QString>& message) {
  importMessage_ = message;
  status_->setMessage(message);
}

void WelcomeView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::panel.resolved());
}

void WelcomeView::showEvent(QShowEvent* e) {
  ThemedWidget::showEvent(e);
  if (appeared_) return;
  appeared_ = true;
  // Both columns fade in together while the content rises into place; under
  // Reduce Motion it only fades.
  const bool reduce = ReduceMotion::isOn();
  rise_ = !reduce;
  applyAppear();
  QTimer::singleShot(50, this, [this, reduce] {
    appear_.animateTo(1, reduce ? Motion::fade : Animation::spring(0.55, 0.9));
  });
}

void WelcomeView::applyAppear() {
  const qreal t = appear_.value();
  const qreal opacity = std::clamp(t, 0.0, 1.0);
  spineFade_->setOpacity(opacity);
  contentFade_->setOpacity(opacity);
  // Settled: drop the effects so the page draws directly.
  spineFade_->setEnabled(opacity < 1);
  contentFade_->setEnabled(opacity < 1);
  const int offset = rise_ ? qRound(10 * (1 - t)) : 0;
  if (auto* l = content_->parentWidget()->layout()) l->setContentsMargins(64, 48 + offset, 64, 48 - offset);
}

// MARK: import status

namespace {
constexpr qreal kStatusSymbol = 12;
}

ImportStatusLine::ImportStatusLine(QWidget* parent) : ThemedWidget(parent) {
  setVisible(false);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(&presence_, &AnimatedValue::changed, this, [this](double v) {
    if (v <= 0 && presence_.target() <= 0) setVisible(false);
    update();
  });
}

void ImportStatusLine::setMessage(const std::optional<QString>& message) {
  slides_ = !ReduceMotion::isOn();
  if (message) {
    const bool entering = presence_.target() <= 0;
    text_ = *message;
    updateGeometry();
    setVisible(true);
    if (entering) presence_.animateTo(1, motion(Motion::spring));
    update();
  } else if (presence_.target() > 0) {
    presence_.animateTo(0, motion(Motion::spring));
  }
}

QSize ImportStatusLine::sizeHint() const {
  const QFontMetrics fm(Theme::Font::callout());
  const int side = qCeil(Icons::boxSize(kStatusSymbol));
  return {side + 6 + fm.horizontalAdvance(text_) + 2, std::max(side, fm.height())};
}

void ImportStatusLine::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal t = std::clamp(presence_.value(), 0.0, 1.0);
  p.setOpacity(t);
  if (slides_) p.translate(0, 8 * (1 - presence_.value()));
  const QColor tint = Theme::seal.resolved();
  const qreal side = Icons::boxSize(kStatusSymbol);
  Icons::paint(p, QRectF(0, (height() - side) / 2, side, side), QStringLiteral("checkmark.shield.fill"), tint);
  p.setFont(Theme::Font::callout());
  p.setPen(tint);
  p.drawText(QRectF(side + 6, 0, width() - side - 6, height()), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

} // namespace bx
