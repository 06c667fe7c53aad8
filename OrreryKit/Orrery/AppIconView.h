#pragma once

#include <QWidget>

namespace orrery {

// The application's icon as a square of the given side, with a soft shadow.
class AppIconView : public QWidget {
  Q_OBJECT
public:
  explicit AppIconView(int size, QWidget* parent = nullptr);

protected:
  void paintEvent(QPaintEvent*) override;

private:
  int side_;
};

} // namespace orrery
