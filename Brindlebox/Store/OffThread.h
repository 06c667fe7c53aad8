#pragma once
// Long work of the store runs off the GUI thread and comes back by queued
// calls. A result or report reaches its receiver only while the receiver
// still exists; receivers compare their own run numbers to drop late
// reports of an older run.

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <memory>
#include <utility>

namespace bx {

// Posts `f(receiver)` to the GUI thread; dropped when the receiver is gone.
template <class Receiver, class F>
void onGuiThread(const QPointer<Receiver>& receiver, F f) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [receiver, f = std::move(f)]() mutable {
        if (receiver) f(*receiver);
      },
      Qt::QueuedConnection);
}

// Runs `work()` on the shared pool and then `done(receiver, result)` on the
// GUI thread, unless the receiver is gone by then.
template <class Receiver, class Work, class Done>
void runOffThread(Receiver* receiver, Work work, Done done) {
  QPointer<Receiver> self(receiver);
  QThreadPool::globalInstance()->start([self, work = std::move(work), done = std::move(done)]() mutable {
    auto result = std::make_shared<decltype(work())>(work());
    onGuiThread(self, [result, done = std::move(done)](Receiver& r) mutable { done(r, std::move(*result)); });
  });
}

}  // namespace bx
