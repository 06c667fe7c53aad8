#include "UITest/UITest.h"

#include "Store/AppStore.h"

#include <QApplication>
#include <QMainWindow>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace bx::UITest {

namespace {
int failureCount = 0;
}

std::optional<quint16> parsePort(const QProcessEnvironment& env) {
  const QString name = QStringLiteral("BRINDLEBOX_UITEST_PORT");
  if (env.isEmpty() || !env.contains(name)) return std::nullopt;
  const QString value = env.value(name);
  if (value.isEmpty()) return std::nullopt;
  int i = 0;
  bool negative = false;
  if (value[0] == u'+' || value[0] == u'-') {
    negative = value[0] == u'-';
    i = 1;
  }
  if (i >= value.size()) return std::nullopt;
  uint number = 0;
  for (; i < value.size(); ++i) {
    const QChar c = value[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + uint(c.unicode() - u'0');
    if (number > 65535) return std::nullopt;
  }
  if (negative && number != 0) return std::nullopt;
  return quint16(number);
}

std::optional<quint16> port() { return parsePort(QProcessEnvironment::systemEnvironment()); }

LineSink& sink() {
  static LineSink s = [](const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
  };
  return s;
}

void writeLine(const QString& text) { sink()(text.toUtf8() + '\n'); }

int failures() { return failureCount; }
void resetForTesting() { failureCount = 0; }

void check(bool passed, const QString& name) {
  writeLine((passed ? QStringLiteral("PASS ") : QStringLiteral("FAIL ")) + name);
  if (!passed) ++failureCount;
}

void fail(const QString& message) { check(false, message); }

QString resultLine() {
  return failureCount == 0 ? QStringLiteral("UITEST OK")
                           : QStringLiteral("UITEST %1 FAILED").arg(failureCount);
}

std::function<void(int)>& quitter() {
  static std::function<void(int)> q = [](int status) { QCoreApplication::exit(status); };
  return q;
}

void finish() {
  writeLine(resultLine());
  quitter()(failureCount > 0 ? 1 : 0);
}

const WaitClock& WaitClock::monotonic() {
  static const WaitClock clock{
      [] {
        // A wall-clock step must neither end a wait early nor stretch it.
        using namespace std::chrono;
        return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
      },
      [](int ms) -> orrery::Task<> { co_await orrery::pause(ms); }};
  return clock;
}

orrery::Task<bool> wait(double seconds, std::function<bool()> condition, const WaitClock& clock) {
  const qint64 deadline = clock.nowMs() + qint64(seconds * 1000.0);
  while (clock.nowMs() < deadline) {
    if (condition()) co_return true;
    auto pause = clock.sleep(100);
    co_await pause;
  }
  co_return condition();
}

bool scrubReady(const AppStore& store) { return !store.indexing() && store.groups().size() > 50; }

bool networkReady(const AppStore& store) { return !store.indexing() && !store.records().empty(); }

bool messageOpened(const AppStore& store, const QString& path) {
  const OpenMessage* open = store.openMessage();
  return open && QString::fromStdString(open->record.path) == path;
}

Scenario choose(const QProcessEnvironment& env) {
  if (env.contains(QStringLiteral("BRINDLEBOX_UITEST_SCRUB"))) return Scenario::Scrub;
  if (env.contains(QStringLiteral("BRINDLEBOX_UITEST_NETWORK"))) return Scenario::Network;
  if (parsePort(env)) return Scenario::Main;
  return Scenario::None;
}

Scenarios& Scenarios::shared() {
  static Scenarios s{runScrub, runNetwork, runMain};
  return s;
}

orrery::Task<> run(QProcessEnvironment env, Scenarios& scenarios) {
  std::function<orrery::Task<>()>* chosen = nullptr;
  switch (choose(env)) {
  case Scenario::Scrub: chosen = &scenarios.scrub; break;
  case Scenario::Network: chosen = &scenarios.network; break;
  case Scenario::Main: chosen = &scenarios.main; break;
  case Scenario::None: co_return;
  }
  if (chosen && *chosen) {
    auto scenario = (*chosen)();
    co_await scenario;
  }
}

Shots& Shots::shared() {
  static Shots s;
  return s;
}

QWidget* mainWindow() {
  if (Shots::shared().mainWindow) return Shots::shared().mainWindow();
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMainWindow*>(w) && w->isVisible()) return w;
  }
  return nullptr;
}

orrery::Task<> capture(QString name) {
  QWidget* window = mainWindow();
  if (!window || !Shots::shared().capture) co_return;
  auto t = Shots::shared().capture(window, name);
  co_await t;
}

orrery::Task<> shotSheet(QString name) {
  if (!Shots::shared().shotSheet) co_return;
  auto t = Shots::shared().shotSheet(name);
  co_await t;
}

}  // namespace bx::UITest
