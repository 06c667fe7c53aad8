#pragma once
// A tiny IMAP client for tests, independent of the product's IMAP code: it
// seeds mailboxes and reads back what the server holds. Plain TCP or TLS
// (OpenSSL, verifying against the test CA), blocking with time limits,
// TCP_NODELAY on. Throws std::runtime_error on any failure.
//
//   auto c = bx::test::RawIMAPClient::plain(dovecot.imapPort());
//   c.login("alice", "alice-secret");
//   auto r = c.command("SELECT INBOX");          // tag added, reads to the tagged reply
//   EXPECT_TRUE(r.ok()) << r.tagged;
//   std::string bytes = c.fetchRaw("INBOX", 1);   // the exact bytes of BODY[]
//
// Mailbox names given to the helpers are UTF-8 with the server's delimiter
// ("Archiv/Entwürfe"); they are sent in modified UTF-7.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bx::test {

struct TLSClientOptions {
    std::filesystem::path caFile;    // empty: TestCerts::get().trustedCA
    std::string host = "localhost";  // checked against the certificate (a name, or an IP address
                                     // such as "127.0.0.1"); empty: not checked; also sent as SNI
    bool verify = true;              // false: accept any certificate
};

// A message to append.
struct SeedMessage {
    std::string bytes;  // the whole message; use CRLF line ends to read the same bytes back
    // INTERNALDATE (whole seconds; written as UTC). Default: the server's now.
    std::chrono::system_clock::time_point internalDate{};
    std::vector<std::string> flags;  // e.g. "\\Seen", "\\Flagged", "$Forwarded"
};

class RawIMAPClient {
public:
    using Clock = std::chrono::steady_clock;

    struct Reply {
        std::vector<std::string> untagged;  // every other response, raw, CRLF included
        std::string tagged;                 // the tagged completion line, CRLF included
        std::string status;                 // "OK", "NO" or "BAD"
        bool ok() const { return status == "OK"; }
        // Untagged responses starting with "* <word>" (case-insensitive), e.g. "SEARCH".
        std::vector<std::string> find(std::string_view word) const;
    };

    // Connects to 127.0.0.1:port and reads the greeting.
    static RawIMAPClient plain(uint16_t port,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Connects with TLS (handshake, certificate and host checks) and reads
    // the greeting.
    static RawIMAPClient tls(uint16_t port, const TLSClientOptions& options = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Attempts a TLS handshake; "" when it succeeds, else the reason
    // (OpenSSL's verification error such as "certificate has expired" or
    // "hostname mismatch", or the handshake error).
    static std::string tlsHandshakeError(uint16_t port, const TLSClientOptions& options = {});

    RawIMAPClient(RawIMAPClient&&) noexcept;
    RawIMAPClient& operator=(RawIMAPClient&&) noexcept;
    ~RawIMAPClient();

    const std::string& greeting() const { return greeting_; }
    void setTimeout(std::chrono::milliseconds t) { timeout_ = t; }

    // Raw access.
    void write(std::string_view bytes);
    // The next complete response (a line plus any literals it announces and
    // the rest of the line after them), CRLF included.
    std::string readResponse();

    // Sends "<tag> <command>\r\n" and reads up to its tagged reply. Literals
    // inside `command` must be non-synchronizing ("{5+}\r\nhello").
    Reply command(std::string_view command);
    // As command(), but throws unless the reply is OK.
    Reply check(std::string_view command);

    void login(std::string_view user, std::string_view password);
    void logout();

    // The capability words of a CAPABILITY command, as the server wrote them.
    std::vector<std::string> capabilities();
    // The server's hierarchy delimiter (from LIST "" "").
    char delimiter();
    // LIST "" "*" names, decoded to UTF-8.
    std::vector<std::string> listMailboxes();

    void createMailbox(std::string_view name);  // succeeds if it already exists
    // Appends in one MULTIAPPEND command per 500 messages (LITERAL+, no round
    // trip per message) and returns the new UIDs in order. Creates the
    // mailbox if needed.
    std::vector<uint32_t> append(std::string_view mailbox, const std::vector<SeedMessage>& messages);

    // SELECTs the mailbox, flags the UIDs \Deleted and removes exactly them
    // with UID EXPUNGE.
    void expunge(std::string_view mailbox, const std::vector<uint32_t>& uids);

    // Selects the mailbox read-only (EXAMINE) for the calls below.
    Reply examine(std::string_view mailbox);
    std::vector<uint32_t> uids(std::string_view mailbox);                 // ascending
    uint32_t uidValidity(std::string_view mailbox);
    std::string fetchRaw(std::string_view mailbox, uint32_t uid);       // exact BODY.PEEK[] bytes
    std::vector<std::string> flags(std::string_view mailbox, uint32_t uid);
    std::string internalDate(std::string_view mailbox, uint32_t uid);   // as the server wrote it

private:
    struct Impl;
    explicit RawIMAPClient(std::unique_ptr<Impl> impl);
    std::string readLine();
    std::string nextTag();

    std::unique_ptr<Impl> impl_;
    std::string greeting_;
    std::chrono::milliseconds timeout_{std::chrono::seconds(10)};
    int tagCounter_ = 0;
};

// IMAP quoting for tests: a quoted string, or a LITERAL+ literal when the
// text holds CR, LF, NUL or bytes above 127.
std::string imapString(std::string_view s);
// UTF-8 mailbox name to modified UTF-7 and back.
std::string encodeMailboxName(std::string_view utf8);
std::string decodeMailboxName(std::string_view mutf7);
// "dd-Mon-yyyy hh:mm:ss +0000".
std::string imapDate(std::chrono::system_clock::time_point t);

// A small well-formed message with CRLF line ends. Extra headers are written
// as given ("Name: value") after the standard ones.
std::string makeMessage(std::string_view subject, std::string_view body = "Hello.\r\n",
                        std::string_view from = "Sender <sender@example.com>",
                        std::string_view to = "Receiver <receiver@example.com>",
                        const std::vector<std::string>& extraHeaders = {});

}  // namespace bx::test
