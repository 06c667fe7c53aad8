#include "Imap/IMAPConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace bx {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(TransportError::Kind kind, const std::string& message) {
    throw TransportError(kind, message);
}

[[noreturn]] void failConnection(const std::string& message, TransportCause cause = TransportCause::unknown) {
    throw TransportError(TransportError::Kind::connectionFailed, message, cause);
}

[[noreturn]] void failTLS(const std::string& message) {
    failConnection(message, TransportCause::tls);
}

std::string errnoText(int err) {
    return std::strerror(err);
}

// A host that has no route (EHOSTUNREACH) is left unknown: that is as often a
// wrong address or a firewall as it is being offline.
TransportCause causeOfErrno(int err) {
    switch (err) {
        case ECONNREFUSED: return TransportCause::refused;
        case ENETUNREACH:
        case ENETDOWN: return TransportCause::unreachable;
        default: return TransportCause::unknown;
    }
}

[[noreturn]] void failErrno(int err) {
    failConnection(errnoText(err), causeOfErrno(err));
}

Clock::time_point deadlineAfter(double seconds) {
    auto now = Clock::now();
    if (!(seconds > 0)) return now;  // also NaN
    // A day is as good as forever here and keeps the arithmetic in range.
    double capped = std::min(seconds, 86400.0);
    return now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(capped));
}

enum class Wait { ready, timeout, cancelled };

// Waits until `fd` is ready for `events`, the deadline passes, or `cancelFd`
// becomes readable. Errors and hang-ups on `fd` count as ready: the following
// read or write reports them.
Wait waitFor(int fd, short events, Clock::time_point deadline, int cancelFd) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        nfds_t count = cancelFd >= 0 ? 2 : 1;
        auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining < 0) remaining = 0;
        int ms = remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining);
        int rc = ::poll(fds, count, ms);
        if (rc < 0) {
            if (errno == EINTR) continue;
            failConnection(errnoText(errno));
        }
        if (count == 2 && fds[1].revents != 0) return Wait::cancelled;
        if (fds[0].revents != 0) return Wait::ready;
        if (Clock::now() >= deadline) return Wait::timeout;
    }
}

void checkWait(Wait w) {
    switch (w) {
        case Wait::ready: return;
        case Wait::timeout: fail(TransportError::Kind::timeout, "timed out");
        case Wait::cancelled: fail(TransportError::Kind::cancelled, "cancelled");
    }
}

// Some servers hold the last small segment of each reply (Nagle) until the
// data before it is acknowledged, and a receiver in delayed-ACK mode waits up
// to 40 ms to acknowledge: every reply then stalls. Linux leaves quick-ACK
// mode on its own, so it is asked for again after every receive.
void rearmQuickAck(int fd) {
#ifdef TCP_QUICKACK
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
    (void)fd;
#endif
}

// A socket BIO that never raises SIGPIPE (send with MSG_NOSIGNAL): the core
// library must not change the process's signal dispositions.
int bioWrite(BIO* bio, const char* data, int size) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(bio);
        return -1;
    }
    return static_cast<int>(n);
}

int bioRead(BIO* bio, char* data, int size) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t n = ::recv(fd, data, static_cast<size_t>(size), 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_read(bio);
        return -1;
    }
    if (n > 0) rearmQuickAck(fd);
    return static_cast<int>(n);
}

long bioCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* socketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "bx-socket");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioCtrl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

