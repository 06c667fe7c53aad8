#include "Imap/IMAPClient.h"

#include "Imap/IMAPConnection.h"
#include "Imap/IMAPQuote.h"
#include "Imap/IMAPResponseParser.h"
#include "Imap/UIDSet.h"
#include "Util/Unicode.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace bx {
namespace {

// At most this much is taken from the socket per receive.
constexpr std::size_t maxReceive = 262144;
// Reaching the server never waits longer than this, whatever the timeout.
constexpr double maxReadyWait = 20.0;

std::vector<std::string> splitSpaces(const std::string& s) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        std::size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) parts.push_back(s.substr(i, j - i));
        i = j;
    }
    return parts;
}

bool startsWithCapability(const std::string& code) {
    return asciiUppercased(code).rfind("CAPABILITY", 0) == 0;
}

std::string firstText(const IMAPResponse& r) {
    if (r.values.empty()) return {};
    return asciiUppercased(r.values.front().text().value_or(""));
}

}  // namespace

struct IMAPClient::Wakeup {
    int fd;
    std::optional<std::stop_callback<std::function<void()>>> callback;

    explicit Wakeup(const std::stop_token& stop) : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (fd < 0) throw IMAPError::connectionFailed(std::string("eventfd: ") + std::strerror(errno));
        int f = fd;
        callback.emplace(stop, std::function<void()>([f] {
                             std::uint64_t one = 1;
                             ssize_t ignored = ::write(f, &one, sizeof one);
                             (void)ignored;
                         }));
    }
    ~Wakeup() {
        callback.reset();  // waits for a callback that is running right now
        ::close(fd);
    }
};

IMAPClient::IMAPClient(IMAPServer server, double timeoutSeconds, std::stop_token stop)
    : server_(std::move(server)), timeout_(timeoutSeconds), stop_(std::move(stop)) {}

IMAPClient::~IMAPClient() = default;

int IMAPClient::cancelFd() {
    if (!honoursCancellation() || !stop_.stop_possible()) return -1;
    if (!wakeup_) wakeup_ = std::make_unique<Wakeup>(stop_);
    return wakeup_->fd;
}

namespace {

[[noreturn]] void rethrowTransport(const TransportError& e) {
    switch (e.kind()) {
        case TransportError::Kind::connectionFailed: throw IMAPError::connectionFailed(e.what(), e.cause());
        case TransportError::Kind::timeout: throw IMAPError::timeout();
        case TransportError::Kind::closed: throw IMAPError::closed();
        case TransportError::Kind::cancelled: throw CancellationError();
    }
    throw IMAPError::connectionFailed(e.what(), e.cause());
}

}  // namespace

void IMAPClient::connect() {
    if (server_.plaintextLocalDev && server_.host != "127.0.0.1") throw IMAPError::insecureNotAllowed();
    if (server_.port == 0) throw IMAPError::connectionFailed("bad port");
    connection_.reset();
    try {
        connection_ = IMAPConnection::open(server_.host, server_.port, !server_.plaintextLocalDev,
                                           std::min(timeout_, maxReadyWait), cancelFd());
    } catch (const TransportError& e) {
        rethrowTransport(e);
    }

    IMAPResponse greeting = readResponse();
    if (greeting.isUntaggedStatus() && (greeting.status == IMAPStatus::ok || greeting.status == IMAPStatus::preauth)) {
        if (greeting.code && startsWithCapability(*greeting.code)) parseCapabilities(*greeting.code);
        return;
    }
    if (greeting.isUntaggedStatus() && greeting.status == IMAPStatus::bye)
        throw IMAPError::connectionFailed(greeting.text);
    throw IMAPError::protocolError("no greeting");
}

void IMAPClient::disconnect() noexcept {
    connection_.reset();
    waiting_.clear();  // its reply can no longer come
}

void IMAPClient::send(const std::uint8_t* data, std::size_t size) {
    if (!connection_) throw IMAPError::closed();
    try {
        // A command line is always written whole, even when a stop is
        // requested meanwhile: half a command would garble the next one.
        connection_->sendAll(data, size, timeout_, -1);
    } catch (const TransportError& e) {
        if (e.kind() == TransportError::Kind::timeout) connection_->cancel();
        rethrowTransport(e);
    }
}

