#include "Reader/ReaderPieces.h"

#include "Platform/Appearance.h"
#include "Platform/PlatformText.h"
#include "Reader/AttachmentFiles.h"
#include "Reader/ReaderText.h"
#include "Store/ByteCountText.h"
#include "Store/AppStore.h"
#include "Theme/HoverHighlight.h"
#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/Seal.h"
#include "Views/SmallCaps.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultCard.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace bx {

namespace {

QFont mono(qreal px, QFont::Weight w = QFont::Normal) { return Theme::Font::system(px, w, true); }

}  // namespace

void followAppearance(QObject* owner, std::function<void()> apply) {
  apply();
  QObject::connect(&Appearance::shared(), &Appearance::changed, owner, [apply = std::move(apply)] { apply(); });
}

void followColor(QWidget* widget, const ThemeColor& color, std::initializer_list<QPalette::ColorRole> roles) {
  followAppearance(widget, [widget, color, roles = QList<QPalette::ColorRole>(roles)] {
    QPalette pal = widget->palette();
    const QColor c = color.resolved();
    for (auto role : roles) pal.setColor(role, c);
    widget->setPalette(pal);
  });
}

QLabel* themedLabel(const QString& text, const QFont& font, const ThemeColor& color, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setFont(font);
  followColor(label, color);
  return label;
}

DemoShowLinks& DemoShowLinks::shared() {
  static DemoShowLinks* instance = new DemoShowLinks;
  return *instance;
}

// ---- Trust line ---------------------------------------------------------------

TrustLine::TrustLine(const OpenMessage& message, QWidget* parent)
    : QAbstractButton(parent), trust_(message.trust), auth_(message.authResults) {
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  setToolTip(QStringLiteral("Sender checks recorded by your mail provider").toHtmlEscaped());
  setAccessibleName(QStringLiteral("Sender checks recorded by your mail provider"));
  HoverHighlight::apply(this, 5, false);
  connect(this, &QAbstractButton::clicked, this, [this] { setShowAuth(!showAuth()); });
}

QSize TrustLine::sizeHint() const {
  int w = 6 + int(std::ceil(Icons::boxSize(11)));
  const auto checks = ReaderText::checks(auth_);
  if (checks.empty()) {
    w += 5 + QFontMetrics(mono(10)).horizontalAdvance(QStringLiteral("not checked"));
  } else {
    const QFontMetrics fm(mono(9.5, QFont::Medium));
    for (const auto& c : checks) w += 5 + fm.horizontalAdvance(c.key);
  }
  w += 6;
  const int h = std::max(int(std::ceil(Icons::boxSize(11))), QFontMetrics(mono(10)).height()) + 4;
  return {w, h};
}

