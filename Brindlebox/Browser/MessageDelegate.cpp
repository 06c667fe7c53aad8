#include "Browser/MessageDelegate.h"

#include "Browser/MonthListModel.h"
#include "Browser/MonthNames.h"
#include "Theme/Icons.h"
#include "Theme/Shapes.h"
#include "Theme/Theme.h"
#include "Views/Monogram.h"

#include <QLocale>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace bx {

namespace {

QFont senderFont() { return Theme::Font::weighted(Theme::Font::body(), QFont::DemiBold); }
QFont glyphFont() { return Theme::Font::system(10.5, QFont::Medium); }
QFont dateFont() { return Theme::Font::system(10.5, QFont::Normal, true); }
QFont subjectFont() { return Theme::Font::system(12.5); }
QFont snippetFont() { return Theme::Font::callout(); }
QFont yearFont() { return Theme::Font::system(15, QFont::Normal, true); }
QFont headerCountFont() { return Theme::Font::system(10.5, QFont::Medium, true); }

int lineHeight(const QFont& f) { return QFontMetrics(f).height(); }
int firstLineHeight() {
  return std::max({lineHeight(senderFont()), lineHeight(dateFont()), lineHeight(glyphFont())});
}

constexpr int outerPad = 8;   // between the list's edge and the tinted shape
constexpr int padH = 12;
constexpr int padV = 8;
constexpr int monogramSide = 24;

QString qs(const std::string& s) { return QString::fromStdString(s); }

} // namespace

MessageDelegate::MessageDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

int MessageDelegate::rowHeight() {
  static const int h = padV + firstLineHeight() + 2 + lineHeight(subjectFont()) + 2 + lineHeight(snippetFont()) + padV;
  return h;
}

int MessageDelegate::headerHeight() {
  static const int h = 20 + std::max(lineHeight(Theme::Font::month()), lineHeight(yearFont())) + 8 + 4;
  return h;
}

QSize MessageDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  // A layout of the list asks this of every row: the model answers from its
  // item table, where a role would box the answer in a variant.
  const auto* model = qobject_cast<const MonthListModel*>(index.model());
  const bool header = model ? model->isHeader(index.row())
                            : index.data(MonthListModel::KindRole).toInt() == int(MonthListModel::ItemKind::Header);
  return QSize(option.rect.width() > 0 ? option.rect.width() : 400, header ? headerHeight() : rowHeight());
}

QString MessageDelegate::subjectText(const MessageRecord& r) {
  return r.subject.empty() ? QStringLiteral("(no subject)") : qs(r.subject);
}

QString MessageDelegate::snippetText(const MessageRecord& r) {
  // An empty snippet keeps its line.
  return r.snippet.empty() ? QStringLiteral(" ") : qs(r.snippet);
}

QString MessageDelegate::dateText(const MessageRecord& r) { return Fmt::rowDate(r.date); }

QList<MessageDelegate::Glyph> MessageDelegate::glyphs(const MessageRecord& r) {
  QList<Glyph> out;
  if (r.isSuspicious()) out.push_back({QStringLiteral("exclamationmark.shield"), QStringLiteral("Needs a second look"), true});
  if (r.trackers >= 1)
    out.push_back({QStringLiteral("eye.slash"),
                   QString::number(r.trackers) + QStringLiteral(" tracker") +
                       (r.trackers == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" blocked"),
                   false});
  if (r.attachments >= 1)
    out.push_back({QStringLiteral("paperclip"),
                   QString::number(r.attachments) + QStringLiteral(" attachment") +
                       (r.attachments == 1 ? QString() : QStringLiteral("s")),
                   false});
  return out;
}

QString MessageDelegate::headerCountWord(int count) {
  return count == 1 ? QStringLiteral(" message") : QStringLiteral(" messages");
}

QString MessageDelegate::elided(const QString& text, const QFont& font, int width) {
  // One line: line breaks inside a subject or name would otherwise be drawn
  // as boxes or break the row.
  QString line = text;
  for (QChar& c : line)
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      c = QLatin1Char(' ');
  return QFontMetrics(font).elidedText(line, Qt::ElideRight, std::max(width, 0));
}

