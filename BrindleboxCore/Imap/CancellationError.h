#pragma once

#include <exception>

namespace bx {

// Thrown when work stops because its std::stop_token was triggered. It is not
// a failure of the work itself: callers show it as "Stopped".
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace bx
