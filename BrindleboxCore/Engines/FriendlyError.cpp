#include "Engines/FriendlyError.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include "Engines/BackupSummary.h"
#include "Engines/CleanupError.h"
#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

bool containsAny(const std::string& text, std::initializer_list<const char*> needles) {
    for (const char* n : needles)
        if (text.find(n) != std::string::npos) return true;
    return false;
}

// “host” or "the server".
std::string hostText(const std::optional<std::string>& host) {
    return host ? "\u201C" + *host + "\u201D" : std::string("the server");
}

std::string capitalisedHostText(const std::optional<std::string>& host) {
    std::string s = hostText(host);
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
}

enum class ConnectionRow { refused, notFound, offline, insecure, other };

ConnectionRow rowOfCause(TransportCause cause) {
    switch (cause) {
        case TransportCause::refused: return ConnectionRow::refused;
        case TransportCause::dnsFailure: return ConnectionRow::notFound;
        case TransportCause::unreachable: return ConnectionRow::offline;
        case TransportCause::tls: return ConnectionRow::insecure;
        case TransportCause::timeout:
        case TransportCause::unknown: return ConnectionRow::other;
    }
    return ConnectionRow::other;
}

// The rules in their order; the first that matches wins. `t` is lower-cased.
ConnectionRow rowOfText(const std::string& t) {
    if (t.find("refused") != std::string::npos ||
        (t.find("61") != std::string::npos && t.find("posix") != std::string::npos))
        return ConnectionRow::refused;
    if (containsAny(t, {"-65554", "nosuchrecord", "nodename", "not known", "dns"})) return ConnectionRow::notFound;
    if (containsAny(t, {"offline", "not connected", "network is down", "unreachable", "-1009"}))
        return ConnectionRow::offline;
    if (containsAny(t, {"-98", "certificate", "tls", "ssl", "handshake"})) return ConnectionRow::insecure;
    return ConnectionRow::other;
}

FriendlyError::Message describeIMAP(const IMAPError& e, const std::optional<std::string>& host) {
    using K = IMAPError::Kind;
    switch (e.kind()) {
        case K::connectionFailed: {
            // What the transport found is trusted; the text rules are for
            // failures it could not name and errors made from a server's text.
            ConnectionRow row = rowOfCause(e.cause());
            if (row == ConnectionRow::other) row = rowOfText(asciiLowercased(e.message()));
            switch (row) {
                case ConnectionRow::refused:
                    return {"Couldn\u2019t reach " + hostText(host),
                            "The connection was refused. Check the server name and port (IMAP over TLS is usually "
                            "993)."};
                case ConnectionRow::notFound:
                    return {"Couldn\u2019t find " + hostText(host),
                            "Check the server name for typos, and that you\u2019re online."};
                case ConnectionRow::offline:
                    return {"You seem to be offline",
                            "Connect to the internet and try again. Your vault is still readable offline."};
                case ConnectionRow::insecure:
                    return {"A secure connection couldn\u2019t be made",
                            capitalisedHostText(host) + " didn\u2019t offer a valid TLS certificate on this port."};
                case ConnectionRow::other: break;
            }
            return {"Couldn\u2019t connect to " + hostText(host), e.message()};
        }
        case K::commandFailed: {
            const std::string t = asciiLowercased(e.text());
            if (e.command() == "LOGIN" || e.command() == "AUTHENTICATE" ||
                containsAny(t, {"authenticationfailed", "invalid credentials"}))
                return {"The password wasn\u2019t accepted",
                        "Check the email address and paste a fresh app-specific password \u2014 your normal sign-in "
                        "password usually won\u2019t work."};
            if (containsAny(t, {"nonexistent", "no such mailbox", "doesn't exist", "does not exist"}))
                return {"That folder is gone",
                        "It may have been renamed or deleted on the server. Re-check the folders in Settings \u203A "
                        "Accounts."};
            if (containsAny(t, {"over quota", "overquota", "throttl", "too many", "limit"}))
                return {"The server asked us to slow down",
                        "Your provider is limiting connections right now. Wait a few minutes, then try again."};
            return {"The server said no",
                    e.command() + " was refused: " + (e.text().empty() ? std::string("no reason given") : e.text())};
        }
        case K::protocolError:
            return {"Unexpected reply from " + hostText(host),
                    "Make sure this is an IMAP server on port 993. (" + e.message() + ")"};
        case K::timeout:
            return {capitalisedHostText(host) + " stopped responding",
                    "Check your internet connection and try again. Very large folders can take a while on slow "
                    "networks."};
        case K::closed:
            return {"The connection was closed",
                    "The server hung up part-way. Try again \u2014 anything already saved stays saved."};
        case K::insecureNotAllowed:
            return {"Unencrypted connections aren\u2019t allowed", "Brindlebox only connects with TLS (port 993)."};
    }
    return {"Something went wrong", e.what()};
}

