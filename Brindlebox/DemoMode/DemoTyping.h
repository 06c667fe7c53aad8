#pragma once
// The confirmation phrase the demo and screenshot scripts "type". In those
// runs the free-up sheet copies every new value into its field; a sheet that
// follows it never hands a release to the engine (a scripted phrase is not
// the user's consent).
#include <QObject>
#include <QString>

namespace bx {

class DemoTyping : public QObject {
  Q_OBJECT
public:
  static DemoTyping& shared();

  const QString& text() const { return text_; }
  void setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    emit textChanged(text_);
  }

  // BRINDLEBOX_DEMO_DIR or BRINDLEBOX_SNAPSHOT_DIR present (any value).
  static bool followedByViews();

signals:
  void textChanged(const QString& text);

private:
  QString text_;
};

// The demo and screenshot scripts post it; every open reader expands its
// list of deceptive links.
void demoShowLinks();

} // namespace bx
