#pragma once

#include "Store/ProviderPreset.h"
#include "Theme/AnimatedValue.h"

#include <QAbstractButton>

namespace bx {

class SymbolView;

// One provider tile of the add-account wizard: icon tile, name, host (or
// "any IMAP server"), the requirement line and a chevron that brightens on
// hover. The whole rounded rectangle is the hit area.
class ProviderCard : public QAbstractButton {
  Q_OBJECT
public:
  ProviderCard(const ProviderPreset& preset, bool selected, QWidget* parent = nullptr);

  const ProviderPreset& preset() const { return preset_; }
  bool isSelected() const { return selected_; }
  bool isHovered() const { return hover_; }
  void setHovered(bool hover);

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void focusInEvent(QFocusEvent*) override;
  void focusOutEvent(QFocusEvent*) override;
  void keyPressEvent(QKeyEvent*) override;

private:
  ProviderPreset preset_;
  bool selected_;
  bool hover_ = false;
  bool pointerInside_ = false;
  bool keyboardFocus_ = false;
  AnimatedValue hoverT_;
  SymbolView* chevron_ = nullptr;
};

} // namespace bx
