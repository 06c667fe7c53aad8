#pragma once

#include "Imap/IMAPStatus.h"
#include "Imap/TransportCause.h"

#include <exception>
#include <string>

namespace bx {

// What can go wrong talking to a mail server. Each case carries its own
// user-readable description; what() returns the same text.
class IMAPError : public std::exception {
public:
    enum class Kind { connectionFailed, commandFailed, protocolError, timeout, closed, insecureNotAllowed };

    static IMAPError connectionFailed(std::string message, TransportCause cause = TransportCause::unknown);
    static IMAPError commandFailed(std::string command, IMAPStatus status, std::string text);
    static IMAPError protocolError(std::string message);
    static IMAPError timeout();
    static IMAPError closed();
    static IMAPError insecureNotAllowed();

    Kind kind() const noexcept { return kind_; }
    // connectionFailed: what the transport found, when it knows; timeout:
    // always TransportCause::timeout; unknown otherwise.
    TransportCause cause() const noexcept { return cause_; }
    // connectionFailed, protocolError: the message.
    const std::string& message() const noexcept { return message_; }
    // commandFailed: the command word, the status and the server's text.
    const std::string& command() const noexcept { return command_; }
    IMAPStatus status() const noexcept { return status_; }
    const std::string& text() const noexcept { return text_; }

    const std::string& errorDescription() const noexcept { return description_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const IMAPError& a, const IMAPError& b) {
        return a.kind_ == b.kind_ && a.cause_ == b.cause_ && a.message_ == b.message_ && a.command_ == b.command_ &&
               a.status_ == b.status_ && a.text_ == b.text_;
    }

private:
    explicit IMAPError(Kind kind) : kind_(kind) {}
    void describe();

    Kind kind_;
    TransportCause cause_ = TransportCause::unknown;
    std::string message_;
    std::string command_;
    IMAPStatus status_ = IMAPStatus::ok;
    std::string text_;
    std::string description_;
};

}  // namespace bx
