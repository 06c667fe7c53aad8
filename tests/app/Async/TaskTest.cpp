#include "Async/Task.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

// Spins the event loop until `done` or a generous limit (the limit only
// keeps a broken build from hanging; no test depends on timing).
template <typename F>
void spinUntil(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

orrery::Task<int> answerAfter(int ms, std::vector<int>& log, int value) {
    log.push_back(value * 10);
    co_await orrery::pause(ms);
    log.push_back(value * 10 + 1);
    co_return value;
}

orrery::Task<> script(std::vector<int>& log) {
    auto a = answerAfter(5, log, 1);
    int x = co_await a;
    auto b = answerAfter(0, log, 2);
    int y = co_await b;
    log.push_back(x + y);
}

orrery::Task<int> thrower() {
    co_await orrery::pause(0);
    throw std::runtime_error("boom");
}

orrery::Task<> catcher(std::string& caught) {
    auto t = thrower();
    try {
        co_await t;
    } catch (const std::exception& e) {
        caught = e.what();
    }
}

orrery::Task<> counter(int& n) {
    for (;;) {
        co_await orrery::pause(1);
        ++n;
    }
}

} // namespace

TEST(Task, RunsStepsInOrderWithoutANestedLoop) {
    std::vector<int> log;
    auto t = script(log);
    // Starts at once and stops at its first pause.
    EXPECT_EQ(log, (std::vector<int>{10}));
    EXPECT_FALSE(t.done());
    spinUntil([&] { return t.done(); });
    EXPECT_EQ(log, (std::vector<int>{10, 11, 20, 21, 3}));
}

TEST(Task, ExceptionsReachTheAwaitingScript) {
    std::string caught;
    auto t = catcher(caught);
    spinUntil([&] { return t.done(); });
    EXPECT_EQ(caught, "boom");
}

TEST(Task, DestroyingAWaitingTaskResumesNothing) {
    int n = 0;
    {
        auto t = counter(n);
        spinUntil([&] { return n >= 2; });
    }
    const int stopped = n;
    QTimer::singleShot(30, [] {});
    QElapsedTimer e;
    e.start();
    while (e.elapsed() < 30) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(n, stopped);
}

TEST(Task, PauseWithADeadContextNeverResumes) {
    int n = 0;
    auto* ctx = new QObject;
    auto body = [](int& n, QObject* ctx) -> orrery::Task<> {
        co_await orrery::pause(5, ctx);
        ++n;
    };
    auto t = body(n, ctx);
    delete ctx;
    QElapsedTimer e;
    e.start();
    while (e.elapsed() < 30) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(t.done());
}

TEST(Task, DetachedTaskFinishesOnItsOwn) {
    std::vector<int> log;
    script(log).detach();
    spinUntil([&] { return log.size() == 5; });
    EXPECT_EQ(log.back(), 3);
}
