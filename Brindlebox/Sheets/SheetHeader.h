#pragma once

#include "Views/ThemedWidget.h"

#include <QPointer>
#include <QString>
#include <optional>

class QHBoxLayout;
class QVBoxLayout;

namespace bx {

class SmallCaps;
class TextBlock;

// The title block at the top of a modal sheet: an upper-case eyebrow, the
// title, an optional explanation that wraps to as many lines as it needs,
// and a view of the sheet's own choice on the right, aligned to the top.
// A hairline closes it off from the sheet's body.
class SheetHeader : public ThemedWidget {
  Q_OBJECT
public:
  SheetHeader(const QString& eyebrow, const QString& title,
              const std::optional<QString>& subtitle = std::nullopt,
              QWidget* trailing = nullptr, QWidget* parent = nullptr);

  QString eyebrow() const;
  QString title() const;
  std::optional<QString> subtitle() const;
  QWidget* trailing() const { return trailing_; }

  void setTitle(const QString& title);
  void setSubtitle(const std::optional<QString>& subtitle);
  // Replaces the trailing view (the old one is deleted); nullptr leaves the
  // right side empty.
  void setTrailing(QWidget* trailing);

  SmallCaps* eyebrowView() const { return eyebrow_; }
  TextBlock* titleView() const { return title_; }
  // Null while there is no subtitle: no line is reserved for it.
  TextBlock* subtitleView() const { return subtitle_; }

private:
  QHBoxLayout* row_ = nullptr;
  QVBoxLayout* text_ = nullptr;
  SmallCaps* eyebrow_ = nullptr;
  TextBlock* title_ = nullptr;
  TextBlock* subtitle_ = nullptr;
  QPointer<QWidget> trailing_;
};

} // namespace bx
