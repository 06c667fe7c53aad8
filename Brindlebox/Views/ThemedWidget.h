#pragma once

#include <QWidget>

namespace bx {

// Base of the pieces that paint themselves from theme colours: repaints on a
// change of the appearance or of Reduce Motion.
class ThemedWidget : public QWidget {
  Q_OBJECT
public:
  explicit ThemedWidget(QWidget* parent = nullptr);
};

} // namespace bx
