#pragma once
// The byte transport under IMAPClient: one TCP connection, optionally wrapped
// in TLS, on a non-blocking socket. Every wait goes through poll() with its
// own time limit and, optionally, a second descriptor that wakes the wait up
// when the caller wants to stop (the client's cancel signal).
//
// TLS always verifies the peer against the system trust store (OpenSSL's
// default paths, so SSL_CERT_FILE / SSL_CERT_DIR are honoured), checks the
// certificate's subjectAltName (never its subject's common name) against the
// host name, or the address when the host is an IP literal, sends SNI for
// names, and refuses anything older than TLS 1.2.
// There is deliberately no way to switch verification off.
//
// The transport knows nothing about IMAP; its failures are TransportError
// values, which IMAPClient turns into IMAPError.
#include "Imap/TransportCause.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

typedef struct ssl_st SSL;

namespace bx {

class TransportError : public std::runtime_error {
public:
    enum class Kind {
        connectionFailed,  // could not connect, TLS failure, socket error; message says why, cause() which
                           // kind of failure when the transport can tell
        timeout,           // no progress within the time limit
        closed,            // the peer closed its side, or the connection is gone
        cancelled,         // the wake-up descriptor fired
    };
    TransportError(Kind kind, const std::string& message, TransportCause cause = TransportCause::unknown)
        : std::runtime_error(message), kind_(kind), cause_(kind == Kind::timeout ? TransportCause::timeout : cause) {}
    Kind kind() const { return kind_; }
    TransportCause cause() const { return cause_; }

private:
    Kind kind_;
    TransportCause cause_;
};

class IMAPConnection {
public:
    // Resolves `host`, connects to the first address that accepts, and (with
    // `tls`) completes the TLS handshake, all within `timeoutSeconds`.
    // `cancelFd` is polled beside the socket; -1 means "not cancellable".
    static std::unique_ptr<IMAPConnection> open(const std::string& host, uint16_t port, bool tls, double timeoutSeconds,
                                                int cancelFd);

    ~IMAPConnection();
    IMAPConnection(const IMAPConnection&) = delete;
    IMAPConnection& operator=(const IMAPConnection&) = delete;

    // Writes all bytes. Each wait for the socket to take more is limited to
    // `timeoutSeconds`.
    void sendAll(const uint8_t* data, size_t size, double timeoutSeconds, int cancelFd);

    // Waits up to `timeoutSeconds` for data, then returns between 1 and
    // `capacity` bytes: whatever can be read without waiting again.
    size_t receive(uint8_t* buffer, size_t capacity, double timeoutSeconds, int cancelFd);

    // Stops the connection for good (socket closed); later sends fail with
    // connectionFailed, later receives with closed. Safe to call twice.
    void cancel();

private:
    using Deadline = std::chrono::steady_clock::time_point;
    explicit IMAPConnection(int fd) : fd_(fd) {}
    void handshake(const std::string& host, Deadline deadline, int cancelFd);
    size_t receivePlain(uint8_t* buffer, size_t capacity, double timeoutSeconds, int cancelFd);
    size_t receiveTLS(uint8_t* buffer, size_t capacity, double timeoutSeconds, int cancelFd);

    int fd_ = -1;
    SSL* ssl_ = nullptr;
    bool sslFatal_ = false;  // after a fatal TLS error no close_notify may be sent
    std::unique_ptr<TransportError> deferredFailure_;
};

}  // namespace bx
