#include "Engines/IMAPSession.h"

#include <utility>

#include "Imap/CancellationError.h"
#include "Vault/MailAccount.h"

namespace bx {

IMAPSession::IMAPSession(IMAPServer server, std::string username, std::string password, double timeoutSeconds,
                         std::stop_token stop)
    : client_(std::make_unique<IMAPClient>(std::move(server), timeoutSeconds, stop)),
      username_(std::move(username)),
      password_(std::move(password)),
      stop_(std::move(stop)) {}

IMAPSession::IMAPSession(const MailAccount& account, std::string password, double timeoutSeconds, std::stop_token stop)
    : IMAPSession(account.server, account.username, std::move(password), timeoutSeconds, std::move(stop)) {}

IMAPSession::~IMAPSession() {
    if (client_) client_->disconnect();
}

IMAPSession::IMAPSession(IMAPSession&&) noexcept = default;

IMAPSession& IMAPSession::operator=(IMAPSession&& other) noexcept {
    if (this != &other) {
        if (client_) client_->disconnect();
        client_ = std::move(other.client_);
        username_ = std::move(other.username_);
        password_ = std::move(other.password_);
        stop_ = std::move(other.stop_);
        signedIn_ = other.signedIn_;
    }
    return *this;
}

void IMAPSession::signIn() {
    if (signedIn_) return;
    if (!client_->isConnected()) client_->connect();
    if (stop_.stop_requested()) throw CancellationError();
    client_->login(username_, password_);
    signedIn_ = true;
}

SelectInfo IMAPSession::open(const std::string& mailbox, bool readOnly) {
    signIn();
    return client_->select(mailbox, readOnly);
}

}  // namespace bx
