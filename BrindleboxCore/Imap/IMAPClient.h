#pragma once
// One conversation with one IMAP4rev1 server.
//
// Threading: a client is used by one thread at a time (an engine run on its
// worker thread). Every method blocks until the server has answered or a time
// limit has passed. Commands run one after another; begin() and finish()
// split one command in two, so that the caller can do other work while the
// server answers, but there is never more than one command unanswered: a
// server may work on several commands at once and mix their untagged
// responses, which could then not be told apart.
//
// Time limits: `timeout` bounds every single wait for the network (each wait
// for more bytes of a reply, each wait for the socket to take more bytes), not
// a whole command, so a large message arriving steadily never times out.
// Reaching the server (TCP connect plus TLS handshake) is bounded by
// min(timeout, 20) seconds.
//
// Cancellation: the std::stop_token given at construction. Once a stop is
// requested, the client throws CancellationError before its next wait for
// bytes, and a wait already in progress (connecting or reading a reply) is
// woken up and ends the same way. A command line that is being written is
// finished first, so the stream is never left with half a command. After a
// cancelled command the rest of its reply may still be unread; the client can
// still send LOGOUT (which skips the unread part) or be dropped.
//
// Work that must not stop half-way (a flag run and its undo) runs inside
// `auto shield = client.shieldFromCancellation();`: while a shield lives, the
// stop token is ignored. logout() always ignores it.
//
// Destroying the client closes the socket.
#include "Imap/CancellationError.h"
#include "Imap/IMAPError.h"
#include "Imap/IMAPFetchItem.h"
#include "Imap/IMAPMailbox.h"
#include "Imap/IMAPResponse.h"
#include "Imap/IMAPResponseReader.h"
#include "Imap/IMAPServer.h"
#include "Imap/SelectInfo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bx {

class IMAPConnection;

class IMAPClient {
public:
    // One argument of a command.
    struct Arg {
        enum class Kind { raw, string };
        Kind kind;
        std::string value;
        bool secret = false;  // never shown in the wire log

        // Written unchanged: sequence sets, search criteria, fetch items.
        static Arg raw(std::string s) { return Arg{Kind::raw, std::move(s)}; }
        // An IMAP string: quoted, or a literal when it holds CR, LF or
        // non-ASCII bytes.
        static Arg string(std::string s) { return Arg{Kind::string, std::move(s)}; }
        // string() for a password or other credential.
        static Arg secretString(std::string s) { return Arg{Kind::string, std::move(s), true}; }
    };

    // The conversation's bytes as they pass, for diagnosing a server. Each
    // call gets one write or one receive. Secret arguments, LOGIN's password
    // and everything after AUTHENTICATE's mechanism name are written to the
    // log as "<redacted>" (a literal announcement included) and their
    // literal bytes are left out. Called on the client's thread; must not
    // throw.
    enum class WireDirection { sent, received };
    using WireLog = std::function<void(WireDirection, std::string_view bytes)>;

    // Response code and text of a command's tagged OK.
    struct Completion {
        std::optional<std::string> code;
        std::string text;
    };

    // Receives every response of a command that is not its own completion.
    // It may take values out of the response (they are not used afterwards).
    // Whatever it throws ends the command with that error.
    using UntaggedHandler = std::function<void(IMAPResponse&)>;

    // A command whose line has been written and whose reply has not been read
    // yet: made by begin(), ended by finish(). An empty one (nothing was
    // written) finishes at once.
    class Pending {
    public:
        Pending() = default;
        Pending(Pending&& other) noexcept { *this = std::move(other); }
        Pending& operator=(Pending&& other) noexcept {
            tag_ = std::exchange(other.tag_, {});
            command_ = std::exchange(other.command_, {});
            return *this;
        }
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;
        bool empty() const { return tag_.empty(); }
        const std::string& tag() const { return tag_; }

    private:
        friend class IMAPClient;
        Pending(std::string tag, std::string command) : tag_(std::move(tag)), command_(std::move(command)) {}
        std::string tag_;
        std::string command_;
    };

    // Nothing touches the network here.
    IMAPClient(IMAPServer server, double timeoutSeconds, std::stop_token stop = {});
    ~IMAPClient();
    IMAPClient(const IMAPClient&) = delete;
    IMAPClient& operator=(const IMAPClient&) = delete;

    const IMAPServer& server() const { return server_; }
    // The server's capability words, upper-cased.
    const std::set<std::string>& capabilities() const { return capabilities_; }
    double timeout() const { return timeout_; }
    void setTimeout(double seconds) { timeout_ = seconds; }
    // Bytes received so far, greeting included; never reset.
    std::int64_t bytesRead() const { return bytesRead_; }
    bool isConnected() const { return connection_ != nullptr; }
    // Off (empty) unless set; may be set or cleared between commands.
    void setWireLog(WireLog log) { wireLog_ = std::move(log); }

    // Opens the connection and reads the greeting. Called once; a client whose
    // connect() failed is discarded, never reconnected.
    // Throws IMAPError (insecureNotAllowed before any network activity when
    // plaintextLocalDev is set for any host but "127.0.0.1"), IMAPParseError
    // or CancellationError.
    void connect();

    // Closes the connection, if any. Never fails.
    void disconnect() noexcept;

    // Sends one tagged command ("B0001", "B0002", ...) and returns the code and
    // text of its tagged OK. Any other completion throws IMAPError
    // commandFailed carrying `command`; an untagged BYE (except during LOGOUT)
    // throws connectionFailed.
    // Called only when no begun command is waiting for finish() (else
    // std::logic_error).
    Completion run(const std::string& command, const std::vector<Arg>& args = {},
                   const UntaggedHandler& onUntagged = nullptr);

