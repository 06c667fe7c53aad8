#pragma once
// The in-app self-test: scenarios that drive the real store and windows and
// report one line per assertion on standard output, then end the process
// with status 0 (no failure) or 1.

#include "Async/Task.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace bx {

class AppStore;
struct MonthGroup;

namespace UITest {

// BRINDLEBOX_UITEST_PORT: an optional sign, then decimal digits, nothing
// else; "-" only before a zero value; above 65535 or malformed gives none.
std::optional<quint16> parsePort(const QProcessEnvironment& env);
std::optional<quint16> port();

// Where lines go. Every line is flushed as soon as it is written: a crash at
// teardown or a time-out kill must not swallow lines still in a buffer.
using LineSink = std::function<void(const QByteArray&)>;
LineSink& sink();
void writeLine(const QString& text);

// The count of failed assertions of this process.
int failures();
void resetForTesting();

// "PASS name" or "FAIL name"; a failure is counted after its line.
void check(bool passed, const QString& name);
// A failure line that is not a check ("FAIL " + message), counted alike.
void fail(const QString& message);

QString resultLine();
// Writes the result line and leaves the event loop, with status 1 when any
// assertion failed. Tests replace the quit.
std::function<void(int)>& quitter();
void finish();

// Bounded polling on the monotonic clock; `sleep` is the 100 ms pause.
struct WaitClock {
  std::function<qint64()> nowMs;
  std::function<orrery::Task<>(int)> sleep;
  static const WaitClock& monotonic();
};
orrery::Task<bool> wait(double seconds, std::function<bool()> condition,
                        const WaitClock& clock = WaitClock::monotonic());

// The wait conditions, reading the store afresh at every call.
bool scrubReady(const AppStore& store);
bool networkReady(const AppStore& store);
bool messageOpened(const AppStore& store, const QString& path);

// Which scenario a process runs; presence of a variable decides.
enum class Scenario { None, Scrub, Network, Main };
Scenario choose(const QProcessEnvironment& env);

struct Scenarios {
  std::function<orrery::Task<>()> scrub;
  std::function<orrery::Task<>()> network;
  std::function<orrery::Task<>()> main;
  static Scenarios& shared();
};
orrery::Task<> run(QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
                   Scenarios& scenarios = Scenarios::shared());

// Screenshots are someone else's: these hooks stay empty until the capture
// services are wired; an empty hook takes no shot.
// A shot is awaited: a web view's page can take a moment to paint, and the
// scenario must not change what is on screen before it is taken.
struct Shots {
  std::function<QWidget*()> mainWindow;
  std::function<orrery::Task<>(QWidget*, const QString&)> capture;
  std::function<orrery::Task<>(const QString&)> shotSheet;
  static Shots& shared();
};
QWidget* mainWindow();
orrery::Task<> capture(QString name);
orrery::Task<> shotSheet(QString name);

// Scrub scenario pieces. Indexes into the month groups (newest first); none
// when there are fewer than four groups.
std::optional<std::vector<int>> scrubMonthIndexes(int groupCount);
std::vector<int> dragIndexes(int groupCount);
QString dragName(int misses);
orrery::Task<> runScrub();

// Network scenario pieces.
QStringList requests(const QString& logPath);
QString requestListText(const QStringList& lines);
orrery::Task<> runNetwork();

// The main scenario against the local test server.
orrery::Task<> runMain();

}  // namespace UITest
}  // namespace bx
