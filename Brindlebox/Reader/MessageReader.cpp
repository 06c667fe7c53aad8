#include "Reader/MessageReader.h"

#include "Mime/HTMLText.h"
#include "Platform/Appearance.h"
#include "Platform/PlatformText.h"
#include "Platform/PreviewDialog.h"
#include "Platform/ReduceMotion.h"
#include "Platform/WebSandbox.h"
#include "Platform/RevealFile.h"
#include "Reader/AttachmentFiles.h"
#include "Reader/AttachmentList.h"
#include "Reader/MailWebView.h"
#include "Reader/ReaderMotion.h"
#include "Reader/ReaderPieces.h"
#include "Reader/ReaderText.h"
#include "Safety/HTMLInspector.h"
#include "Store/AppStore.h"
#include "Theme/Icons.h"
#include "Theme/Theme.h"
#include "Views/Hairline.h"
#include "Views/Monogram.h"
#include "Views/SafetyNote.h"
#include "Views/TextBlock.h"
#include "Views/VaultButton.h"
#include "Views/VaultEmpty.h"

#include <QApplication>
#include <QBoxLayout>
#include <QThreadPool>
#include <QLabel>
#include <QOpenGLContext>
#include <QGuiApplication>
#include <QOpenGLWidget>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace bx {

namespace {

QFont mono(qreal px, QFont::Weight w = QFont::Normal) { return Theme::Font::system(px, w, true); }

// Name and address side by side when they fit, else the address under the
// name.
class SenderLines : public QWidget {
public:
  SenderLines(QLabel* name, QLabel* email, QWidget* parent) : QWidget(parent), name_(name), email_(email) {
    box_ = new QBoxLayout(QBoxLayout::LeftToRight, this);
    box_->setContentsMargins(0, 0, 0, 0);
    box_->setSpacing(6);
    box_->addWidget(name_, 0, Qt::AlignBottom);
    if (email_) box_->addWidget(email_, 0, Qt::AlignBottom);
    box_->addStretch();
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  bool sideBySide() const { return box_->direction() == QBoxLayout::LeftToRight; }

protected:
  void resizeEvent(QResizeEvent* e) override {
    const int need = name_->sizeHint().width() + (email_ ? 6 + email_->sizeHint().width() : 0);
    const bool fits = need <= e->size().width();
    box_->setDirection(fits ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    box_->setSpacing(fits ? 6 : 1);
    QWidget::resizeEvent(e);
  }

private:
  QLabel* name_;
  QLabel* email_;
  QBoxLayout* box_;
};

// The subject: selectable plain text, wrapped, at most three lines, the
// last one cut with an ellipsis.
class SubjectText : public QLabel {
public:
  SubjectText(const QString& text, QWidget* parent) : QLabel(parent), full_(text) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(Theme::Font::title());
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The whole subject laid out the way this label lays it out, to know
    // whether it fits in three lines.
    probe_.setTextFormat(Qt::PlainText);
    probe_.setWordWrap(true);
    probe_.setFont(font());
    probe_.setTextInteractionFlags(textInteractionFlags());
    probe_.setText(full_);
    QLabel::setText(full_);
    followColor(this, Theme::ink);
  }
  QString fullText() const { return full_; }

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    return std::min(probe_.heightForWidth(std::max(1, width)), kMaxLines * QFontMetrics(font()).lineSpacing());
  }
  QSize sizeHint() const override {
    const QFontMetrics fm(font());
    return {int(std::ceil(TextBlock::idealWidth(full_, font()))), fm.lineSpacing()};
  }
  QSize minimumSizeHint() const override { return {0, QFontMetrics(font()).lineSpacing()}; }

protected:
  void resizeEvent(QResizeEvent* e) override {
    // Within three lines the whole subject stays as it is, so a copy gives
    // it back exactly; past them the shown (cut) lines are the text.
    const int width = std::max(1, e->size().width());
    const bool fits = probe_.heightForWidth(width) <= kMaxLines * QFontMetrics(font()).lineSpacing();
    const QString shown = fits ? full_ : TextBlock::wrap(full_, font(), width, kMaxLines).join('\n');
    if (shown != text()) QLabel::setText(shown);
    QLabel::resizeEvent(e);
  }

private:
  static constexpr int kMaxLines = 3;
  QString full_;
  QLabel probe_;
};

// Strip, header and body from top to bottom: the strip and the header take
// the height they need at this width first, the body what is left but never
// less than 120. When the pane is shorter than that, the body runs past its
// bottom edge; the header is never squeezed.
class ReaderStack : public QLayout {
public:
  explicit ReaderStack(QWidget* parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }
  ~ReaderStack() override {
    while (QLayoutItem* item = takeAt(0)) delete item;
  }
  static constexpr int bodyMinimum = 120;