void TrustLine::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const auto seal = ReaderText::trustSeal(trust_);
  const qreal box = Icons::boxSize(11);
  qreal x = 6;
  const qreal mid = height() / 2.0;
  Icons::paint(p, QRectF(x, mid - box / 2, box, box), seal.symbol, seal.tint.resolved());
  x += box;
  const auto checks = ReaderText::checks(auth_);
  if (checks.empty()) {
    p.setFont(mono(10));
    p.setPen(Theme::ink3.resolved());
    x += 5;
    const QFontMetrics fm(p.font());
    p.drawText(QPointF(x, mid + (fm.ascent() - fm.descent()) / 2.0), QStringLiteral("not checked"));
  } else {
    QFont f = mono(9.5, QFont::Medium);
    for (const auto& c : checks) {
      x += 5;
      QFont cf = f;
      cf.setStrikeOut(!c.passes);
      p.setFont(cf);
      p.setPen((c.passes ? Theme::ink2 : Theme::danger).resolved());
      const QFontMetrics fm(cf);
      p.drawText(QPointF(x, mid + (fm.ascent() - fm.descent()) / 2.0), c.key);
      x += fm.horizontalAdvance(c.key);
    }
  }
  if (hasFocus()) {
    p.setPen(QPen(Theme::focus.resolved(), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
  }
}

void TrustLine::setShowAuth(bool on) {
  if (on == showAuth()) return;
  if (!on) {
    if (popover_) popover_->close();
    return;
  }
  auto* pop = new AuthPopover(auth_, this);
  popover_ = pop;
  connect(pop, &QObject::destroyed, this, [this] { update(); });
  pop->adjustSize();
  // Above the line with the arrow on the bottom edge; below it, arrow on
  // top, when the screen has no room above.
  const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect();
  const QPoint top = mapToGlobal(QPoint(width() / 2, 0));
  if (!screen.isEmpty() && top.y() - pop->height() < screen.top())
    pop->anchor(mapToGlobal(QPoint(width() / 2, height())), Qt::TopEdge);
  else
    pop->anchor(top, Qt::BottomEdge);
  pop->show();
  pop->setFocus();
}

AuthPopover::AuthPopover(const std::map<std::string, std::string>& authResults, QWidget* parent)
    : QFrame(parent, Qt::Popup) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_TranslucentBackground, false);
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(16, 16, 16, 16 + arrowHeight);
  v->setSpacing(8);
  v->addWidget(new SmallCaps(QStringLiteral("What your mail provider recorded"), Theme::ink3, this));
  const auto checks = ReaderText::checks(authResults);
  if (checks.empty()) {
    auto* none = new TextBlock(
        QStringLiteral("This message has no Authentication-Results header, so there’s nothing to check."), this);
    none->setTextFont(Theme::Font::callout());
    none->setColor(Theme::ink);
    none->setMaxTextWidth(300);
    v->addWidget(none);
  } else {
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    for (const auto& c : checks) {
      auto* badge = new Seal(c.key + QLatin1Char(' ') + c.value, 10.5, c.passes ? Theme::seal : Theme::danger,
                             c.passes ? QStringLiteral("checkmark") : QStringLiteral("xmark"), this);
      badge->setObjectName(QStringLiteral("authBadge"));
      row->addWidget(badge);
    }
    row->addStretch();
    v->addLayout(row);
  }
  auto* explain = new TextBlock(
      QStringLiteral("SPF checks the sending server, DKIM checks the signature and DMARC ties both to the From "
                     "address. A pass means the message really came from the domain it claims."),
      this);
  explain->setTextFont(Theme::Font::caption());
  explain->setColor(Theme::ink2);
  explain->setFixedWidth(300);
  v->addWidget(explain);
}

void AuthPopover::anchor(QPoint tip, Qt::Edge edge) {
  if (edge != arrowEdge_) {
    const QMargins m = layout()->contentsMargins();
    layout()->setContentsMargins(m.left(), edge == Qt::TopEdge ? 16 + arrowHeight : 16, m.right(),
                                 edge == Qt::TopEdge ? 16 : 16 + arrowHeight);
    adjustSize();
  }
  arrowEdge_ = edge;
  tip_ = tip;
  place();
}

void AuthPopover::place() {
  // Centred on the tip, kept on the tip's screen.
  int x = tip_.x() - width() / 2;
  if (QScreen* screen = QGuiApplication::screenAt(tip_)) {
    const QRect area = screen->availableGeometry();
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width()));
  }
  arrowX_ = tip_.x() - x;
  move(x, arrowEdge_ == Qt::TopEdge ? tip_.y() : tip_.y() - height());
  setMask(QRegion(outline().toFillPolygon().toPolygon()));
  update();
}

QPoint AuthPopover::arrowTip() const {
  const int x = std::clamp(arrowX_, 10 + arrowHalfWidth, std::max(10 + arrowHalfWidth, width() - 10 - arrowHalfWidth));
  return {x, arrowEdge_ == Qt::TopEdge ? 0 : height()};
}

QPainterPath AuthPopover::outline() const {
  const QRectF card = arrowEdge_ == Qt::TopEdge ? QRectF(0, arrowHeight, width(), height() - arrowHeight)
                                                : QRectF(0, 0, width(), height() - arrowHeight);
  QPainterPath path;
  path.addRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
  const QPointF tip = arrowTip();
  const qreal base = arrowEdge_ == Qt::TopEdge ? card.top() + 1 : card.bottom() - 1;
  QPainterPath arrow;
  arrow.moveTo(tip.x() - arrowHalfWidth, base);
  arrow.lineTo(tip.x(), arrowEdge_ == Qt::TopEdge ? tip.y() + 0.5 : tip.y() - 0.5);
  arrow.lineTo(tip.x() + arrowHalfWidth, base);
  arrow.closeSubpath();
  return path.united(arrow);
}

void AuthPopover::resizeEvent(QResizeEvent* e) {
  // Without a compositor a window cannot be see-through: the mask (set in
  // place()) cuts it to the card and its arrow.
  QFrame::resizeEvent(e);
  if (!tip_.isNull()) place();
}

