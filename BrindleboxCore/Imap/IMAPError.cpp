#include "Imap/IMAPError.h"

namespace bx {

IMAPError IMAPError::connectionFailed(std::string message, TransportCause cause) {
    IMAPError e(Kind::connectionFailed);
    e.cause_ = cause;
    e.message_ = std::move(message);
    e.describe();
    return e;
}

IMAPError IMAPError::commandFailed(std::string command, IMAPStatus status, std::string text) {
    IMAPError e(Kind::commandFailed);
    e.command_ = std::move(command);
    e.status_ = status;
    e.text_ = std::move(text);
    e.describe();
    return e;
}

IMAPError IMAPError::protocolError(std::string message) {
    IMAPError e(Kind::protocolError);
    e.message_ = std::move(message);
    e.describe();
    return e;
}

IMAPError IMAPError::timeout() {
    IMAPError e(Kind::timeout);
    e.cause_ = TransportCause::timeout;
    e.describe();
    return e;
}

IMAPError IMAPError::closed() {
    IMAPError e(Kind::closed);
    e.describe();
    return e;
}

IMAPError IMAPError::insecureNotAllowed() {
    IMAPError e(Kind::insecureNotAllowed);
    e.describe();
    return e;
}

void IMAPError::describe() {
    switch (kind_) {
        case Kind::connectionFailed: description_ = "Couldn\u2019t connect: " + message_; break;
        case Kind::commandFailed: {
            const std::string status(rawValue(status_));
            if (command_ == "LOGIN")
                description_ = "Sign-in was refused (" + status + "): " + text_;
            else
                description_ = command_ + " failed (" + status + "): " + text_;
            break;
        }
        case Kind::protocolError: description_ = "Unexpected server reply: " + message_; break;
        case Kind::timeout: description_ = "The server stopped responding."; break;
        case Kind::closed: description_ = "The server closed the connection."; break;
        case Kind::insecureNotAllowed:
            description_ = "Unencrypted connections are only allowed to 127.0.0.1 in developer mode.";
            break;
    }
}

}  // namespace bx
