#pragma once
// Blocking engine calls on threads of their own, with results brought back
// to the GUI thread.
//
// Every job gets its own std::stop_source, handed back to the caller so that
// it can cancel just that job. The owner joins every thread in its
// destructor (after asking them to stop), so a queued result never reaches
// an owner that is gone, and nothing outlives the store that started it.
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

namespace bx {

class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() { stopAndJoin(); }

    // Starts `work(stop)` on a new thread and returns the job's stop source.
    std::stop_source start(std::function<void(std::stop_token)> work) {
        reap();
        std::stop_source source;
        auto entry = std::make_shared<Entry>();
        entry->stop = source;
        std::lock_guard lock(mutex_);
        entry->thread = std::thread([entry, work = std::move(work), token = source.get_token()] {
            work(token);
            entry->finished.store(true);
        });
        entries_.push_back(entry);
        return source;
    }

    // Asks every job to stop and waits for all of them.
    void stopAndJoin() {
        std::list<std::shared_ptr<Entry>> entries;
        {
            std::lock_guard lock(mutex_);
            entries.swap(entries_);
        }
        for (auto& e : entries) e->stop.request_stop();
        for (auto& e : entries)
            if (e->thread.joinable()) e->thread.join();
    }

    // Waits for every job without asking it to stop (tests, shutdown of a
    // queue that must finish its files).
    void join() {
        std::list<std::shared_ptr<Entry>> entries;
        {
            std::lock_guard lock(mutex_);
            entries.swap(entries_);
        }
        for (auto& e : entries)
            if (e->thread.joinable()) e->thread.join();
    }

private:
    struct Entry {
        std::thread thread;
        std::stop_source stop;
        std::atomic<bool> finished{false};
    };

    // Joins the threads whose work has ended, so a long session does not
    // collect them.
    void reap() {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end();) {
            if ((*it)->finished.load()) {
                if ((*it)->thread.joinable()) (*it)->thread.join();
                it = entries_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mutex_;
    std::list<std::shared_ptr<Entry>> entries_;
};

// Runs `fn` on `receiver`'s thread, later; dropped when the receiver is gone
// before the call is delivered.
template <typename F>
void postTo(QObject* receiver, F&& fn) {
    QMetaObject::invokeMethod(receiver, std::forward<F>(fn), Qt::QueuedConnection);
}

}  // namespace bx