void AuthPopover::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPainterPath path = outline();
  p.fillPath(path, Theme::raised.resolved());
  p.setPen(QPen(Theme::ruleStrong.resolved(), 1));
  p.drawPath(path);
}

// ---- Catalogue label --------------------------------------------------------------

CatalogueLabel::CatalogueLabel(AppStore* store, const OpenMessage& message, QWidget* parent) : ThemedWidget(parent) {
  setFixedHeight(30);
  auto* h = new QHBoxLayout(this);
  h->setContentsMargins(16, 0, 16, 0);
  h->setSpacing(8);
  QFont label = Theme::Font::label();
  label.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
  const QString account = QString::fromStdString(message.record.account);
  h->addWidget(themedLabel(SidebarItem::accountTitle(account), label, Theme::ink2, this));
  // A file at the vault root is in no folder.
  if (!message.record.isAtVaultRoot()) {
    h->addWidget(themedLabel(QStringLiteral("›"), label, Theme::ink3, this));
    h->addWidget(themedLabel(QString::fromStdString(message.record.folder), label, Theme::ink2, this));
  }
  auto* rule = new QWidget(this);
  rule->setFixedSize(1, 12);
  rule->setAutoFillBackground(true);
  followColor(rule, Theme::rule, {QPalette::Window});
  h->addWidget(rule);

  const QString relative = ReaderText::relativeName(QString::fromStdString(message.record.path));
  name_ = new QLabel(this);
  name_->setTextFormat(Qt::PlainText);
  name_->setFont(mono(10));
  followColor(name_, Theme::ink3);
  name_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  name_->setProperty("fullText", relative);
  name_->setMinimumWidth(20);
  name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  QString fullPath;
  if (store) {
    try {
      fullPath = QString::fromStdString(store->layout().url(message.record.path).string());
    } catch (const std::exception&) {
      fullPath = QString::fromStdString((store->layout().root / message.record.path).string());
    }
  }
  name_->setToolTip(fullPath.toHtmlEscaped());
  name_->setText(relative);
  name_->installEventFilter(this);
  h->addWidget(name_, 1);

  // A file that could not be read has no size to show and nothing to vouch
  // for.
  if (!message.unreadable) {
    h->addWidget(themedLabel(ByteCountText::file(message.fileSize), mono(10), Theme::ink3, this));
    const auto look = ReaderText::copySeal(message.copy);
    seal_ = new Seal(look.text, 11, look.tint, look.symbol, this);
    seal_->setToolTip(look.tooltip.toHtmlEscaped());
    seal_->setProperty("demoAnchor", QStringLiteral("verifiedSeal"));
    h->addWidget(seal_);
  }

  reveal_ = new VaultButton(QString(), VaultButtonStyle::Kind::Quiet, true, this);
  reveal_->setSymbol(QStringLiteral("arrow.up.right.square"), 11);
  const QString tip = PlatformText::localize(QStringLiteral("Reveal in Finder (⇧⌘R)"));
  reveal_->setToolTip(tip.toHtmlEscaped());
  reveal_->setAccessibleName(PlatformText::localize(QStringLiteral("Reveal in Finder")));
  reveal_->setProperty("demoAnchor", QStringLiteral("revealFinder"));
  reveal_->setFocusPolicy(Qt::StrongFocus);
  h->addWidget(reveal_);
  hairline(this, Qt::BottomEdge, Theme::rule);
}

QString CatalogueLabel::relativeNameShown() const { return name_->text(); }

void CatalogueLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::paper.resolved());
}

