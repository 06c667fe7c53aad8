#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

namespace orrery {

class Updater;

// The content of the "Software Update" window: follows the updater's phase
// live (title, detail, buttons).
class UpdateView : public QWidget {
  Q_OBJECT
public:
  explicit UpdateView(Updater& updater, QWidget* parent = nullptr);

  // The window's identifier with the window host.
  static constexpr const char* windowId = "update";

private:
  void refresh();
  QLabel* addText(const QString& text, int pixelSize, const QColor& color, const char* name);
  void addButton(const QString& text, bool isDefault, const std::function<void()>& action);

  Updater& updater_;
  QLabel* title_ = nullptr;
  QWidget* detail_ = nullptr;
  QVBoxLayout* detailLayout_ = nullptr;
  QWidget* buttons_ = nullptr;
  QHBoxLayout* buttonLayout_ = nullptr;
  // The button that Return presses, wherever the focus is in the window.
  QPointer<QPushButton> defaultButton_;
};

} // namespace orrery
