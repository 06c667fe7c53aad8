#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <future>
#include <system_error>

#include "Engines/CleanupError.h"
#include "Engines/FriendlyError.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "Imap/IMAPClient.h"
#include "Imap/IMAPParseError.h"
#include "support/FakeIMAPServer.h"
#include "support/Ports.h"
#include "support/TestCerts.h"

using bx::FriendlyError;
using bx::IMAPError;
using bx::IMAPStatus;

namespace {

struct Case {
    const char* rule;
    std::exception_ptr error;
    std::optional<std::string> host;
    std::string title;
    std::string advice;
};

template <class E>
std::exception_ptr ptr(E e) {
    return std::make_exception_ptr(std::move(e));
}

const std::string kHost = "\u201Cimap.example.com\u201D";

}  // namespace

TEST(FriendlyError, TitleAndAdviceForEachKindOfFailure) {
    const std::optional<std::string> host = "imap.example.com";
    const std::optional<std::string> none;
    const std::string refusedAdvice =
        "The connection was refused. Check the server name and port (IMAP over TLS is usually 993).";
    const std::string passwordAdvice =
        "Check the email address and paste a fresh app-specific password \u2014 your normal sign-in password usually "
        "won\u2019t work.";
    const std::string goneAdvice =
        "It may have been renamed or deleted on the server. Re-check the folders in Settings \u203A Accounts.";
    const std::string slowAdvice = "Your provider is limiting connections right now. Wait a few minutes, then try again.";
    const Case cases[] = {
        {"cancel", ptr(bx::CancellationError()), host, "Stopped", "Nothing more was changed."},
        {"cleanup", ptr(bx::CleanupError::nothingVerified()), host, "Nothing more was changed",
         "No message in the selection has a verified copy in your vault. Nothing was deleted."},
        {"refused connection names the host", ptr(IMAPError::connectionFailed("Connection refused")), host, "Couldn\u2019t reach " + kHost,
         refusedAdvice},
        {"refused connection without a host says the server", ptr(IMAPError::connectionFailed("Connection refused")), none,
         "Couldn\u2019t reach the server", refusedAdvice},
        {"refusal as a POSIX error code 61", ptr(IMAPError::connectionFailed("POSIXErrorCode(rawValue: 61)")), host,
         "Couldn\u2019t reach " + kHost, refusedAdvice},
        {"refusal wins over a certificate word", ptr(IMAPError::connectionFailed("refused: certificate")), host,
         "Couldn\u2019t reach " + kHost, refusedAdvice},
        {"unknown host name", ptr(IMAPError::connectionFailed("Name or service not known")), host, "Couldn\u2019t find " + kHost,
         "Check the server name for typos, and that you\u2019re online."},
        {"no network", ptr(IMAPError::connectionFailed("Network is unreachable")), host, "You seem to be offline",
         "Connect to the internet and try again. Your vault is still readable offline."},
        {"TLS failure quotes the host", ptr(IMAPError::connectionFailed("TLS handshake failed: certificate verify failed")), host,
         "A secure connection couldn\u2019t be made",
         kHost + " didn\u2019t offer a valid TLS certificate on this port."},
        {"TLS failure without a host starts with The server", ptr(IMAPError::connectionFailed("SSL error")), none,
         "A secure connection couldn\u2019t be made",
         "The server didn\u2019t offer a valid TLS certificate on this port."},
        // The transport's cause decides, whatever words its message holds.
        {"refused cause", ptr(IMAPError::connectionFailed("os error 111", bx::TransportCause::refused)), host,
         "Couldn\u2019t reach " + kHost, refusedAdvice},
        {"DNS cause", ptr(IMAPError::connectionFailed("lookup: code -3", bx::TransportCause::dnsFailure)), host,
         "Couldn\u2019t find " + kHost, "Check the server name for typos, and that you\u2019re online."},
        {"unreachable cause", ptr(IMAPError::connectionFailed("os error 101", bx::TransportCause::unreachable)),
         host, "You seem to be offline",
         "Connect to the internet and try again. Your vault is still readable offline."},
        {"TLS cause over a refusal word",
         ptr(IMAPError::connectionFailed("alert: handshake refused", bx::TransportCause::tls)), host,
         "A secure connection couldn\u2019t be made",
         kHost + " didn\u2019t offer a valid TLS certificate on this port."},
        {"other connection failure keeps its text", ptr(IMAPError::connectionFailed("Something Odd")), host, "Couldn\u2019t connect to " + kHost,
         "Something Odd"},
        {"LOGIN refused whatever the text", ptr(IMAPError::commandFailed("LOGIN", IMAPStatus::no, "whatever")), host,
         "The password wasn\u2019t accepted", passwordAdvice},
        {"authentication failure code on another command", ptr(IMAPError::commandFailed("SELECT", IMAPStatus::no, "[AUTHENTICATIONFAILED] nope")), host,
         "The password wasn\u2019t accepted", passwordAdvice},
        {"missing folder", ptr(IMAPError::commandFailed("SELECT", IMAPStatus::no, "Mailbox does not exist")), host,
         "That folder is gone", goneAdvice},
        {"missing folder wins over limit", ptr(IMAPError::commandFailed("EXAMINE", IMAPStatus::no, "doesn't exist, limit")), host,
         "That folder is gone", goneAdvice},
        {"rate limit", ptr(IMAPError::commandFailed("UID FETCH", IMAPStatus::no, "rate limit hit")), host,
         "The server asked us to slow down", slowAdvice},
        {"other refusal names command and text", ptr(IMAPError::commandFailed("UID FETCH", IMAPStatus::bad, "Syntax")), host, "The server said no",
         "UID FETCH was refused: Syntax"},
        {"refusal without a text", ptr(IMAPError::commandFailed("EXAMINE", IMAPStatus::no, "")), host, "The server said no",
         "EXAMINE was refused: no reason given"},
        {"unexpected reply", ptr(IMAPError::protocolError("bad greeting")), host, "Unexpected reply from " + kHost,
         "Make sure this is an IMAP server on port 993. (bad greeting)"},
        {"time-out without a host", ptr(IMAPError::timeout()), none, "The server stopped responding",
         "Check your internet connection and try again. Very large folders can take a while on slow networks."},
        {"time-out with a host", ptr(IMAPError::timeout()), host, kHost + " stopped responding",
         "Check your internet connection and try again. Very large folders can take a while on slow networks."},
        {"connection closed", ptr(IMAPError::closed()), host, "The connection was closed",
         "The server hung up part-way. Try again \u2014 anything already saved stays saved."},
        {"plaintext not allowed", ptr(IMAPError::insecureNotAllowed()), host, "Unencrypted connections aren\u2019t allowed",
         "Brindlebox only connects with TLS (port 993)."},
        {"disk full", ptr(std::system_error(ENOSPC, std::generic_category(), "cannot write")), host, "Your disk is full",
         "Free some space on this computer (or choose another vault folder in Settings), then back up again."},
        {"disk full from the filesystem library",
         ptr(std::filesystem::filesystem_error("x", std::error_code(ENOSPC, std::system_category()))), host,
         "Your disk is full",
         "Free some space on this computer (or choose another vault folder in Settings), then back up again."},
        {"no permission", ptr(std::system_error(EACCES, std::generic_category(), "cannot create")), host,
         "Brindlebox can\u2019t write to the vault folder", "Choose a folder you own in Settings \u203A General."},
        {"read-only volume", ptr(std::system_error(EROFS, std::generic_category(), "cannot create")), host,
         "Brindlebox can\u2019t write to the vault folder", "Choose a folder you own in Settings \u203A General."},
        {"disk-full code of another error category",
         ptr(std::system_error(static_cast<int>(std::future_errc::no_state), std::future_category(), "odd")), host,
         "Something went wrong", std::system_error(static_cast<int>(std::future_errc::no_state),
                                                   std::future_category(), "odd").what()},
        {"parse error falls back to its description", ptr(bx::IMAPParseError("bad literal")), host, "Something went wrong", "bad literal"},
    };
    for (const auto& c : cases) {
        const auto m = FriendlyError::describe(c.error, c.host);
        EXPECT_EQ(m.title, c.title) << c.rule;
        EXPECT_EQ(m.advice, c.advice) << c.rule;
    }
}

