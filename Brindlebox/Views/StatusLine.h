#pragma once

#include "Theme/ThemeColor.h"
#include "Views/ThemedWidget.h"

#include <QFont>
#include <QMargins>

class QHBoxLayout;

namespace bx {

class TextBlock;

// A lead mark (a symbol or a numeral) beside a title over a detail line.
// Widgets that follow the texts on the same row (a button) go into `row()`.
class StatusLine : public ThemedWidget {
  Q_OBJECT
public:
  struct Style {
    QMargins margins;
    int spacing = 8;      // between the lead and the texts
    int lineSpacing = 1;  // between the title and the detail
    Qt::Alignment leadAlignment = Qt::AlignVCenter;
    QFont titleFont;
    ThemeColor titleColor;
    QFont detailFont;
    ThemeColor detailColor;
    // 1: each text keeps to one line, cut where the room ends; 0: they wrap.
    int maxLines = 0;
  };

  StatusLine(QWidget* lead, const Style& style, const QString& title = {}, const QString& detail = {},
             QWidget* parent = nullptr);

  QWidget* lead() const { return lead_; }
  TextBlock* title() const { return title_; }
  TextBlock* detail() const { return detail_; }
  QHBoxLayout* row() const { return row_; }

  // The width that shows the lead and both texts whole, margins included.
  int idealWidth() const;

private:
  QWidget* lead_;
  TextBlock* title_;
  TextBlock* detail_;
  QHBoxLayout* row_;
  Style style_;
};

} // namespace bx