void IMAPClient::send(const std::string& bytes) {
    send(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void IMAPClient::logSent(const std::string& bytes) {
    if (wireLog_ && !bytes.empty()) wireLog_(WireDirection::sent, bytes);
}

std::size_t IMAPClient::receiveChunk() {
    if (receiveBuffer_.size() < maxReceive) receiveBuffer_.resize(maxReceive);
    try {
        const std::size_t n = connection_->receive(receiveBuffer_.data(), maxReceive, timeout_, cancelFd());
        if (wireLog_)
            wireLog_(WireDirection::received,
                     std::string_view(reinterpret_cast<const char*>(receiveBuffer_.data()), n));
        return n;
    } catch (const TransportError& e) {
        if (e.kind() == TransportError::Kind::timeout) connection_->cancel();
        rethrowTransport(e);
    }
}

IMAPResponse IMAPClient::readResponse() {
    for (;;) {
        if (auto response = reader_.next()) return std::move(*response);
        if (honoursCancellation() && stop_.stop_requested()) throw CancellationError();
        if (!connection_) throw IMAPError::closed();
        std::size_t n = receiveChunk();
        bytesRead_ += static_cast<std::int64_t>(n);
        reader_.append(receiveBuffer_.data(), n);
    }
}

void IMAPClient::parseCapabilities(const std::string& code) {
    std::vector<std::string> parts = splitSpaces(code);
    std::set<std::string> caps;
    for (std::size_t i = 1; i < parts.size(); ++i) caps.insert(asciiUppercased(parts[i]));
    capabilities_ = std::move(caps);
}

IMAPClient::Pending IMAPClient::issue(const std::string& command, const std::vector<Arg>& args,
                                      const UntaggedHandler& onUntagged) {
    // The reply to a second command could not be told from the first's.
    if (!waiting_.empty()) throw std::logic_error("IMAPClient: a command while a begun one waits for finish()");

    ++tagCounter_;
    char tagBuffer[32];
    std::snprintf(tagBuffer, sizeof tagBuffer, "B%04lld", static_cast<long long>(tagCounter_));
    std::string tag = tagBuffer;

    // The line, cut before each literal: text chunk, literal bytes, text
    // chunk, ... `logged` is the same with secrets replaced, built only when
    // someone reads it.
    const bool logging = static_cast<bool>(wireLog_);
    std::vector<std::string> chunks;
    std::vector<std::string> logged;
    std::string line = tag + " " + command;
    std::string logLine;
    // Credentials are hidden however the caller spelled the command: LOGIN's
    // password, and whatever follows AUTHENTICATE's mechanism name, in the
    // command text or in the arguments.
    std::size_t firstHidden = args.size();
    std::size_t passwordArg = args.size();
    if (logging) {
        const std::vector<std::string> words = splitSpaces(command);
        const std::string verb = words.empty() ? std::string() : words[0];
        logLine = tag + " " + command;
        if (asciiEqualsIgnoringCase(verb, "AUTHENTICATE")) {
            firstHidden = words.size() >= 2 ? 0 : 1;
            if (words.size() > 2) logLine = tag + " " + verb + " " + words[1] + " <redacted>";
        } else if (asciiEqualsIgnoringCase(verb, "LOGIN")) {
            passwordArg = 1;
        }
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Arg& arg = args[i];
        const bool hidden = arg.secret || i >= firstHidden || i == passwordArg;
        std::string text;
        bool literal = false;
        if (arg.kind == Arg::Kind::raw) {
            text = arg.value;
        } else if (!IMAPQuote::needsLiteral(arg.value)) {
            text = IMAPQuote::quoted(arg.value);
        } else {
            text = "{" + std::to_string(arg.value.size()) + "}\r\n";
            literal = true;
        }
        line += ' ';
        line += text;
        if (logging) {
            logLine += ' ';
            logLine += hidden ? (literal ? "<redacted>\r\n" : "<redacted>") : text;
        }
        if (literal) {
            chunks.push_back(std::move(line));
            chunks.push_back(arg.value);
            line.clear();
            if (logging) {
                logged.push_back(std::move(logLine));
                logged.push_back(hidden ? std::string() : arg.value);
                logLine.clear();
            }
        }
    }
    line += "\r\n";
    if (logging) logLine += "\r\n";

    for (std::size_t i = 0; i + 1 < chunks.size(); i += 2) {
        send(chunks[i]);
        if (logging) logSent(logged[i]);
        for (;;) {
            IMAPResponse response = readResponse();
            if (response.isContinuation()) break;
            if (response.isTagged()) throw IMAPError::commandFailed("literal", response.status, response.text);
            if (onUntagged) onUntagged(response);
        }
        send(chunks[i + 1]);
        if (logging) logSent(logged[i + 1]);
    }
    send(line);
    if (logging) logSent(logLine);
    waiting_ = tag;
    return Pending(std::move(tag), command);
}

IMAPClient::Completion IMAPClient::run(const std::string& command, const std::vector<Arg>& args,
                                       const UntaggedHandler& onUntagged) {
    Pending pending = issue(command, args, onUntagged);
    return finish(pending, onUntagged);
}

IMAPClient::Pending IMAPClient::begin(const std::string& command, const std::vector<Arg>& args) {
    return issue(command, args, nullptr);
}

IMAPClient::Completion IMAPClient::finish(Pending& pending, const UntaggedHandler& onUntagged) {
    if (pending.empty()) return Completion{};
    if (waiting_ != pending.tag_) throw std::logic_error("IMAPClient: finish() of a command that is not waiting");
    waiting_.clear();
    const std::string tag = std::move(pending.tag_);
    const std::string command = std::move(pending.command_);
    pending.tag_.clear();
    pending.command_.clear();

    for (;;) {
        IMAPResponse response = readResponse();
        if (response.isTagged() && response.tag == tag) {
            if (response.code && startsWithCapability(*response.code)) parseCapabilities(*response.code);
            if (response.status == IMAPStatus::ok) return Completion{response.code, response.text};
            throw IMAPError::commandFailed(command, response.status, response.text);
        }
        if (response.isUntaggedStatus() && response.status == IMAPStatus::bye && command != "LOGOUT")
            throw IMAPError::connectionFailed(response.text.empty() ? "server said goodbye" : response.text);
        if (response.isUntagged() && firstText(response) == "CAPABILITY") {
            std::set<std::string> caps;
            for (std::size_t i = 1; i < response.values.size(); ++i) {
                const IMAPValue& v = response.values[i];
                if (v.isAtom() || v.isString())
                    if (auto t = v.text()) caps.insert(asciiUppercased(*t));
            }
            capabilities_ = std::move(caps);
        }
        if (onUntagged) onUntagged(response);
    }
}

std::set<std::string> IMAPClient::capability() {
    run("CAPABILITY");
    return capabilities_;
}

void IMAPClient::login(const std::string& user, const std::string& password) {
    run("LOGIN", {Arg::string(user), Arg::secretString(password)});
    if (capabilities_.count("IMAP4REV1")) return;
    try {
        run("CAPABILITY");
    } catch (const IMAPError&) {
    } catch (const IMAPParseError&) {
    }
}

std::vector<IMAPMailbox> IMAPClient::list() {
    std::vector<IMAPMailbox> mailboxes;
    run("LIST", {Arg::string(""), Arg::string("*")}, [&](IMAPResponse& r) {
        if (!r.isUntagged()) return;
        if (auto m = IMAPMailbox::fromListResponse(r.values)) mailboxes.push_back(std::move(*m));
    });
    return mailboxes;
}

SelectInfo IMAPClient::select(const std::string& mailbox, bool readOnly) {
    SelectInfo info;
    info.readOnly = readOnly;
    Completion done = run(readOnly ? "EXAMINE" : "SELECT", {Arg::string(mailbox)}, [&](IMAPResponse& r) {
        if (r.isUntagged()) {
            if (r.values.size() >= 2 && asciiUppercased(r.values[1].text().value_or("")) == "EXISTS") {
                if (auto n = parseSignedDecimal<std::int64_t>(r.values[0].text().value_or(""))) info.exists = *n;
            }
        } else if (r.isUntaggedStatus() && r.code) {
            std::vector<std::string> parts = splitSpaces(*r.code);
            if (parts.size() < 2) return;
            std::string key = asciiUppercased(parts[0]);
            if (key == "UIDVALIDITY")
                info.uidValidity = parseDecimal<std::uint32_t>(parts[1]).value_or(0);
            else if (key == "UIDNEXT")
                info.uidNext = parseDecimal<std::uint32_t>(parts[1]);
        }
    });
    if (done.code) {
        std::string code = asciiUppercased(*done.code);
        // A server may open a mailbox read-only although SELECT asked for
        // write access; callers that want to change it must know.
        if (code == "READ-WRITE")
            info.readOnly = false;
        else if (code == "READ-ONLY")
            info.readOnly = true;
    }
    return info;
}

std::vector<std::uint32_t> IMAPClient::uidSearch(const std::string& criteria) {
    std::vector<std::uint32_t> uids;
    run("UID SEARCH", {Arg::raw(criteria)}, [&](IMAPResponse& r) {
        if (!r.isUntagged() || firstText(r) != "SEARCH") return;
        for (std::size_t i = 1; i < r.values.size(); ++i)
            if (auto t = r.values[i].text())
                if (auto n = parseDecimal<std::uint32_t>(*t)) uids.push_back(*n);
    });
    std::sort(uids.begin(), uids.end());
    return uids;
}

std::vector<IMAPFetchItem> IMAPClient::fetchMeta(const std::vector<std::uint32_t>& uids) {
    std::vector<IMAPFetchItem> items;
    if (uids.empty()) return items;
    run("UID FETCH", {Arg::raw(UIDSet::string(uids)), Arg::raw("(UID RFC822.SIZE INTERNALDATE FLAGS)")},
        [&](IMAPResponse& r) {
            if (!r.isUntagged()) return;
            auto item = IMAPFetchItem::fromValues(std::move(r.values));
            if (item && item->uid) items.push_back(std::move(*item));
        });
    return items;
}

std::map<std::uint32_t, std::string> IMAPClient::fetchHeaders(const std::vector<std::uint32_t>& uids) {
    std::map<std::uint32_t, std::string> headers;
    if (uids.empty()) return headers;
    run("UID FETCH", {Arg::raw(UIDSet::string(uids)), Arg::raw("(UID BODY.PEEK[HEADER])")}, [&](IMAPResponse& r) {
        if (!r.isUntagged()) return;
        auto item = IMAPFetchItem::fromValues(std::move(r.values));
        if (item && item->uid && item->body) headers[*item->uid] = std::string(item->body->begin(), item->body->end());
    });
    return headers;
}

void IMAPClient::fetchBodies(const std::vector<std::uint32_t>& uids,
                             const std::function<void(IMAPFetchItem&&)>& onMessage) {
    Pending pending = beginFetchBodies(uids);
    finishFetchBodies(pending, onMessage);
}

IMAPClient::Pending IMAPClient::beginFetchBodies(const std::vector<std::uint32_t>& uids) {
    if (uids.empty()) return Pending();
    return begin("UID FETCH",
                 {Arg::raw(UIDSet::string(uids)), Arg::raw("(UID RFC822.SIZE INTERNALDATE FLAGS BODY.PEEK[])")});
}

void IMAPClient::finishFetchBodies(Pending& pending, const std::function<void(IMAPFetchItem&&)>& onMessage) {
    finish(pending, [&](IMAPResponse& r) {
        if (!r.isUntagged()) return;
        auto item = IMAPFetchItem::fromValues(std::move(r.values));
        if (item && item->uid && item->body) onMessage(std::move(*item));
    });
}

void IMAPClient::markDeleted(const std::vector<std::uint32_t>& uids) {
    if (uids.empty()) return;
    run("UID STORE", {Arg::raw(UIDSet::string(uids)), Arg::raw("+FLAGS.SILENT (\\Deleted)")});
}

void IMAPClient::unmarkDeleted(const std::vector<std::uint32_t>& uids) {
    if (uids.empty()) return;
    run("UID STORE", {Arg::raw(UIDSet::string(uids)), Arg::raw("-FLAGS.SILENT (\\Deleted)")});
}

bool IMAPClient::expunge(const std::vector<std::uint32_t>& uids) {
    if (capabilities_.count("UIDPLUS")) {
        run("UID EXPUNGE", {Arg::raw(UIDSet::string(uids))});
        return true;
    }
    run("EXPUNGE");
    return false;
}

void IMAPClient::logout() noexcept {
    try {
        auto shield = shieldFromCancellation();
        // The reply of a command begun and never finished is read past: its
        // responses go nowhere, its completion ends nothing.
        waiting_.clear();
        run("LOGOUT");
    } catch (...) {
    }
    disconnect();
}

}  // namespace bx