    // run() in two halves, so that the server can work on a command while the
    // caller does something else. begin() writes the tagged command and
    // returns without reading its reply (an argument that needs a literal
    // still waits for the server's go-ahead); finish() reads the reply and
    // returns what run() returns, throwing what run() throws. Until finish()
    // is called, no other command can be begun or run (std::logic_error);
    // once it is called the command is over, whether it succeeded or not. A
    // command begun and never finished is read past by logout() or dropped
    // with the connection.
    Pending begin(const std::string& command, const std::vector<Arg>& args = {});
    Completion finish(Pending& pending, const UntaggedHandler& onUntagged = nullptr);

    // --- Commands. Each throws what run() throws. ---

    std::set<std::string> capability();
    // A refusal is commandFailed with the command "LOGIN". Asks for the
    // capabilities afterwards when IMAP4REV1 is not yet known (a failure of
    // that follow-up is ignored).
    void login(const std::string& user, const std::string& password);
    // LIST "" "*", in the server's order.
    std::vector<IMAPMailbox> list();
    // EXAMINE when readOnly, else SELECT. `mailbox` is the server's raw name.
    // readOnly in the result is false after a READ-WRITE code, true after a
    // READ-ONLY code, and as asked otherwise.
    SelectInfo select(const std::string& mailbox, bool readOnly);
    // UID SEARCH with the criteria written unchanged; ascending, duplicates kept.
    std::vector<std::uint32_t> uidSearch(const std::string& criteria);
    // UID, RFC822.SIZE, INTERNALDATE and FLAGS; items without a UID are left
    // out. Server order. An empty list sends nothing.
    std::vector<IMAPFetchItem> fetchMeta(const std::vector<std::uint32_t>& uids);
    // Header sections (BODY.PEEK[HEADER]) by UID; items without a UID or a
    // header are left out, and a UID answered twice keeps its last header.
    // An empty list sends nothing.
    std::map<std::uint32_t, std::string> fetchHeaders(const std::vector<std::uint32_t>& uids);
    // Whole messages (BODY.PEEK[]), handed to onMessage one at a time while the
    // reply is still arriving; items without a UID or body are skipped. An
    // error thrown by onMessage ends the command with it. An empty list sends
    // nothing.
    void fetchBodies(const std::vector<std::uint32_t>& uids, const std::function<void(IMAPFetchItem&&)>& onMessage);
    // fetchBodies() in two halves (see begin() and finish()): the first
    // writes the command (nothing for an empty list), the second reads the
    // reply and delivers the messages as fetchBodies() does.
    Pending beginFetchBodies(const std::vector<std::uint32_t>& uids);
    void finishFetchBodies(Pending& pending, const std::function<void(IMAPFetchItem&&)>& onMessage);
    // UID STORE +FLAGS.SILENT (\Deleted) / -FLAGS.SILENT (\Deleted). An empty
    // list sends nothing.
    void markDeleted(const std::vector<std::uint32_t>& uids);
    void unmarkDeleted(const std::vector<std::uint32_t>& uids);
    // UID EXPUNGE of exactly these UIDs when the server has UIDPLUS (true);
    // otherwise a plain EXPUNGE of everything flagged deleted (false).
    bool expunge(const std::vector<std::uint32_t>& uids);
    // Sends LOGOUT, ignoring every failure and the stop token, then
    // disconnects; the reply of a command begun and not finished is read
    // past. Never fails.
    void logout() noexcept;

    // While alive, the client ignores its stop token.
    class CancellationShield {
    public:
        explicit CancellationShield(IMAPClient& client) : client_(&client) { ++client_->shieldDepth_; }
        ~CancellationShield() {
            if (client_) --client_->shieldDepth_;
        }
        CancellationShield(CancellationShield&& other) noexcept : client_(other.client_) { other.client_ = nullptr; }
        CancellationShield(const CancellationShield&) = delete;
        CancellationShield& operator=(const CancellationShield&) = delete;
        CancellationShield& operator=(CancellationShield&&) = delete;

    private:
        IMAPClient* client_;
    };
    [[nodiscard]] CancellationShield shieldFromCancellation() { return CancellationShield(*this); }

private:
    bool honoursCancellation() const { return shieldDepth_ == 0; }
    int cancelFd();
    void send(const std::uint8_t* data, std::size_t size);
    void send(const std::string& bytes);
    void logSent(const std::string& bytes);
    std::size_t receiveChunk();
    IMAPResponse readResponse();
    void parseCapabilities(const std::string& code);
    Pending issue(const std::string& command, const std::vector<Arg>& args, const UntaggedHandler& onUntagged);

    struct Wakeup;  // eventfd signalled by the stop token

    IMAPServer server_;
    std::unique_ptr<IMAPConnection> connection_;
    IMAPResponseReader reader_;
    std::int64_t tagCounter_ = 0;
    std::string waiting_;  // tag of the command begun and not yet finished, if any
    std::set<std::string> capabilities_;
    double timeout_;
    std::int64_t bytesRead_ = 0;
    std::stop_token stop_;
    int shieldDepth_ = 0;
    std::vector<std::uint8_t> receiveBuffer_;
    std::unique_ptr<Wakeup> wakeup_;
    WireLog wireLog_;
};

}  // namespace bx
