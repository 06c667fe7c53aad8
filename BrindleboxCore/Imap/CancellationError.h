#pragma once

#include <exception>

namespace bx {

// Thrown when work stops because its std::stop_token was triggered. It is not
// a failure of the work itself: callers show it as "Stopped".
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

// Whether `error` is a CancellationError; false for no error at all.
inline bool isCancellation(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace bx