std::string lastSSLErrorText() {
    unsigned long e = ERR_peek_last_error();
    if (e == 0) return "unknown error";
    const char* reason = ERR_reason_error_string(e);
    if (reason) return reason;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

bool isUnexpectedEOF() {
    unsigned long e = ERR_peek_last_error();
    return e != 0 && ERR_GET_LIB(e) == ERR_LIB_SSL && ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};

bool isIPLiteral(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

std::unique_ptr<IMAPConnection> IMAPConnection::open(const std::string& host, uint16_t port, bool tls,
                                                     double timeoutSeconds, int cancelFd) {
    auto deadline = deadlineAfter(timeoutSeconds);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        // Named as a DNS failure, so that the user is told to check the
        // server name rather than shown a resolver code.
        failConnection(std::string("DNS lookup failed: ") + (rc == EAI_SYSTEM ? errnoText(errno) : gai_strerror(rc)),
                       TransportCause::dnsFailure);
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(found);

    int lastError = ECONNREFUSED;
    for (addrinfo* ai = addresses.get(); ai; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        std::unique_ptr<IMAPConnection> conn(new IMAPConnection(fd));
        // Commands and literals are small writes that wait on a reply; Nagle
        // would hold each one back for the server's delayed ACK.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        rearmQuickAck(fd);

        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastError = errno;
                continue;
            }
            checkWait(waitFor(fd, POLLOUT, deadline, cancelFd));
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err != 0) {
                lastError = err;
                continue;
            }
        }
        if (tls) conn->handshake(host, deadline, cancelFd);
        return conn;
    }
    failErrno(lastError);
}

void IMAPConnection::handshake(const std::string& host, Deadline deadline, int cancelFd) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!ctx) failTLS("TLS setup failed: " + lastSSLErrorText());
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    // The system trust store; SSL_CERT_FILE and SSL_CERT_DIR override it.
    if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1)
        failTLS("TLS setup failed: the system certificate store could not be loaded");
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE);
    SSL_CTX_set_default_read_buffer_len(ctx.get(), 64 * 1024);

    ERR_clear_error();
    ssl_ = SSL_new(ctx.get());
    if (!ssl_) failTLS("TLS setup failed: " + lastSSLErrorText());
    BIO* bio = BIO_new(socketMethod());
    if (!bio) failTLS("TLS setup failed: " + lastSSLErrorText());
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd_)));
    SSL_set_bio(ssl_, bio, bio);
    // Let OpenSSL take whatever the socket holds in one read instead of a
    // header read and a body read per record: bodies arrive as many records.
    SSL_set_read_ahead(ssl_, 1);

    // Names are matched against subjectAltName only: a certificate without
    // one is not accepted on its subject's common name, as browsers do.
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    if (isIPLiteral(host)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) != 1)
            failTLS("TLS setup failed: bad address " + host);
    } else {
        if (SSL_set1_host(ssl_, host.c_str()) != 1 || SSL_set_tlsext_host_name(ssl_, host.c_str()) != 1)
            failTLS("TLS setup failed: bad host name " + host);
    }

    for (;;) {
        ERR_clear_error();
        errno = 0;
        int rc = SSL_connect(ssl_);
        if (rc == 1) return;
        int err = SSL_get_error(ssl_, rc);
        if (err == SSL_ERROR_WANT_READ) {
            checkWait(waitFor(fd_, POLLIN, deadline, cancelFd));
            continue;
        }
        if (err == SSL_ERROR_WANT_WRITE) {
            checkWait(waitFor(fd_, POLLOUT, deadline, cancelFd));
            continue;
        }
        sslFatal_ = true;
        long verify = SSL_get_verify_result(ssl_);
        if (verify != X509_V_OK)
            failTLS(std::string("TLS certificate check failed: ") + X509_verify_cert_error_string(verify));
        if (err == SSL_ERROR_SYSCALL && errno != 0) failTLS("TLS handshake failed: " + errnoText(errno));
        if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL) || isUnexpectedEOF())
            failTLS("TLS handshake failed: the server closed the connection");
        failTLS("TLS handshake failed: " + lastSSLErrorText());
    }
}

IMAPConnection::~IMAPConnection() {
    cancel();
}