void MessageDelegate::drawLine(QPainter& p, const QRect& rect, int baseline, const QString& text, const QFont& font,
                               const QColor& color) {
  if (rect.width() <= 0) return;
  const QString shown = elided(text, font, rect.width());
  QTextLayout layout(shown, font);
  QTextOption opt;
  // The text's own direction: an Arabic subject reads right to left and
  // keeps to the row's leading edge.
  opt.setTextDirection(shown.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
  opt.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
  opt.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(opt);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (!line.isValid()) {
    layout.endLayout();
    return;
  }
  line.setLineWidth(rect.width());
  layout.endLayout();
  p.save();
  p.setPen(color);
  p.setClipRect(rect.adjusted(0, -4, 0, 4), Qt::IntersectClip);
  line.draw(&p, QPointF(rect.left(), baseline - line.ascent()));
  p.restore();
}

MessageDelegate::RowLayout MessageDelegate::rowLayout(const QRect& item, const MessageRecord& record) {
  RowLayout l;
  l.background = item.adjusted(outerPad, 0, -outerPad, 0);
  l.bar = QRect(l.background.left(), l.background.top() + 8, 3, std::max(0, l.background.height() - 16));
  const QRect content = l.background.adjusted(padH, padV, -padH, -padV);
  l.monogram = QRect(content.left(), content.top() + 1, monogramSide, monogramSide);
  const int textLeft = content.left() + monogramSide + 10;
  const int right = content.right() + 1;
  const int h1 = firstLineHeight();
  const int y1 = content.top();

  const int dateW = QFontMetrics(dateFont()).horizontalAdvance(dateText(record));
  l.date = QRect(right - dateW, y1, dateW, h1);
  int x = l.date.left();
  const QList<Glyph> gs = glyphs(record);
  if (!gs.isEmpty()) {
    const int box = int(std::ceil(Icons::boxSize(10.5)));
    const int groupW = int(gs.size()) * box + (int(gs.size()) - 1) * 5;
    x -= 6 + groupW;
    l.glyphs = QRect(x, y1, groupW, h1);
    for (int i = 0; i < gs.size(); ++i)
      l.glyphTips.push_back({QRect(x + i * (box + 5), y1 + (h1 - box) / 2, box, box), gs[i].tooltip});
  }
  // The sender takes what the date and glyphs leave, less the spacer's
  // minimum of 6.
  l.sender = QRect(textLeft, y1, std::max(0, x - 6 - textLeft), h1);
  const int y2 = y1 + h1 + 2;
  l.subject = QRect(textLeft, y2, std::max(0, right - textLeft), lineHeight(subjectFont()));
  const int y3 = y2 + l.subject.height() + 2;
  l.snippet = QRect(textLeft, y3, std::max(0, right - textLeft), lineHeight(snippetFont()));
  return l;
}

void MessageDelegate::paintRow(QPainter& p, const QRect& item, const MessageRecord& r, double selected,
                               double hover) {
  const RowLayout l = rowLayout(item, r);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal opacity = p.opacity();
  // The selection covers the hover tint: hovering a selected row leaves it
  // as it is.
  if (hover * (1 - selected) > 0) {
    p.setOpacity(opacity * hover * (1 - selected));
    p.fillPath(Shapes::roundedRect(l.background, 8), Theme::hover.resolved());
  }
  if (selected > 0) {
    p.setOpacity(opacity * selected);
    p.fillPath(Shapes::roundedRect(l.background, 8), Theme::selection.resolved());
    p.fillPath(Shapes::capsule(l.bar), Theme::focus.resolved());
  }
  p.setOpacity(opacity);

  // Monogram: the same drawing as the shared piece.
  const QRectF m(l.monogram);
  p.fillPath(Shapes::roundedRect(m, monogramSide * 0.26), Theme::hover.resolved());
  Shapes::strokeInside(p, m, monogramSide * 0.26, Theme::rule.resolved(), 1);
  p.setFont(Theme::Font::system(monogramSide * 0.36, QFont::DemiBold, true));
  p.setPen(Theme::ink2.resolved());
  p.drawText(m, Qt::AlignCenter, Monogram::initials(qs(r.fromName), qs(r.fromEmail)));

  const int base1 = l.sender.top() + QFontMetrics(senderFont()).ascent() +
                    (l.sender.height() - QFontMetrics(senderFont()).height()) / 2;
  drawLine(p, l.sender, base1, qs(r.fromDisplay()), senderFont(), Theme::ink.resolved());
  const QList<Glyph> gs = glyphs(r);
  for (int i = 0; i < gs.size(); ++i)
    Icons::paint(p, l.glyphTips[i].first, gs[i].symbol, (gs[i].caution ? Theme::caution : Theme::ink3).resolved());
  p.setFont(dateFont());
  p.setPen(Theme::ink3.resolved());
  p.drawText(QPointF(l.date.left(), base1), dateText(r));

  drawLine(p, l.subject, l.subject.top() + QFontMetrics(subjectFont()).ascent(), subjectText(r), subjectFont(),
           Theme::ink.resolved());
  drawLine(p, l.snippet, l.snippet.top() + QFontMetrics(snippetFont()).ascent(), snippetText(r), snippetFont(),
           Theme::ink2.resolved());
}

void MessageDelegate::paintHeader(QPainter& p, const QRect& item, const MonthGroup& group) {
  p.setRenderHint(QPainter::Antialiasing);
  const QRect padded = item.adjusted(0, 0, 0, -4);
  const QRect content = padded.adjusted(20, 20, -20, -8);
  const QFont month = Theme::Font::month();
  const QFontMetrics mm(month), ym(yearFont());
  const int baseline = content.top() + std::max(mm.ascent(), ym.ascent());
  const QString name = MonthNames::full(group.key.month);
  p.setFont(month);
  p.setPen(Theme::ink.resolved());
  p.drawText(QPointF(content.left(), baseline), name);
  p.setFont(yearFont());
  p.setPen(Theme::ink3.resolved());
  p.drawText(QPointF(content.left() + mm.horizontalAdvance(name) + 8, baseline), QString::number(group.key.year));

  const int n = int(group.records.size());
  const QString number = QLocale().toString(n);
  const QString word = headerCountWord(n);
  const QFontMetrics cm(headerCountFont()), wm(Theme::Font::caption());
  const int w = cm.horizontalAdvance(number) + wm.horizontalAdvance(word);
  const int x = content.right() + 1 - w;
  p.setFont(headerCountFont());
  p.setPen(Theme::ink2.resolved());
  p.drawText(QPointF(x, baseline), number);
  p.setFont(Theme::Font::caption());
  p.setPen(Theme::ink3.resolved());
  p.drawText(QPointF(x + cm.horizontalAdvance(number), baseline), word);

  p.fillRect(QRect(padded.left(), padded.bottom(), padded.width(), 1), Theme::rule.resolved());
}

void MessageDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* model = qobject_cast<const MonthListModel*>(index.model());
  if (!model) return;
  painter->save();
  if (const MessageRecord* r = model->recordAt(index.row())) {
    paintRow(*painter, option.rect, *r, selectLevel(index.row()), hoverLevel(index.row()));
  } else if (const MonthGroup* g = model->groupAt(index.row())) {
    paintHeader(*painter, option.rect, *g);
  }
  painter->restore();
}

} // namespace bx
