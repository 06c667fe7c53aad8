#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace bx {

// Awaitable for an orrery::Task: runs `work` on a thread of its own and
// resumes the coroutine on the GUI thread with its result. The GUI thread
// never waits for the work (a DNS lookup cannot be interrupted): the thread
// is detached and holds only what `work` captured. When the coroutine's
// frame is gone by then, or `context` was destroyed, the result is dropped
// and nothing resumes.
template <typename R>
struct onWorker {
  std::function<R()> work;
  QPointer<QObject> context;
  std::shared_ptr<std::optional<R>> result = std::make_shared<std::optional<R>>();

  onWorker(std::function<R()> fn, QObject* ctx) : work(std::move(fn)), context(ctx) {}

  bool await_ready() const noexcept { return false; }

  template <typename P>
  void await_suspend(std::coroutine_handle<P> h) {
    std::shared_ptr<bool> alive = h.promise().alive;
    auto out = result;
    QPointer<QObject> ctx = context;
    std::thread([fn = std::move(work), out, alive, ctx, h]() mutable {
      out->emplace(fn());
      // Back on the GUI thread by a queued call on the application object,
      // which outlives every window; the guards are read only there.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [out, alive, ctx, h] {
            if (*alive && ctx) h.resume();
          },
          Qt::QueuedConnection);
    }).detach();
  }

  R await_resume() { return std::move(**result); }
};

} // namespace bx