void IMAPConnection::cancel() {
    if (ssl_) {
        if (!sslFatal_) {
            // A polite close_notify, without waiting for the peer's answer.
            ERR_clear_error();
            SSL_shutdown(ssl_);
        }
        SSL_free(ssl_);
        ssl_ = nullptr;
        ERR_clear_error();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void IMAPConnection::sendAll(const uint8_t* data, size_t size, double timeoutSeconds, int cancelFd) {
    if (fd_ < 0) failConnection("the connection was cancelled");
    while (size > 0) {
        size_t written = 0;
        if (ssl_) {
            ERR_clear_error();
            errno = 0;
            int rc = SSL_write_ex(ssl_, data, size, &written);
            if (rc != 1) {
                int err = SSL_get_error(ssl_, rc);
                short events = err == SSL_ERROR_WANT_WRITE ? POLLOUT : err == SSL_ERROR_WANT_READ ? POLLIN : 0;
                if (events == 0) {
                    sslFatal_ = true;
                    if (err == SSL_ERROR_SYSCALL && errno != 0) failErrno(errno);
                    failTLS("TLS error: " + lastSSLErrorText());
                }
                checkWait(waitFor(fd_, events, deadlineAfter(timeoutSeconds), cancelFd));
                continue;
            }
        } else {
            ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) failErrno(errno);
                checkWait(waitFor(fd_, POLLOUT, deadlineAfter(timeoutSeconds), cancelFd));
                continue;
            }
            written = static_cast<size_t>(n);
        }
        data += written;
        size -= written;
    }
}

size_t IMAPConnection::receive(uint8_t* buffer, size_t capacity, double timeoutSeconds, int cancelFd) {
    if (fd_ < 0) fail(TransportError::Kind::closed, "the connection was cancelled");
    if (capacity == 0) return 0;
    if (deferredFailure_) throw *deferredFailure_;
    return ssl_ ? receiveTLS(buffer, capacity, timeoutSeconds, cancelFd)
                : receivePlain(buffer, capacity, timeoutSeconds, cancelFd);
}

size_t IMAPConnection::receivePlain(uint8_t* buffer, size_t capacity, double timeoutSeconds, int cancelFd) {
    auto deadline = deadlineAfter(timeoutSeconds);
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, capacity, 0);
        if (n > 0) {
            rearmQuickAck(fd_);
            return static_cast<size_t>(n);
        }
        if (n == 0) fail(TransportError::Kind::closed, "closed");
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) failErrno(errno);
        checkWait(waitFor(fd_, POLLIN, deadline, cancelFd));
    }
}

size_t IMAPConnection::receiveTLS(uint8_t* buffer, size_t capacity, double timeoutSeconds, int cancelFd) {
    auto deadline = deadlineAfter(timeoutSeconds);
    size_t total = 0;
    // TLS hands out one record (at most 16 KiB) per read; keep reading while
    // more is already there, so the caller sees fewer, larger chunks.
    while (total < capacity) {
        size_t got = 0;
        ERR_clear_error();
        errno = 0;
        int rc = SSL_read_ex(ssl_, buffer + total, capacity - total, &got);
        if (rc == 1) {
            total += got;
            continue;
        }
        int err = SSL_get_error(ssl_, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            if (total > 0) return total;
            checkWait(waitFor(fd_, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, cancelFd));
            continue;
        }
        TransportError failure(TransportError::Kind::closed, "closed");
        if (err != SSL_ERROR_ZERO_RETURN) {
            sslFatal_ = true;
            if (err == SSL_ERROR_SYSCALL && errno != 0)
                failure = TransportError(TransportError::Kind::connectionFailed, errnoText(errno), causeOfErrno(errno));
            else if (err != SSL_ERROR_SYSCALL && !isUnexpectedEOF())
                failure = TransportError(TransportError::Kind::connectionFailed, "TLS error: " + lastSSLErrorText(),
                                         TransportCause::tls);
        }
        if (total == 0) throw failure;
        // Hand out what arrived first; the failure is reported on the next call.
        deferredFailure_ = std::make_unique<TransportError>(failure);
        return total;
    }
    return total;
}

}  // namespace bx