TEST(FriendlyError, TextJoinsTitleAndAdvice) {
    const auto stopped = FriendlyError::describe(bx::CancellationError(), "h");
    EXPECT_EQ(stopped.text(), "Stopped. Nothing more was changed.");
    EXPECT_EQ(stopped, (FriendlyError::Message{"Stopped", "Nothing more was changed."}));
    const FriendlyError::Message noAdvice{"Nothing more was changed", ""};
    EXPECT_EQ(noAdvice.text(), "Nothing more was changed. ");
    EXPECT_EQ(FriendlyError::describe(std::make_exception_ptr(42), std::nullopt).title, "Something went wrong");
}

// Real failures of the transport, each from its real cause, reach the user
// as the message for that cause.
TEST(FriendlyError, RealConnectionFailuresByCause) {
    using bx::IMAPClient;
    using bx::IMAPServer;
    using bx::TransportCause;
    bx::test::trustTestCA();
    bx::test::FakeIMAPServer::Options wrongName;
    wrongName.tls = true;
    wrongName.cert = bx::test::CertKind::OtherHost;
    bx::test::FakeIMAPServer otherHost(wrongName);
    otherHost.start();
    bx::test::SilentPort silent;

    struct Row {
        const char* cause;
        IMAPServer server;
        IMAPError::Kind kind;
        TransportCause expected;
        std::string title;
    };
    const Row rows[] = {
        {"nothing listens", IMAPServer("127.0.0.1", bx::test::freeLoopbackPort(), true),
         IMAPError::Kind::connectionFailed, TransportCause::refused, "Couldn\u2019t reach \u201C127.0.0.1\u201D"},
        {"name that cannot exist", IMAPServer("imap.brindlebox.invalid", 993, false),
         IMAPError::Kind::connectionFailed, TransportCause::dnsFailure,
         "Couldn\u2019t find \u201Cimap.brindlebox.invalid\u201D"},
        {"certificate for another name", IMAPServer("localhost", otherHost.port(), false),
         IMAPError::Kind::connectionFailed, TransportCause::tls, "A secure connection couldn\u2019t be made"},
        {"server that never answers", IMAPServer("127.0.0.1", silent.port(), true), IMAPError::Kind::timeout,
         TransportCause::timeout, "\u201C127.0.0.1\u201D stopped responding"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.cause);
        IMAPClient client(row.server, 0.5);
        try {
            client.connect();
            ADD_FAILURE() << "connected";
        } catch (const IMAPError& e) {
            EXPECT_EQ(e.kind(), row.kind) << e.what();
            EXPECT_EQ(e.cause(), row.expected) << e.what();
            EXPECT_EQ(FriendlyError::describe(e, row.server.host).title, row.title);
        }
    }
}
