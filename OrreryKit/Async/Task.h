#pragma once
// Sequential scripts on the Qt event loop (demo, screenshots, self-test,
// connection tests) written as coroutines. A Task starts at once and runs on
// the GUI thread until its first pause; a pause is a timer, never a nested
// event loop, so the rest of the application keeps running while it waits.
//
// Ownership: the Task object owns the coroutine frame. Destroying it while
// the coroutine waits ends the script there (a pending pause then resumes
// nothing). `detach()` hands the frame to itself: it frees itself when it
// finishes. g++ 12 mishandles temporaries in co_await expressions: always
// name an awaited task (`auto t = step(); co_await t;`).

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace orrery {

namespace detail {

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
    bool detached = false;
    // Shared with pending pauses: false once the frame is gone.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    ~PromiseBase() { *alive = false; }

    std::suspend_never initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        PromiseBase* promise;
        bool await_ready() const noexcept { return promise->detached && !promise->continuation; }
        std::coroutine_handle<> await_suspend(std::coroutine_handle<>) const noexcept {
            if (promise->continuation) return promise->continuation;
            return std::noop_coroutine();
        }
        void await_resume() const noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return FinalAwaiter{this}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T>
struct Promise : PromiseBase {
    std::optional<T> value;
    template <typename U>
    void return_value(U&& v) { value.emplace(std::forward<U>(v)); }
};

template <>
struct Promise<void> : PromiseBase {
    void return_void() noexcept {}
};

} // namespace detail

template <typename T = void>
class [[nodiscard]] Task {
public:
    struct promise_type : detail::Promise<T> {
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
    };
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle h) : handle_(h) {}
    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    bool valid() const { return bool(handle_); }
    bool done() const { return !handle_ || handle_.done(); }

    // The result of a finished task; rethrows what the coroutine threw.
    decltype(auto) result() const {
        auto& p = handle_.promise();
        if (p.error) std::rethrow_exception(p.error);
        if constexpr (!std::is_void_v<T>) return (*p.value);
    }

    // Lets the coroutine run on its own; it frees itself when it ends.
    void detach() {
        if (!handle_) return;
        if (handle_.done()) {
            handle_.destroy();
        } else {
            handle_.promise().detached = true;
        }
        handle_ = {};
    }

    // Awaiting a task waits for it to finish (it is already running).
    bool await_ready() const noexcept { return done(); }
    void await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
    }
    decltype(auto) await_resume() const { return result(); }

private:
    void reset() {
        if (handle_) handle_.destroy();
        handle_ = {};
    }
    Handle handle_;
};

// Waits `ms` milliseconds on the event loop. With a context object the
// coroutine is not resumed if the context is destroyed meanwhile (the script
// stays suspended and ends with its owner).
struct pause {
    int ms;
    QPointer<QObject> context;

    explicit pause(int milliseconds, QObject* ctx = nullptr)
        : ms(milliseconds), context(ctx ? ctx : QCoreApplication::instance()) {}

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> h) const {
        std::shared_ptr<bool> alive = h.promise().alive;
        QObject* ctx = context.data();
        if (!ctx) return;
        QTimer::singleShot(ms < 0 ? 0 : ms, ctx, [h, alive] {
            if (*alive) h.resume();
        });
    }
    void await_resume() const noexcept {}
};

} // namespace orrery
