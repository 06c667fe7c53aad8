#pragma once
// A signed-in conversation with an account's server, the way every engine
// starts one: connect, sign in, and usually select one folder.
//
// The stop token is looked at once more between the greeting and LOGIN:
// IMAPClient only notices a stop before it waits for bytes, which for LOGIN
// is after the password has been written, and a password must not leave once
// the user has given up.
//
// Destroying the session drops the connection without LOGOUT; a finished run
// calls client().logout() itself.
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "Imap/IMAPClient.h"
#include "Imap/IMAPServer.h"
#include "Imap/SelectInfo.h"

namespace bx {

struct MailAccount;

class IMAPSession {
public:
    // Nothing touches the network here.
    IMAPSession(IMAPServer server, std::string username, std::string password, double timeoutSeconds,
                std::stop_token stop = {});
    IMAPSession(const MailAccount& account, std::string password, double timeoutSeconds, std::stop_token stop = {});
    ~IMAPSession();
    IMAPSession(IMAPSession&&) noexcept;
    IMAPSession& operator=(IMAPSession&&) noexcept;

    IMAPClient& client() { return *client_; }
    IMAPClient* operator->() { return client_.get(); }

    // Connects and signs in; does nothing when already signed in. Throws what
    // IMAPClient::connect and login throw, and CancellationError for a stop
    // that came while connecting.
    void signIn();
    // signIn(), then EXAMINE (readOnly) or SELECT of the server's raw name.
    SelectInfo open(const std::string& mailbox, bool readOnly);

private:
    std::unique_ptr<IMAPClient> client_;
    std::string username_;
    std::string password_;
    std::stop_token stop_;
    bool signedIn_ = false;
};

}  // namespace bx