  void addItem(QLayoutItem* item) override { items_.append(item); }
  int count() const override { return int(items_.size()); }
  QLayoutItem* itemAt(int i) const override { return items_.value(i); }
  QLayoutItem* takeAt(int i) override { return i >= 0 && i < items_.size() ? items_.takeAt(i) : nullptr; }
  Qt::Orientations expandingDirections() const override { return Qt::Horizontal | Qt::Vertical; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    int h = 0;
    for (int i = 0; i < items_.size(); ++i) h += i + 1 < items_.size() ? fixedHeight(items_[i], width) : bodyMinimum;
    return h;
  }
  QSize sizeHint() const override { return {400, heightForWidth(400)}; }
  QSize minimumSize() const override {
    int w = 0;
    for (auto* item : items_) w = std::max(w, item->minimumSize().width());
    return {w, 0};
  }
  void setGeometry(const QRect& r) override {
    QLayout::setGeometry(r);
    int y = r.top();
    for (int i = 0; i < items_.size(); ++i) {
      const bool body = i + 1 == items_.size();
      const int h = body ? std::max(bodyMinimum, r.bottom() + 1 - y) : fixedHeight(items_[i], r.width());
      items_[i]->setGeometry(QRect(r.left(), y, r.width(), h));
      y += h;
    }
  }

private:
  static int fixedHeight(QLayoutItem* item, int width) {
    if (item->hasHeightForWidth()) return std::max(item->heightForWidth(width), item->minimumSize().height());
    return std::max(item->sizeHint().height(), item->minimumSize().height());
  }
  QList<QLayoutItem*> items_;
};

}  // namespace

MessageReader::MessageReader(AppStore* store, std::shared_ptr<const OpenMessage> message, QWidget* parent)
    : ThemedWidget(parent), store_(store), message_(std::move(message)) {
  setObjectName(QStringLiteral("MessageReader"));
  root_ = new ReaderStack(this);
  build();
  if (store_) {
    connect(store_, &AppStore::allowImagesForChanged, this, [this] {
      if (message_->unreadable) return;
      refreshBody();
      // The images button leaves smoothly before the cards settle.
      SafetyNote* card = note(QStringLiteral("trackerNote"));
      VaultButton* button = card ? card->actionButton() : nullptr;
      if (button && imagesAllowed()) {
        QPointer<MessageReader> self(this);
        fadePiece(button, false, {0, motion(Motion::spring)}, [self] {
          if (self) self->rebuildNotes();
        });
        return;
      }
      rebuildNotes();
    });
  }
  connect(&DemoShowLinks::shared(), &DemoShowLinks::posted, this, [this] { setShowLinks(true); });
}

MessageReader::~MessageReader() {
  if (preview_) preview_->close();
  if (list_) list_->close();
}

bool MessageReader::imagesAllowed() const {
  return store_ && store_->allowImagesFor().contains(QString::fromStdString(message_->record.path));
}

bool MessageReader::showAuth() const { return trust_ && trust_->showAuth(); }

