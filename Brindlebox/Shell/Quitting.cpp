#include "Shell/Quitting.h"

#include <QCoreApplication>
#include <QTimer>

namespace bx::Quitting {
namespace {
bool quitting = false;
std::function<void()>& handler() {
  static std::function<void()> h;
  return h;
}
} // namespace

bool isOn() { return quitting; }

void begin() {
  const bool first = !quitting;
  quitting = true;
  if (!first) return;
  if (handler()) {
    handler()();
    return;
  }
  // After the current event, so the action that asked has returned.
  QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
}

void reset() { quitting = false; }
void setHandler(std::function<void()> h) { handler() = std::move(h); }

} // namespace bx::Quitting
