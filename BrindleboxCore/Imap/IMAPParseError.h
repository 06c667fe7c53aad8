#pragma once

#include <exception>
#include <string>

namespace bx {

// A response that cannot be understood. what() returns the description.
class IMAPParseError : public std::exception {
public:
    explicit IMAPParseError(std::string description) : description_(std::move(description)) {}

    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string description_;
};

}  // namespace bx