bool CatalogueLabel::eventFilter(QObject* watched, QEvent* event) {
  // A long name is cut in the middle, keeping the file's end in view.
  if (watched == name_ && event->type() == QEvent::Resize) {
    const QString full = name_->property("fullText").toString();
    name_->setText(QFontMetrics(name_->font()).elidedText(full, Qt::ElideMiddle, name_->width()));
  }
  // A copy takes the whole name, never the cut one on screen.
  if (watched == name_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy) && name_->hasSelectedText()) {
    QApplication::clipboard()->setText(name_->property("fullText").toString());
    return true;
  }
  if (watched == name_ && event->type() == QEvent::ContextMenu) {
    QMenu menu(name_);
    const QString full = name_->property("fullText").toString();
    menu.addAction(QStringLiteral("Copy"), name_, [full] { QApplication::clipboard()->setText(full); });
    menu.exec(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  return ThemedWidget::eventFilter(watched, event);
}

// ---- Attachment chip ------------------------------------------------------------

QIcon AttachmentChip::icon(const std::string& filename) {
  const QString name = QString::fromStdString(filename);
  const QString last = name.section('/', -1);
  const int dot = last.lastIndexOf('.');
  const QString ext = dot >= 0 ? last.mid(dot + 1) : QString();
  QMimeDatabase db;
  const QMimeType type = ext.isEmpty() ? db.mimeTypeForName(QStringLiteral("application/octet-stream"))
                                       : db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
  QIcon themed = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
  if (!themed.isNull()) return themed;
  return QIcon(Icons::pixmap(QStringLiteral("doc"), 22, Theme::ink2.resolved(), 2.0));
}

AttachmentChip::AttachmentChip(const MailAttachment& attachment, std::function<void()> preview,
                               std::function<void()> save, QWidget* parent)
    : ThemedWidget(parent), attachment_(&attachment), preview_(std::move(preview)), saveAction_(std::move(save)) {
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
  connect(&hoverFill_, &AnimatedValue::changed, this, qOverload<>(&QWidget::update));
  // The name as it is written to disk and offered for saving: no direction
  // controls or line breaks, a long one cut in the middle.
  const QString name = AttachmentFiles::cleanName(attachment.filename);
  setToolTip(PlatformText::localize(QStringLiteral("Click to preview with Quick Look")).toHtmlEscaped());
  setAccessibleName(name);
  auto* h = new QHBoxLayout(this);
  h->setContentsMargins(8, 5, 2, 5);
  h->setSpacing(8);
  auto* iconLabel = new QLabel(this);
  followAppearance(iconLabel, [iconLabel, filename = name.toStdString()] {
    iconLabel->setPixmap(icon(filename).pixmap(22, 22));
  });
  iconLabel->setFixedSize(22, 22);
  h->addWidget(iconLabel);
  auto* v = new QVBoxLayout;
  v->setSpacing(0);
  QFont nameFont = Theme::Font::weighted(Theme::Font::callout(), QFont::Medium);
  auto* nameLabel =
      themedLabel(QFontMetrics(nameFont).elidedText(name, Qt::ElideMiddle, 170), nameFont, Theme::ink, this);
  nameLabel->setObjectName(QStringLiteral("chipName"));
  nameLabel->setMaximumWidth(170);
  v->addWidget(nameLabel);
  v->addWidget(themedLabel(ByteCountText::file(int64_t(attachment.size())), mono(9.5), Theme::ink3, this));
  h->addLayout(v);
  save_ = new VaultButton(QString(), VaultButtonStyle::Kind::Quiet, true, this);
  save_->setSymbol(QStringLiteral("arrow.down.to.line"), 11);
  save_->setToolTip(QStringLiteral("Save attachment…").toHtmlEscaped());
  save_->setAccessibleName(QStringLiteral("Save attachment…"));
  save_->setFocusPolicy(Qt::StrongFocus);
  connect(save_, &QAbstractButton::clicked, this, [this] {
    if (saveAction_) saveAction_();
  });
  h->addWidget(save_);
}

QSize AttachmentChip::sizeHint() const { return layout()->sizeHint(); }

void AttachmentChip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor fill = mixColors(Theme::raised.resolved(), Theme::hover.resolved(), hoverFill_.value());
  VaultCard::paint(p, QRectF(rect()), 8, ThemeColor::fixed(fill));
  if (hasFocus()) {
    p.setPen(QPen(Theme::focus.resolved(), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
  }
}

void AttachmentChip::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && rect().contains(e->pos()) && preview_) preview_();
}

void AttachmentChip::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && preview_) {
    preview_();
    return;
  }
  ThemedWidget::keyPressEvent(e);
}

void AttachmentChip::enterEvent(QEnterEvent*) {
  hover_ = true;
  hoverFill_.animateTo(1, motion(Animation::easeOut(0.12)));
}

void AttachmentChip::leaveEvent(QEvent*) {
  hover_ = false;
  hoverFill_.animateTo(0, motion(Animation::easeOut(0.12)));
}

void AttachmentChip::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  menu.addAction(PlatformText::localize(QStringLiteral("Quick Look")), this, [this] {
    if (preview_) preview_();
  });
  menu.addAction(QStringLiteral("Save…"), this, [this] {
    if (saveAction_) saveAction_();
  });
  menu.exec(e->globalPos());
}

} // namespace bx
