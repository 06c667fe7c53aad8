#pragma once

#include <QDialog>

#include <functional>

namespace bx {

// The in-app preview of a file: images, text and PDF are drawn here; any
// other kind shows its name, size and a Save… button. It never hands the
// file to another program. Escape closes it.
class PreviewDialog : public QDialog {
  Q_OBJECT
public:
  enum class Kind { Image, Text, Pdf, Other };

  PreviewDialog(const QString& path, std::function<void()> save, QWidget* parent = nullptr);

  QString path() const { return path_; }
  Kind kind() const { return kind_; }
  static Kind kindOf(const QString& path);

private:
  QString path_;
  Kind kind_;
};

} // namespace bx
