// The self-test's shared pieces, headless: port parsing, the line format and
// failure counter, the bounded wait on an injected clock, and dispatch.

#include "UITest/UITest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using namespace bx;

namespace {

// Runs a task to its end on the event loop (pauses are timers).
template <class T>
void drive(T& task) {
  while (!task.done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct Captured {
  QStringList lines;
  std::vector<int> quits;
  UITest::LineSink oldSink;
  std::function<void(int)> oldQuit;
  Captured() {
    UITest::resetForTesting();
    oldSink = UITest::sink();
    oldQuit = UITest::quitter();
    UITest::sink() = [this](const QByteArray& b) {
      ASSERT_TRUE(b.endsWith('\n'));
      lines << QString::fromUtf8(b.chopped(1));
    };
    UITest::quitter() = [this](int status) { quits.push_back(status); };
  }
  ~Captured() {
    UITest::sink() = oldSink;
    UITest::quitter() = oldQuit;
    UITest::resetForTesting();
  }
};

}  // namespace

TEST(UITestPort, ParsesOnlyWholeDecimalNumbers) {
  const QList<std::pair<const char*, std::optional<quint16>>> cases{
      {"", std::nullopt},     {" 8080", std::nullopt}, {"8080 ", std::nullopt}, {"+8080", 8080},
      {"-0", 0},              {"-00", 0},              {"-1", std::nullopt},    {"0", 0},
      {"65535", 65535},       {"65536", std::nullopt}, {"12a", std::nullopt},   {"08080", 8080},
      {"+", std::nullopt},    {"-", std::nullopt},     {"+-1", std::nullopt},   {"99999999999", std::nullopt},
      {"\xd9\xa3", std::nullopt},  // a non-ASCII digit
  };
  for (const auto& [value, expected] : cases) {
    QProcessEnvironment env;
    env.insert("OTHER", "1");
    env.insert("BRINDLEBOX_UITEST_PORT", QString::fromUtf8(value));
    EXPECT_EQ(UITest::parsePort(env), expected) << value;
  }
  QProcessEnvironment unset;
  unset.insert("OTHER", "1");
  EXPECT_EQ(UITest::parsePort(unset), std::nullopt);
  EXPECT_EQ(UITest::parsePort(QProcessEnvironment()), std::nullopt);
}

TEST(UITestLines, PassAndFailLinesAndTheCounter) {
  Captured out;
  UITest::check(true, "scrub to März 2021 \u2192 list at März 2021 (after 80ms: nil)");
  EXPECT_EQ(UITest::failures(), 0);
  EXPECT_EQ(UITest::resultLine(), "UITEST OK");
  UITest::check(false, "  two  blanks \"kept\"");
  UITest::fail("sign in: refused");
  EXPECT_EQ(UITest::failures(), 2);
  EXPECT_EQ(out.lines, QStringList({"PASS scrub to März 2021 \u2192 list at März 2021 (after 80ms: nil)",
                                    "FAIL   two  blanks \"kept\"", "FAIL sign in: refused"}));
  UITest::finish();
  EXPECT_EQ(out.lines.last(), "UITEST 2 FAILED");
  // A run with failures must not end with status 0.
  EXPECT_EQ(out.quits, std::vector<int>({1}));
}

TEST(UITestLines, CleanRunQuitsWithZero) {
  Captured out;
  UITest::check(true, "a");
  UITest::finish();
  EXPECT_EQ(out.lines, QStringList({"PASS a", "UITEST OK"}));
  EXPECT_EQ(out.quits, std::vector<int>({0}));
}

// A child run of this binary that writes lines and then dies without any
// exit handling: the parent must still read every line from the pipe.
TEST(UITestLines, LinesSurviveAnAbortIntoAPipe) {
  if (qEnvironmentVariableIsSet("BX_UITEST_ABORT_CHILD")) {
    UITest::check(true, "first");
    UITest::check(false, "second");
    UITest::writeLine("  progress");
    std::abort();
  }
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("BX_UITEST_ABORT_CHILD", "1");
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=UITestLines.LinesSurviveAnAbortIntoAPipe"});
  ASSERT_TRUE(child.waitForFinished(30000));
  EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
  const QString out = QString::fromUtf8(child.readAllStandardOutput());
  EXPECT_TRUE(out.contains("PASS first\nFAIL second\n  progress\n")) << out.toStdString();
}

namespace {
struct FakeClock {
  qint64 now = 1'000'000;
  int sleeps = 0;
  UITest::WaitClock clock() {
    return {[this] { return now; },
            [this](int ms) -> orrery::Task<> {
              ++sleeps;
              now += ms;
              co_await orrery::pause(0);
            }};
  }
};
}  // namespace

TEST(UITestWait, PollsOnTheInjectedClock) {
  struct Case {
    const char* name;
    double seconds;
    int trueFromCall;  // 0: never
    bool result;
    int calls;
    int sleeps;
  };
  const Case cases[] = {
      {"holds at once: no pause", 5, 1, true, 1, 0},
      {"zero seconds: one evaluation after the deadline", 0, 0, false, 1, 0},
      {"zero seconds, holding", 0, 1, true, 1, 0},
      {"never holds: ten polls and a last look", 1, 0, false, 11, 10},
      {"holds at the third poll", 1, 3, true, 3, 2},
      {"holds only at the last look", 1, 11, true, 11, 10},
  };
  for (const Case& c : cases) {
    FakeClock fake;
    const auto clock = fake.clock();
    int calls = 0;
    auto task = UITest::wait(c.seconds, [&] { return ++calls >= c.trueFromCall && c.trueFromCall > 0; }, clock);
    drive(task);
    EXPECT_EQ(task.result(), c.result) << c.name;
    EXPECT_EQ(calls, c.calls) << c.name;
    EXPECT_EQ(fake.sleeps, c.sleeps) << c.name;
  }
}

TEST(UITestWait, DefaultClockIsMonotonic) {
  // The deadline must not move with the wall clock: the default clock reads
  // the steady clock, whose readings never go back.
  static_assert(std::chrono::steady_clock::is_steady);
  const auto& clock = UITest::WaitClock::monotonic();
  const qint64 steady = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch()).count();
  EXPECT_LE(std::llabs(clock.nowMs() - steady), 1000);
  const qint64 wall = QDateTime::currentMSecsSinceEpoch();
  EXPECT_GT(std::llabs(clock.nowMs() - wall), 1000) << "reads the wall clock";
}

TEST(UITestDispatch, ChoosesOneScenarioByPresence) {
  struct Case {
    const char* name;
    QList<std::pair<const char*, const char*>> vars;
    UITest::Scenario expected;
  };
  const QList<Case> cases{
      {"nothing", {}, UITest::Scenario::None},
      {"bad port", {{"BRINDLEBOX_UITEST_PORT", "12a"}}, UITest::Scenario::None},
      {"port", {{"BRINDLEBOX_UITEST_PORT", "1143"}}, UITest::Scenario::Main},
      {"network, empty value", {{"BRINDLEBOX_UITEST_NETWORK", ""}}, UITest::Scenario::Network},
      {"network wins over port", {{"BRINDLEBOX_UITEST_NETWORK", "/x"}, {"BRINDLEBOX_UITEST_PORT", "1"}},
       UITest::Scenario::Network},
      {"scrub wins over both",
       {{"BRINDLEBOX_UITEST_SCRUB", ""}, {"BRINDLEBOX_UITEST_NETWORK", "/x"}, {"BRINDLEBOX_UITEST_PORT", "1"}},
       UITest::Scenario::Scrub},
  };
  for (const Case& c : cases) {
    QProcessEnvironment env;
    for (const auto& [k, v] : c.vars) env.insert(k, v);
    EXPECT_EQ(UITest::choose(env), c.expected) << c.name;

    Captured out;
    QStringList ran;
    UITest::Scenarios s;
    auto recorder = [&ran](QString name) {
      return [&ran, name]() -> orrery::Task<> {
        ran << name;
        co_return;
      };
    };
    s.scrub = recorder("scrub");
    s.network = recorder("network");
    s.main = recorder("main");
    auto task = UITest::run(env, s);
    drive(task);
    const QStringList expectedRun = c.expected == UITest::Scenario::None      ? QStringList()
                                    : c.expected == UITest::Scenario::Scrub   ? QStringList{"scrub"}
                                    : c.expected == UITest::Scenario::Network ? QStringList{"network"}
                                                                              : QStringList{"main"};
    EXPECT_EQ(ran, expectedRun) << c.name;
    // Dispatch itself prints nothing and never quits.
    EXPECT_TRUE(out.lines.isEmpty()) << c.name;
    EXPECT_TRUE(out.quits.empty()) << c.name;
  }
}
