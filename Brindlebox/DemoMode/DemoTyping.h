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

  // While the demo recording or the screenshot script runs. The mode the
  // app is in decides, not the environment: a self-test or a normal run
  // that merely has a harness variable set keeps a working release button.
  static bool followedByViews() { return scriptRunning_; }
  static void setScriptRunning(bool running) { scriptRunning_ = running; }

signals:
  void textChanged(const QString& text);

private:
  QString text_;
  static inline bool scriptRunning_ = false;
};

// The demo and screenshot scripts post it; every open reader expands its
// list of deceptive links.
void demoShowLinks();

} // namespace bx
