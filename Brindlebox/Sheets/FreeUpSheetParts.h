#pragma once
// Small pieces the free-up and backup ledger sheets share: the title block
// over their bodies, the small indeterminate spinner, a label-leader-value
// row and a caution note that can be rebuilt with new texts.
#include "Theme/AnimatedValue.h"
#include "Theme/ThemeColor.h"
#include "Views/SafetyNote.h"
#include "Views/ThemedWidget.h"

#include <QFont>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <optional>

class QHBoxLayout;
class QVBoxLayout;

namespace bx {

class TextBlock;

class SymbolView;

// A text block in the sheets' style: the font, the colour and, when above
// zero, a line limit.
TextBlock* sheetText(const QString& text, const QFont& font, const ThemeColor& color, QWidget* parent,
                     int maxLines = 0);

// The small indeterminate progress wheel.
class SmallSpinner : public ThemedWidget {
  Q_OBJECT
public:
  explicit SmallSpinner(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {16, 16}; }

protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

private:
  QTimer timer_;
  int step_ = 0;
};

// label · · · · · value, on the first baseline.
class LeaderRow : public ThemedWidget {
  Q_OBJECT
public:
  LeaderRow(const QString& label, const QFont& labelFont, const ThemeColor& labelColor, QWidget* parent = nullptr);
  void setValue(const QString& value, const QFont& font, const ThemeColor& color);
  QString value() const;
  ThemeColor valueColor() const;
  TextBlock* labelBlock() const { return label_; }
  TextBlock* valueBlock() const { return value_; }

private:
  TextBlock* label_;
  TextBlock* value_;
};

// A whole number with digit grouping whose changed digits roll when it
// changes on screen: the old ones rise and fade as the new ones come up from
// below (the other way round for a smaller number).
class RollingCount : public ThemedWidget {
  Q_OBJECT
public:
  RollingCount(const QFont& font, const ThemeColor& color, QWidget* parent = nullptr);
  void setValue(std::int64_t value);
  QString text() const { return text_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QFont font_;
  ThemeColor color_;
  std::optional<std::int64_t> value_;
  QString text_;
  QString old_;
  bool up_ = true;
  AnimatedValue roll_;
};

// A slot holding at most one SafetyNote, rebuilt only when its texts change.
class NoteSlot : public QWidget {
  Q_OBJECT
public:
  explicit NoteSlot(QWidget* parent = nullptr);
  void show(SafetyNote::Tone tone, const QString& symbol, const QString& title, const QString& text);
  void clear();
  SafetyNote* note() const { return note_; }
  QString title() const { return title_; }
  QString text() const { return text_; }

private:
  QVBoxLayout* layout_;
  SafetyNote* note_ = nullptr;
  QString title_, text_;
};

}  // namespace bx
