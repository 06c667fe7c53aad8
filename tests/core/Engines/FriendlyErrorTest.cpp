#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <future>
#include <system_error>

#include "Engines/CleanupError.h"
#include "Engines/FriendlyError.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "Imap/IMAPParseError.h"

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

TEST(FriendlyError, OneInputPerRule) {
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
        {"I1", ptr(IMAPError::connectionFailed("Connection refused")), host, "Couldn\u2019t reach " + kHost,
         refusedAdvice},
        {"I1 without host", ptr(IMAPError::connectionFailed("Connection refused")), none,
         "Couldn\u2019t reach the server", refusedAdvice},
        {"I1 posix 61", ptr(IMAPError::connectionFailed("POSIXErrorCode(rawValue: 61)")), host,
         "Couldn\u2019t reach " + kHost, refusedAdvice},
        {"I1 before I4", ptr(IMAPError::connectionFailed("refused: certificate")), host,
         "Couldn\u2019t reach " + kHost, refusedAdvice},
        {"I2", ptr(IMAPError::connectionFailed("Name or service not known")), host, "Couldn\u2019t find " + kHost,
         "Check the server name for typos, and that you\u2019re online."},
        {"I3", ptr(IMAPError::connectionFailed("Network is unreachable")), host, "You seem to be offline",
         "Connect to the internet and try again. Your vault is still readable offline."},
        {"I4 with host", ptr(IMAPError::connectionFailed("TLS handshake failed: certificate verify failed")), host,
         "A secure connection couldn\u2019t be made",
         kHost + " didn\u2019t offer a valid TLS certificate on this port."},
        {"I4 without host", ptr(IMAPError::connectionFailed("SSL error")), none,
         "A secure connection couldn\u2019t be made",
         "The server didn\u2019t offer a valid TLS certificate on this port."},
        {"I5", ptr(IMAPError::connectionFailed("Something Odd")), host, "Couldn\u2019t connect to " + kHost,
         "Something Odd"},
        {"I6 LOGIN", ptr(IMAPError::commandFailed("LOGIN", IMAPStatus::no, "whatever")), host,
         "The password wasn\u2019t accepted", passwordAdvice},
        {"I6 text", ptr(IMAPError::commandFailed("SELECT", IMAPStatus::no, "[AUTHENTICATIONFAILED] nope")), host,
         "The password wasn\u2019t accepted", passwordAdvice},
        {"I7", ptr(IMAPError::commandFailed("SELECT", IMAPStatus::no, "Mailbox does not exist")), host,
         "That folder is gone", goneAdvice},
        {"I7 before I8", ptr(IMAPError::commandFailed("EXAMINE", IMAPStatus::no, "doesn't exist, limit")), host,
         "That folder is gone", goneAdvice},
        {"I8", ptr(IMAPError::commandFailed("UID FETCH", IMAPStatus::no, "rate limit hit")), host,
         "The server asked us to slow down", slowAdvice},
        {"I9", ptr(IMAPError::commandFailed("UID FETCH", IMAPStatus::bad, "Syntax")), host, "The server said no",
         "UID FETCH was refused: Syntax"},
        {"I9 empty text", ptr(IMAPError::commandFailed("EXAMINE", IMAPStatus::no, "")), host, "The server said no",
         "EXAMINE was refused: no reason given"},
        {"I10", ptr(IMAPError::protocolError("bad greeting")), host, "Unexpected reply from " + kHost,
         "Make sure this is an IMAP server on port 993. (bad greeting)"},
        {"I11", ptr(IMAPError::timeout()), none, "The server stopped responding",
         "Check your internet connection and try again. Very large folders can take a while on slow networks."},
        {"I11 with host", ptr(IMAPError::timeout()), host, kHost + " stopped responding",
         "Check your internet connection and try again. Very large folders can take a while on slow networks."},
        {"I12", ptr(IMAPError::closed()), host, "The connection was closed",
         "The server hung up part-way. Try again \u2014 anything already saved stays saved."},
        {"I13", ptr(IMAPError::insecureNotAllowed()), host, "Unencrypted connections aren\u2019t allowed",
         "Brindlebox only connects with TLS (port 993)."},
        {"P1", ptr(std::system_error(ENOSPC, std::generic_category(), "cannot write")), host, "Your disk is full",
         "Free some space on this computer (or choose another vault folder in Settings), then back up again."},
        {"P1 from the filesystem library",
         ptr(std::filesystem::filesystem_error("x", std::error_code(ENOSPC, std::system_category()))), host,
         "Your disk is full",
         "Free some space on this computer (or choose another vault folder in Settings), then back up again."},
        {"P2", ptr(std::system_error(EACCES, std::generic_category(), "cannot create")), host,
         "Brindlebox can\u2019t write to the vault folder", "Choose a folder you own in Settings \u203A General."},
        {"P2 read-only", ptr(std::system_error(EROFS, std::generic_category(), "cannot create")), host,
         "Brindlebox can\u2019t write to the vault folder", "Choose a folder you own in Settings \u203A General."},
        {"P3 same code, other domain",
         ptr(std::system_error(static_cast<int>(std::future_errc::no_state), std::future_category(), "odd")), host,
         "Something went wrong", std::system_error(static_cast<int>(std::future_errc::no_state),
                                                   std::future_category(), "odd").what()},
        {"P3 parse error", ptr(bx::IMAPParseError("bad literal")), host, "Something went wrong", "bad literal"},
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
