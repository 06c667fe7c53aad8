#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace bx {

// A response that cannot be understood. what() returns the description.
// offset() is where in the response (counted in bytes from its first byte,
// literals included) reading gave up, for logs and bug reports.
class IMAPParseError : public std::exception {
public:
    explicit IMAPParseError(std::string description, std::size_t offset = 0)
        : description_(std::move(description)), offset_(offset) {}

    const std::string& description() const noexcept { return description_; }
    std::size_t offset() const noexcept { return offset_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string description_;
    std::size_t offset_;
};

}  // namespace bx