// Errors of the operating system (errno values) are this platform's file
// errors; other error categories are not.
std::optional<FriendlyError::Message> describeSystem(const std::system_error& e) {
    const auto& cat = e.code().category();
    if (cat != std::generic_category() && cat != std::system_category()) return std::nullopt;
    switch (e.code().value()) {
        case ENOSPC:
        case EDQUOT:
            return FriendlyError::Message{
                "Your disk is full",
                "Free some space on this computer (or choose another vault folder in Settings), then back up again."};
        case EACCES:
        case EPERM:
        case EROFS:
            return FriendlyError::Message{"Brindlebox can\u2019t write to the vault folder",
                                          "Choose a folder you own in Settings \u203A General."};
        default: return std::nullopt;
    }
}

}  // namespace

FriendlyError::Message FriendlyError::describe(const std::exception& error, const std::optional<std::string>& host) {
    if (dynamic_cast<const CancellationError*>(&error)) return {"Stopped", "Nothing more was changed."};
    if (const auto* c = dynamic_cast<const CleanupError*>(&error))
        return {"Nothing more was changed", c->errorDescription()};
    if (const auto* i = dynamic_cast<const IMAPError*>(&error)) return describeIMAP(*i, host);
    if (const auto* s = dynamic_cast<const std::system_error*>(&error)) {
        if (auto m = describeSystem(*s)) return *m;
    }
    return {"Something went wrong", error.what()};
}

FriendlyError::Message FriendlyError::describe(std::exception_ptr error, const std::optional<std::string>& host) {
    if (!error) return {"Something went wrong", ""};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return describe(e, host);
    } catch (...) {
        return {"Something went wrong", "An unknown error occurred."};
    }
}

namespace {

std::string megabytes(std::int64_t bytes) {
    return std::to_string((bytes + 500000) / 1000000) + " MB";
}

}  // namespace

std::optional<FriendlyError::Message> FriendlyError::describe(const BackupSummary& summary) {
    std::vector<std::string> lines;
    std::string title;
    for (const auto& folder : summary.refused) {
        if (title.empty()) title = folder.title;
        std::string line = "\u201C" + folder.folder + "\u201D wasn\u2019t backed up. " + folder.advice;
        // The advice may end in the server's own words; the next line starts
        // a sentence of its own.
        if (line.back() != '.' && line.back() != '!' && line.back() != '?') line += '.';
        lines.push_back(std::move(line));
    }
    for (const auto& message : summary.skipped) {
        if (title.empty()) title = "A message is too large to back up";
        const std::string subject = message.subject.empty() ? std::string("(no subject)") : message.subject;
        lines.push_back("\u201C" + subject + "\u201D in " + message.folder + " is " + megabytes(message.size) +
                        "; messages over 512 MB stay on the server.");
    }
    const bool leftOut = !lines.empty();
    for (const auto& folder : summary.unflagged) {
        if (title.empty()) title = "Marks for deletion were taken off";
        lines.push_back(std::to_string(folder.count) + (folder.count == 1 ? " message" : " messages") + " in " +
                        folder.folder + (folder.count == 1 ? " was" : " were") +
                        " still marked for deletion by an interrupted Free Up Space; the mark" +
                        (folder.count == 1 ? " was" : "s were") + " taken off.");
    }
    if (lines.empty()) return std::nullopt;
    // A few are named; a long list would bury the advice.
    constexpr std::size_t named = 3;
    std::string advice;
    for (std::size_t i = 0; i < lines.size() && i < named; ++i) advice += (advice.empty() ? "" : " ") + lines[i];
    if (lines.size() > named) advice += " And " + std::to_string(lines.size() - named) + " more.";
    if (leftOut) advice += " Everything else was backed up.";
    return Message{title, advice};
}

}  // namespace bx
