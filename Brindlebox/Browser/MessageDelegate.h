#pragma once

#include <QHash>
#include <QStyledItemDelegate>
#include <QRect>

namespace bx {

class MonthListModel;
struct MessageRecord;
struct MonthGroup;

// Paints the message list: month headers ("March 2024 … 12 messages" over a
// rule) and three-line message rows (monogram, sender, glyphs, date;
// subject; snippet). Every text from a message is drawn as plain text in
// its own direction, cut with an ellipsis where the room ends. Rows and
// headers each have one fixed height, so the list lays out without
// measuring every item.
class MessageDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  explicit MessageDelegate(QObject* parent = nullptr);

  static int rowHeight();
  static int headerHeight();

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The pieces of a row for a record in an item rectangle, for painting,
  // tooltips and tests.
  struct RowLayout {
    QRect background;   // tinted shape, 8 px in from the list's edges
    QRect bar;          // selection bar
    QRect monogram;
    QRect sender;       // the room the sender's name may take
    QRect glyphs;       // the glyph group, empty when there are none
    QRect date;
    QRect subject;
    QRect snippet;
    QList<QPair<QRect, QString>> glyphTips;  // each glyph's rectangle and tooltip
  };
  static RowLayout rowLayout(const QRect& item, const MessageRecord& record);

  // Texts as the row shows them.
  static QString subjectText(const MessageRecord& r);
  static QString snippetText(const MessageRecord& r);
  static QString dateText(const MessageRecord& r);
  struct Glyph {
    QString symbol;
    QString tooltip;
    bool caution;
  };
  static QList<Glyph> glyphs(const MessageRecord& r);
  // "12 messages" of a header.
  static QString headerCountWord(int count);

  // Draws `text` as plain text in `rect` (one line, vertically on
  // `baseline`), in the text's own direction, elided at the end.
  static void drawLine(QPainter& p, const QRect& rect, int baseline, const QString& text, const QFont& font,
                       const QColor& color);
  // What drawLine shows of `text` in `width`.
  static QString elided(const QString& text, const QFont& font, int width);

  static void paintHeader(QPainter& p, const QRect& item, const MonthGroup& group);
  // `selected` and `hover` say how far each look is shown (0…1), so that
  // both can ease in and out.
  static void paintRow(QPainter& p, const QRect& item, const MessageRecord& record, double selected, double hover);

  // Whether the mouse is over the item (the view tells the delegate).
  void setHoverRow(int row) { hoverRow_ = row; }
  int hoverRow() const { return hoverRow_; }
  void setSelectedRow(int row) { selectedRow_ = row; }
  int selectedRow() const { return selectedRow_; }

  // Rows whose hover or selection look is easing in or out, with how far it
  // is shown; every other row shows its state in full.
  QHash<int, double>& hoverFades() { return hoverFades_; }
  QHash<int, double>& selectFades() { return selectFades_; }
  double hoverLevel(int row) const { return hoverFades_.value(row, row == hoverRow_ ? 1.0 : 0.0); }
  double selectLevel(int row) const { return selectFades_.value(row, row == selectedRow_ ? 1.0 : 0.0); }

private:
  int hoverRow_ = -1;
  int selectedRow_ = -1;
  QHash<int, double> hoverFades_;
  QHash<int, double> selectFades_;
};

} // namespace bx