MessageReader::BodyInputs MessageReader::bodyOf(const OpenMessage& message, bool imagesAllowed) {
  const auto& parsed = message.parsed;
  if (parsed.htmlBody) {
    if (imagesAllowed)
      return {std::make_shared<const std::string>(HTMLInspector::prepareForDisplay(
                  *parsed.htmlBody, parsed.attachments, false, HTMLInspector::RemoteImages::allowed)),
              true, false, true};
    // The store prepares the blocked document with the checks, from the same parse.
    auto document = message.display ? message.display
                                    : std::make_shared<const std::string>(HTMLInspector::prepareForDisplay(
                                          *parsed.htmlBody, parsed.attachments, false,
                                          HTMLInspector::RemoteImages::placeholders));
    return {std::move(document), false, false, true};
  }
  return {std::make_shared<const std::string>(
              HTMLInspector::plainTextDocument(parsed.textBody ? *parsed.textBody : "(This message has no text.)")),
          false, true, false};
}

void MessageReader::build() {
  const OpenMessage& m = *message_;
  notesBox_ = nullptr;
  linkList_ = nullptr;
  trust_ = nullptr;
  label_ = new CatalogueLabel(store_, m, this);
  connect(label_->revealButton(), &QAbstractButton::clicked, this, [this] { reveal(); });
  root_->addWidget(label_);
  if (m.unreadable) {
    buildUnreadable();
    return;
  }

  header_ = new QWidget(this);
  auto* header = new QVBoxLayout(header_);
  header->setContentsMargins(24, 16, 24, 14);
  header->setSpacing(12);

  auto* subject = new SubjectText(m.parsed.subject.empty() ? QStringLiteral("(no subject)")
                                                           : QString::fromStdString(m.parsed.subject),
                                 header_);
  subject->setObjectName(QStringLiteral("subject"));
  header->addWidget(subject);

  // Sender row.
  auto* row = new QHBoxLayout;
  row->setSpacing(10);
  const MailAddress* from = m.parsed.from.empty() ? nullptr : &m.parsed.from.front();
  row->addWidget(new Monogram(from ? QString::fromStdString(from->name) : QString(),
                              from ? QString::fromStdString(from->email) : QString(), 30, header_),
                 0, Qt::AlignTop);
  auto* who = new QVBoxLayout;
  who->setSpacing(2);
  auto* name = themedLabel(from ? ReaderText::display(*from) : QStringLiteral("(unknown sender)"),
                           Theme::Font::headline(), Theme::ink, header_);
  name->setObjectName(QStringLiteral("senderName"));
  name->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QLabel* email = nullptr;
  if (from && !from->name.empty() && !from->email.empty()) {
    email = themedLabel(QString::fromStdString(from->email), mono(11),
                        m.senderFlags.empty() ? Theme::ink2 : Theme::caution, header_);
    email->setObjectName(QStringLiteral("senderEmail"));
    email->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  who->addWidget(new SenderLines(name, email, header_));
  auto addressLine = [&](const char* prefix, const std::vector<MailAddress>& list, const char* objectName) {
    if (list.empty()) return;
    QStringList names;
    for (const auto& a : list) names << ReaderText::display(a);
    auto* line = new TextBlock(QString::fromLatin1(prefix) + names.join(", "), header_);
    line->setObjectName(QString::fromLatin1(objectName));
    line->setTextFont(Theme::Font::callout());
    line->setColor(Theme::ink3);
    line->setMaxLines(1);
    who->addWidget(line);
  };
  addressLine("to ", m.parsed.to, "toLine");
  addressLine("cc ", m.parsed.cc, "ccLine");
  row->addLayout(who, 1);
  row->addSpacing(8);
  auto* right = new QVBoxLayout;
  right->setSpacing(4);
  auto* date = themedLabel(ReaderText::headerDate(m), mono(11), Theme::ink2, header_);
  date->setObjectName(QStringLiteral("date"));
  right->addWidget(date, 0, Qt::AlignRight);
  trust_ = new TrustLine(m, header_);
  right->addWidget(trust_, 0, Qt::AlignRight);
  right->addStretch();
  row->addLayout(right);
  header->addLayout(row);

  auto* notesHost = new QWidget(header_);
  notesBox_ = new QVBoxLayout(notesHost);
  notesBox_->setContentsMargins(0, 0, 0, 0);
  notesBox_->setSpacing(6);
  header->addWidget(notesHost);
  rebuildNotes();

  if (m.parsed.fileAttachmentCount() > 0) header->addWidget(attachmentRow());
  hairline(header_, Qt::BottomEdge, Theme::rule);
  root_->addWidget(header_);

  // The body view outlives a rebuild of the pieces above it: the same
  // document is not loaded again.
  if (!web_ && !plainBody_) {
    if (WebSandbox::refusesHere()) {
      plainBody_ = makePlainBody();
    } else {
      web_ = new MailWebView(this);
      web_->setMinimumHeight(120);
    }
  }
  root_->addWidget(web_ ? static_cast<QWidget*>(web_.data()) : plainBody_.data());
  refreshBody();
}

QWidget* MessageReader::makePlainBody() {
  // The engine would end the application: the text of the message, and
  // what to do to get the message view back. Note and text scroll as one,
  // so that on a short pane neither is cut.
  auto* host = new QScrollArea(this);
  host->setObjectName(QStringLiteral("plainBody"));
  host->setFrameShape(QFrame::NoFrame);
  host->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  host->setWidgetResizable(true);
  host->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
  auto* page = new QWidget(host);
  page->setAutoFillBackground(false);
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(24, 14, 24, 18);
  v->setSpacing(10);
  auto* note = new SafetyNote(SafetyNote::Tone::Caution, QStringLiteral("exclamationmark.triangle"), WebSandbox::title(),
                              WebSandbox::advice(), {}, std::nullopt, std::nullopt, page);
  note->setObjectName(QStringLiteral("sandboxNote"));
  v->addWidget(note);
  auto* text = new QLabel(page);
  text->setObjectName(QStringLiteral("plainText"));
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // A long unbroken line wraps at the pane instead of widening the page.
  text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  text->setFont(Theme::Font::system(14));
  followColor(text, Theme::ink);
  v->addWidget(text);
  v->addStretch(1);
  host->setWidget(page);
  return host;
}

void MessageReader::buildUnreadable() {
  // The file is gone or cannot be read: say so, in place of an empty header
  // and body, so that nothing looks like a message that was checked.
  const OpenMessage& m = *message_;
  const QString name = ReaderText::relativeName(QString::fromStdString(m.record.path));
  const QString reason = unreadableReason();
  auto* state = new VaultEmpty(QStringLiteral("exclamationmark.triangle"),
                               QStringLiteral("This message couldn’t be read"),
                               name + QStringLiteral("\n") + reason +
                                   QStringLiteral(". It may have been moved or deleted since the vault was scanned."),
                               {}, this);
  state->setObjectName(QStringLiteral("unreadable"));
  state->setAutoFillBackground(false);
  header_ = state;
  root_->addWidget(state);
}

QString MessageReader::unreadableReason() const {
  // Asked of the file system now, in its own words ("No such file or
  // directory", "Permission denied").
  const QString fallback = QStringLiteral("The file could not be read");
  if (!store_) return fallback;
  const auto file = store_->layout().resolve(message_->record.path);
  if (!file) return fallback;
  const int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
  ::close(fd);
  return fallback;
}

QWidget* MessageReader::attachmentRow() {
  const OpenMessage& m = *message_;
  auto* scroll = new QScrollArea(header_);
  scroll->setObjectName(QStringLiteral("attachments"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidgetResizable(true);
  scroll->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
  auto* strip = new QWidget(scroll);
  strip->setAutoFillBackground(false);
  auto* chips = new QHBoxLayout(strip);
  chips->setContentsMargins(0, 0, 0, 0);
  chips->setSpacing(8);
  // A chip is a handful of widgets: a message with thousands of parts gets
  // the first few chips and the rest in a list over a model. Every action
  // holds the message it points into, so a rebuild never leaves one dangling.
  int shown = 0;
  int total = 0;
  for (const auto& attachment : m.parsed.attachments) {
    if (m.parsed.isShownInBody(attachment)) continue;
    ++total;
    if (shown == kChipsShown) continue;
    ++shown;
    const MailAttachment* a = &attachment;
    chips->addWidget(new AttachmentChip(
        attachment, [this, keep = message_, a] { previewAttachment(*a, keep); },
        [this, keep = message_, a] { saveAttachment(*a); }, strip));
  }
  chips->addStretch();
  scroll->setWidget(strip);
  scroll->setFixedHeight(strip->sizeHint().height());
  if (total == shown) return scroll;
  // "and K more" stays in view at the row's end, whatever the chips need.
  auto* row = new QWidget(header_);
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(8);
  scroll->setParent(row);
  h->addWidget(scroll, 1);
  auto* more = new VaultButton(QStringLiteral("and ") + ReaderText::grouped(total - shown) + QStringLiteral(" more"),
                               VaultButtonStyle::Kind::Quiet, true, row);
  more->setObjectName(QStringLiteral("moreAttachments"));
  more->setFocusPolicy(Qt::StrongFocus);
  connect(more, &QAbstractButton::clicked, this, [this] { showAttachmentList(); });
  h->addWidget(more, 0, Qt::AlignVCenter);
  return row;
}

AttachmentListDialog* MessageReader::attachmentList() const { return list_.data(); }

void MessageReader::showAttachmentList() {
  if (list_) {
    list_->raise();
    list_->activateWindow();
    return;
  }
  list_ = new AttachmentListDialog(
      message_, [this](const MailAttachment& a, std::shared_ptr<const OpenMessage> keep) { previewAttachment(a, keep); },
      [this](const MailAttachment& a) { saveAttachment(a); }, this);
  list_->show();
}

QList<SafetyNote*> MessageReader::notes() const {
  QList<SafetyNote*> out;
  if (!notesBox_) return out;
  for (int i = 0; i < notesBox_->count(); ++i)
    if (auto* n = qobject_cast<SafetyNote*>(notesBox_->itemAt(i)->widget())) out << n;
  return out;
}

SafetyNote* MessageReader::note(const QString& name) const {
  // The cards in place now; replaced ones linger until deleted.
  for (SafetyNote* n : notes())
    if (n->objectName() == name) return n;
  return nullptr;
}

QList<AttachmentChip*> MessageReader::chips() const { return findChildren<AttachmentChip*>(); }

void MessageReader::rebuildNotes() {
  if (!notesBox_) return;
  while (QLayoutItem* item = notesBox_->takeAt(0)) {
    if (QWidget* w = item->widget()) {
      w->hide();
      w->deleteLater();
    }
    delete item;
  }
  linkList_ = nullptr;
  const OpenMessage& m = *message_;
  const QStringList reasons = ReaderText::senderReasons(m);
  if (!reasons.isEmpty()) {
    auto* card = new SafetyNote(m.trust == SenderTrust::failed ? SafetyNote::Tone::Danger : SafetyNote::Tone::Caution,
                                QStringLiteral("person.crop.circle.badge.questionmark"),
                                QStringLiteral("This may not be who it says"), std::nullopt, reasons, std::nullopt,
                                std::nullopt, this);
    card->setObjectName(QStringLiteral("senderNote"));
    card->setProperty("demoAnchor", QStringLiteral("senderNote"));
    notesBox_->addWidget(card);
  }
  const auto& warnings = m.report.linkWarnings;
  if (!warnings.empty()) {
    auto* card = new SafetyNote(
        SafetyNote::Tone::Caution, QStringLiteral("link"), ReaderText::linksTitle(int(warnings.size())),
        QStringLiteral("The text shows one website but the link opens another."), {},
        SafetyNote::Action{showLinks_ ? QStringLiteral("Hide") : QStringLiteral("Show"),
                           [this] { QMetaObject::invokeMethod(this, [this] { setShowLinks(!showLinks_); }, Qt::QueuedConnection); }},
        QStringLiteral("bannerAction"), this);
    card->setObjectName(QStringLiteral("linksNote"));
    notesBox_->addWidget(card);
    if (showLinks_) {
      linkList_ = new QWidget(this);
      linkList_->setObjectName(QStringLiteral("linkList"));
      auto* list = new QVBoxLayout(linkList_);
      list->setContentsMargins(38, 0, 0, 0);
      list->setSpacing(4);
      for (const auto& w : warnings) {
        auto* line = new QHBoxLayout;
        line->setSpacing(6);
        auto* shown = themedLabel(QString::fromStdString(w.shownDomain), mono(11), Theme::ink3, linkList_);
        QFont struck = shown->font();
        struck.setStrikeOut(true);
        shown->setFont(struck);
        line->addWidget(shown);
        auto* arrow = new QLabel(linkList_);
        followAppearance(arrow, [arrow] {
          arrow->setPixmap(
              Icons::pixmap(QStringLiteral("arrow.right"), 11, Theme::ink3.resolved(), arrow->devicePixelRatioF()));
        });
        line->addWidget(arrow);
        line->addWidget(themedLabel(MailWebView::displayHost(w.actualHost), mono(11, QFont::DemiBold), Theme::danger,
                                    linkList_));
        line->addStretch();
        list->addLayout(line);
      }
      notesBox_->addWidget(linkList_);
    }
  }
  const auto& report = m.report;
  if (report.trackerCount > 0 || report.remoteImageCount > 0) {
    const auto text = ReaderText::trackerCard(report);
    std::optional<SafetyNote::Action> action;
    if (report.remoteImageCount >= 1 && !imagesAllowed())
      action = SafetyNote::Action{ReaderText::showImagesTitle(report.remoteImageCount), [this] {
                                    QMetaObject::invokeMethod(this, [this] { allowImages(); }, Qt::QueuedConnection);
                                  }};
    auto* card = new SafetyNote(SafetyNote::Tone::Shield, QStringLiteral("eye.slash"), text.title, text.text, {}, action,
                                QStringLiteral("loadImages"), this);
    card->setObjectName(QStringLiteral("trackerNote"));
    card->setProperty("demoAnchor", QStringLiteral("trackerChip"));
    card->setToolTip(PlatformText::localize(QStringLiteral("Load remote pictures with ⇧⌘L. Tracking pixels stay blocked."))
                         .toHtmlEscaped());
    notesBox_->addWidget(card);
  }
  notesBox_->parentWidget()->setVisible(notesBox_->count() > 0);
}

void MessageReader::setShowLinks(bool on) {
  if (showLinks_ == on) return;
  showLinks_ = on;
  if (on || !linkList_) {
    rebuildNotes();
    if (linkList_) fadePiece(linkList_, true, ReaderTransition::linkList());
    return;
  }
  // The list leaves first; the cards are rebuilt once it is gone.
  if (SafetyNote* card = note(QStringLiteral("linksNote")); card && card->actionButton())
    card->actionButton()->setText(QStringLiteral("Show"));
  QPointer<MessageReader> self(this);
  fadePiece(linkList_, false, ReaderTransition::linkList(), [self] {
    if (self && !self->showLinks_) self->rebuildNotes();
  });
}

void MessageReader::allowImages() {
  if (store_) store_->allowImages(QString::fromStdString(message_->record.path));
}

void MessageReader::refreshBody() {
  if (plainBody_) {
    auto* text = plainBody_->findChild<QLabel*>(QStringLiteral("plainText"));
    const std::string plain = message_->parsed.plainText();
    text->setText(QString::fromStdString(plain.empty() ? "(This message has no text.)" : plain));
    return;
  }
  if (!web_) return;
  // Preparing a large body (inlined images) takes seconds: it runs on a
  // worker, and only the newest request reaches the web view.
  const quint64 generation = ++bodyGeneration_;
  QPointer<MessageReader> self(this);
  std::shared_ptr<const OpenMessage> message = message_;
  const bool allowed = imagesAllowed();
  QThreadPool::globalInstance()->start([self, generation, message, allowed] {
    auto body = std::make_shared<BodyInputs>(bodyOf(*message, allowed));
    QMetaObject::invokeMethod(qApp, [self, generation, message, body] {
      if (!self || generation != self->bodyGeneration_ || !self->web_) return;
      self->web_->update(body->html, body->allowRemote, body->transparent,
                         body->isHTML ? message->report.linkWarnings : std::vector<LinkWarning>{});
    }, Qt::QueuedConnection);
  });
}

namespace {

// Whether two values of one path show the same thing; the store publishes
// the same message again after every rescan.
bool showsSame(const OpenMessage& a, const OpenMessage& b) {
  return a.unreadable == b.unreadable && a.record == b.record &&
         a.fileSize == b.fileSize && a.copy == b.copy && a.trust == b.trust && a.authResults == b.authResults &&
         a.replyTo == b.replyTo && a.senderFlags == b.senderFlags && a.report == b.report &&
         a.parsed.root == b.parsed.root;
}

}  // namespace

void MessageReader::setMessage(std::shared_ptr<const OpenMessage> message) {
  // Same path again: nothing changes unless what it shows changed, and then
  // only the pieces above the body are made again, with the view state kept
  // (links list, provider popover, preview); the body reloads only when its
  // document changed.
  if (showsSame(*message_, *message)) return;
  const bool auth = showAuth();
  message_ = std::move(message);
  while (QLayoutItem* item = root_->takeAt(0)) {
    QWidget* w = item->widget();
    if (w && w != web_ && w != plainBody_) {
      w->hide();
      w->deleteLater();
    }
    delete item;
  }
  if (message_->unreadable) {
    for (QWidget* body : {static_cast<QWidget*>(web_), plainBody_.data()}) {
      if (!body) continue;
      body->hide();
      body->deleteLater();
    }
    web_ = nullptr;
    plainBody_ = nullptr;
  }
  build();
  if (auth && trust_) trust_->setShowAuth(true);
}

void MessageReader::previewAttachment(const MailAttachment& attachment, std::shared_ptr<const OpenMessage> owner) {
  quickLookURL_ = AttachmentFiles::temporaryURL(attachment, message_->record.path);
  if (preview_) preview_->close();
  if (!quickLookURL_) return;
  // The dialog outlives a new value of this message: its Save… keeps the
  // message it saves from.
  const MailAttachment* a = &attachment;
  if (!owner) owner = message_;
  preview_ = new PreviewDialog(QString::fromStdString(quickLookURL_->string()),
                               [this, owner, a] { saveAttachment(*a); }, this);
  connect(preview_, &QObject::destroyed, this, [this] { quickLookURL_.reset(); });
  preview_->show();
}

void MessageReader::saveAttachment(const MailAttachment& attachment) {
  const auto name = AttachmentFiles::save(attachment, this);
  if (name && store_)
    store_->showToast(QStringLiteral("Saved “") + *name + QStringLiteral("”"), QStringLiteral("arrow.down.circle.fill"),
                      Theme::seal);
}

void MessageReader::reveal() {
  // The message on screen, not whatever the list selects by now.
  if (!store_) return;
  try {
    RevealFile::reveal(QString::fromStdString(store_->layout().url(message_->record.path).string()));
  } catch (const std::exception&) {
  }
}

// ---- Reader view ---------------------------------------------------------------

bool ReaderView::openGLAvailable() {
  // Only where the platform draws windows through GL. The offscreen one can
  // still make GL contexts when an X display is around, yet a GL widget
  // there ends the process at the window's first paint.
  static const bool available = [] {
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland")) &&
        platform != QLatin1String("eglfs"))
      return false;
    QOpenGLContext probe;
    return probe.create();
  }();
  return available;
}

ReaderView::ReaderView(AppStore* store, QWidget* parent) : ThemedWidget(parent), store_(store) {
  // The bodies' web views draw through OpenGL. A window that gains its first
  // child of that kind after it is shown is destroyed and made again: it
  // flashes and jumps back to where it first opened. One such child from the
  // start (never shown) makes the window ready for them before it appears.
  if (openGLAvailable()) (new QOpenGLWidget(this))->hide();
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(0);
  if (store_) {
    connect(store_, &AppStore::openMessageChanged, this, &ReaderView::sync);
    connect(store_, &AppStore::visibleChanged, this, [this] {
      if (!reader_) showEmpty();
    });
  }
  sync();
}

void ReaderView::sync() { present(store_ ? store_->openMessageShared() : nullptr); }

void ReaderView::present(std::shared_ptr<const OpenMessage> message) {
  if (!message) {
    showEmpty();
    return;
  }
  if (reader_ && reader_->message().record.path == message->record.path) {
    reader_->setMessage(std::move(message));
    return;
  }
  const QPixmap leaving = snapshot();
  if (empty_) {
    empty_->hide();
    empty_->deleteLater();
    layout_->removeWidget(empty_);
    empty_ = nullptr;
  }
  if (reader_) {
    layout_->removeWidget(reader_);
    reader_->hide();
    reader_->deleteLater();
  }
  reader_ = new MessageReader(store_, std::move(message), this);
  layout_->addWidget(reader_);
  PaneTransition::play(this, layout_, leaving, ReaderTransition::reader());
}

QPixmap ReaderView::snapshot() const {
  // What the pane shows now, for the transition to fade out.
  if (!isVisible() || Motion::isInstant()) return {};
  QWidget* shown = reader_ ? static_cast<QWidget*>(reader_) : empty_;
  return shown ? shown->grab() : QPixmap();
}

PaneTransition* ReaderView::transition() const {
  return findChild<PaneTransition*>(QString(), Qt::FindDirectChildrenOnly);
}

void ReaderView::showEmpty() {
  const bool offersNewest = store_ && !store_->visible().empty();
  // The list changes on every key typed into the search; the empty state
  // only when the list comes to have rows or to have none.
  if (!reader_ && empty_ && emptyOffersNewest_ == offersNewest) return;
  const bool wasReader = reader_ != nullptr;
  const QPixmap leaving = wasReader ? snapshot() : QPixmap();
  if (reader_) {
    layout_->removeWidget(reader_);
    reader_->hide();
    reader_->deleteLater();
    reader_ = nullptr;
  }
  if (empty_) {
    layout_->removeWidget(empty_);
    empty_->hide();
    empty_->deleteLater();
  }
  QList<QWidget*> actions;
  emptyOffersNewest_ = offersNewest;
  if (offersNewest) {
    auto* open = new VaultButton(QStringLiteral("Open the Newest"), VaultButtonStyle::Kind::Secondary, false);
    open->setObjectName(QStringLiteral("openNewest"));
    connect(open, &QAbstractButton::clicked, this, [this] {
      if (!store_ || store_->visible().empty()) return;
      store_->setSelectedPath(QString::fromStdString(store_->visible().front()->path));
      store_->openSelected();
    });
    actions << open;
  }
  empty_ = new VaultEmpty(QStringLiteral("envelope.open"), QStringLiteral("Pick a message"),
                          QStringLiteral("Messages open here with remote images and trackers switched off."), actions,
                          this);
  layout_->addWidget(empty_);
  if (wasReader) PaneTransition::play(this, layout_, leaving, ReaderTransition::emptyState());
}

void ReaderView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::panel.resolved());
}

} // namespace bx
