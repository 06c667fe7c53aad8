#include "FakeIMAPServer.h"
#include "Ports.h"
#include "TestCerts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace bx::test {
namespace {

enum class Kind { Send, Expect, ExpectExact, ExpectBytes, ExpectClose, Stall, Drop, Reset, Accept };

struct Step {
    Kind kind;
    std::string bytes;
    std::vector<std::size_t> cuts;
    std::chrono::milliseconds duration{0};
};

std::string shown(const std::string& s, std::size_t max = 300)
{
    std::string out;
    for (std::size_t i = 0; i < s.size() && i < max; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    if (s.size() > max) out += "...(" + std::to_string(s.size()) + " bytes)";
    return out;
}

bool matchAt(const std::string& p, std::size_t pi, const std::string& s, std::size_t si, std::string* tag)
{
    while (pi < p.size()) {
        if (p[pi] == '*') {
            for (std::size_t k = s.size(); k + 1 > si; --k) {
                if (matchAt(p, pi + 1, s, k, tag)) return true;
                if (k == si) break;
            }
            return false;
        }
        if (p.compare(pi, 5, "{tag}") == 0) {
            std::size_t e = si;
            while (e < s.size() && s[e] != ' ') ++e;
            if (e == si) return false;
            // A tag is an atom; take the whole run so that "{tag} X" anchors on the space.
            if (matchAt(p, pi + 5, s, e, tag)) {
                if (tag != nullptr) *tag = s.substr(si, e - si);
                return true;
            }
            return false;
        }
        if (si >= s.size() || s[si] != p[pi]) return false;
        ++pi;
        ++si;
    }
    return si == s.size();
}

void writeAllFd(int fd, const char* data, std::size_t n)
{
    std::size_t off = 0;
    while (off < n) {
        ssize_t r = ::send(fd, data + off, n - off, MSG_NOSIGNAL);
        if (r < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
        }
        off += static_cast<std::size_t>(r);
    }
}

}  // namespace

struct FakeIMAPServer::Impl {
    Options options;
    std::vector<Step> steps;
    int listenFd = -1;
    uint16_t port = 0;
    int stopPipe[2] = {-1, -1};     // wakes the accept and the TLS relay at destruction
    int readerWake[2] = {-1, -1};   // stops the reader before the connection is closed
    int connFd = -1;                // the script's side (the TCP socket, or a socketpair end with TLS)
    int tcpFd = -1;                 // TLS only: the real connection (guarded by fdMutex)
    std::mutex fdMutex;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    std::atomic<bool> resetOnClose{false};

    std::thread scriptThread, readerThread, relayThread;

    mutable std::mutex m;
    std::condition_variable cv;
    bool started = false;
    bool stopping = false;
    bool done = false;
    bool complete = false;
    bool isConnected = false;
    int connectionCount = 0;
    bool eof = false;
    std::string failure;
    std::string received;
    std::vector<std::string> reads;
    std::size_t consumed = 0;
    std::string tag;

    ~Impl()
    {
        for (int fd : {listenFd, stopPipe[0], stopPipe[1], readerWake[0], readerWake[1], connFd, tcpFd}) {
            if (fd >= 0) ::close(fd);
        }
        if (ssl != nullptr) SSL_free(ssl);
        if (ctx != nullptr) SSL_CTX_free(ctx);
    }

    void fail(const std::string& why)
    {
        std::lock_guard<std::mutex> lock(m);
        if (failure.empty()) failure = why;
    }

    bool interruptibleSleep(std::chrono::milliseconds d)
    {
        std::unique_lock<std::mutex> lock(m);
        return !cv.wait_for(lock, d, [&] { return stopping; });
    }

    std::string substitute(const std::string& s)
    {
        std::string t;
        {
            std::lock_guard<std::mutex> lock(m);
            t = tag;
        }
        if (t.empty()) return s;
        std::string out;
        std::size_t i = 0;
        for (;;) {
            std::size_t p = s.find("{tag}", i);
            if (p == std::string::npos) break;
            out.append(s, i, p - i);
            out += t;
            i = p + 5;
        }
        out.append(s, i, std::string::npos);
        return out;
    }

    void readerLoop()
    {
        char buf[65536];
        for (;;) {
            pollfd p[2] = {{connFd, POLLIN, 0}, {readerWake[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (p[1].revents != 0) return;
            ssize_t r = ::recv(connFd, buf, sizeof buf, 0);
            if (r < 0 && errno == EINTR) continue;
            std::lock_guard<std::mutex> lock(m);
            if (r <= 0) {
                eof = true;
                cv.notify_all();
                return;
            }
            received.append(buf, static_cast<std::size_t>(r));
            reads.emplace_back(buf, static_cast<std::size_t>(r));
            cv.notify_all();
        }
    }

    // Shuttles bytes between the TLS connection and the script's socketpair end.
    void relayLoop(int inner)
    {
        char buf[65536];
        bool tcpOpen = true;
        for (;;) {
            if (tcpOpen && SSL_pending(ssl) > 0) {
                int r = SSL_read(ssl, buf, sizeof buf);
                if (r > 0) {
                    try {
                        writeAllFd(inner, buf, static_cast<std::size_t>(r));
                    } catch (const std::exception&) {
                    }
                    continue;
                }
            }
            pollfd p[3] = {{tcpOpen ? tcpFd : -1, POLLIN, 0}, {inner, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            if (::poll(p, 3, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (p[2].revents != 0) break;
            if (tcpOpen && p[0].revents != 0) {
                int r = SSL_read(ssl, buf, sizeof buf);
                if (r > 0) {
                    try {
                        writeAllFd(inner, buf, static_cast<std::size_t>(r));
                    } catch (const std::exception&) {
                    }
                } else {
                    tcpOpen = false;
                    ::shutdown(inner, SHUT_WR);  // the reader sees the client's close
                }
            }
            if (p[1].revents != 0) {
                ssize_t r = ::recv(inner, buf, sizeof buf, 0);
                if (r <= 0) break;  // the script dropped the connection
                if (tcpOpen && SSL_write(ssl, buf, static_cast<int>(r)) <= 0) tcpOpen = false;
            }
        }
        // No close_notify: to the client this is a connection that vanished.
        std::lock_guard<std::mutex> lock(fdMutex);
        if (resetOnClose) {
            linger l{1, 0};
            ::setsockopt(tcpFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(tcpFd);
        tcpFd = -1;
        ::close(inner);
    }

    void closeConnection(bool reset)
    {
        if (connFd < 0) return;
        if (readerThread.joinable()) {
            char x = 1;
            (void)!::write(readerWake[1], &x, 1);
            readerThread.join();
            (void)!::read(readerWake[0], &x, 1);  // ready for the next connection's reader
        }
        int fd;
        {
            std::lock_guard<std::mutex> lock(fdMutex);
            fd = connFd;
            connFd = -1;
        }
        if (reset) {
            resetOnClose = true;
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(fd);
        if (relayThread.joinable()) relayThread.join();
        resetOnClose = false;
    }

    // Unblocks whatever the script thread waits on in the kernel.
    void interruptIO()
    {
        std::lock_guard<std::mutex> lock(fdMutex);
        if (connFd >= 0) ::shutdown(connFd, SHUT_RDWR);
        if (tcpFd >= 0) ::shutdown(tcpFd, SHUT_RDWR);
    }

    bool acceptClient()
    {
        pollfd p[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        int r = ::poll(p, 2, static_cast<int>(options.acceptTimeout.count()));
        if (r <= 0 || p[1].revents != 0 || p[0].revents == 0) {
            fail(r == 0 ? "no client connected" : "stopped before a client connected");
            return false;
        }
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            fail(std::string("accept: ") + std::strerror(errno));
            return false;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            std::lock_guard<std::mutex> lock(m);
            isConnected = true;
            ++connectionCount;
            eof = false;
            consumed = received.size();  // what the previous client left unread is forgotten
        }
        if (!options.tls) {
            std::lock_guard<std::mutex> lock(fdMutex);
            connFd = fd;
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(fdMutex);
            tcpFd = fd;
        }
        const ServerCert& cert = TestCerts::get().server(options.cert);
        if (ctx != nullptr) SSL_CTX_free(ctx);
        ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        if (SSL_CTX_use_certificate_file(ctx, cert.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, cert.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            fail("TLS set-up: " + sslErrors());
            return false;
        }
        if (ssl != nullptr) SSL_free(ssl);
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            fail("TLS handshake failed: " + sslErrors());
            return false;
        }
        int sp[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sp) != 0) {
            fail("socketpair");
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(fdMutex);
            connFd = sp[0];
        }
        relayThread = std::thread([this, inner = sp[1]] { relayLoop(inner); });
        return true;
    }

    // Waits until pred() holds (true), or the deadline/stop/eof (false).
    template <class Pred>
    bool waitFor(std::unique_lock<std::mutex>& lock, Pred pred)
    {
        auto deadline = std::chrono::steady_clock::now() + options.expectTimeout;
        return cv.wait_until(lock, deadline, [&] { return pred() || stopping || eof; }) && pred();
    }

    std::string pendingText() const { return "; unread: \"" + shown(received.substr(consumed)) + "\""; }

    bool runStep(std::size_t index, const Step& s)
    {
        const std::string where = "step " + std::to_string(index + 1) + ": ";
        switch (s.kind) {
        case Kind::Send: {
            std::string bytes = substitute(s.bytes);
            std::vector<std::size_t> cuts = s.cuts;
            cuts.push_back(bytes.size());
            std::size_t from = 0;
            try {
                for (std::size_t i = 0; i < cuts.size(); ++i) {
                    std::size_t to = std::min(cuts[i], bytes.size());
                    if (to <= from) continue;
                    if (from != 0 && !interruptibleSleep(options.pieceGap)) return false;
                    writeAllFd(connFd, bytes.data() + from, to - from);
                    from = to;
                }
            } catch (const std::exception& e) {
                fail(where + e.what() + " (sending \"" + shown(bytes) + "\")");
                return false;
            }
            return true;
        }
        case Kind::Expect:
        case Kind::ExpectExact: {
            std::unique_lock<std::mutex> lock(m);
            std::size_t pos = std::string::npos;
            bool ok = waitFor(lock, [&] {
                pos = received.find("\r\n", consumed);
                return pos != std::string::npos;
            });
            if (!ok) {
                if (failure.empty()) {
                    failure = where + (eof ? "client closed" : "timed out") + " while expecting \"" +
                              shown(s.bytes) + "\"" + pendingText();
                }
                return false;
            }
            std::string line = received.substr(consumed, pos - consumed);
            bool good;
            if (s.kind == Kind::ExpectExact) {
                good = line == s.bytes;
            } else {
                std::string t;
                good = matches(s.bytes, line, &t);
                if (good && !t.empty()) tag = t;
            }
            if (!good) {
                if (failure.empty()) {
                    failure = where + "expected \"" + shown(s.bytes) + "\" but the client sent \"" + shown(line) + "\"";
                }
                return false;
            }
            consumed = pos + 2;
            return true;
        }
        case Kind::ExpectBytes: {
            std::unique_lock<std::mutex> lock(m);
            bool ok = waitFor(lock, [&] { return received.size() - consumed >= s.bytes.size(); });
            if (!ok) {
                if (failure.empty()) {
                    failure = where + (eof ? "client closed" : "timed out") + " while expecting " +
                              std::to_string(s.bytes.size()) + " bytes \"" + shown(s.bytes) + "\"" + pendingText();
                }
                return false;
            }
            if (received.compare(consumed, s.bytes.size(), s.bytes) != 0) {
                if (failure.empty()) {
                    failure = where + "expected bytes \"" + shown(s.bytes) + "\" but the client sent \"" +
                              shown(received.substr(consumed, s.bytes.size())) + "\"";
                }
                return false;
            }
            consumed += s.bytes.size();
            return true;
        }
        case Kind::ExpectClose: {
            std::unique_lock<std::mutex> lock(m);
            auto deadline = std::chrono::steady_clock::now() + options.expectTimeout;
            cv.wait_until(lock, deadline, [&] { return eof || stopping; });
            if (!eof) {
                if (failure.empty()) failure = where + "the client did not close the connection" + pendingText();
                return false;
            }
            return true;
        }
        case Kind::Stall:
            return interruptibleSleep(s.duration);
        case Kind::Drop:
        case Kind::Reset:
            closeConnection(s.kind == Kind::Reset);
            return true;
        case Kind::Accept:
            closeConnection(false);
            if (!acceptClient()) return false;
            readerThread = std::thread([this] { readerLoop(); });
            return true;
        }
        return false;
    }

    void scriptLoop()
    {
        bool ok = acceptClient();
        if (ok) {
            readerThread = std::thread([this] { readerLoop(); });
            for (std::size_t i = 0; i < steps.size() && ok; ++i) {
                ok = runStep(i, steps[i]);
                std::lock_guard<std::mutex> lock(m);
                if (stopping && ok && i + 1 < steps.size()) {
                    ok = false;
                    if (failure.empty()) failure = "stopped at step " + std::to_string(i + 2);
                }
            }
            if (!ok) closeConnection(false);
        }
        std::lock_guard<std::mutex> lock(m);
        if (!ok && failure.empty()) failure = "stopped";
        complete = ok;
        done = true;
        cv.notify_all();
    }
};

FakeIMAPServer::FakeIMAPServer() : FakeIMAPServer(Options{}) {}

FakeIMAPServer::FakeIMAPServer(Options options) : impl_(std::make_unique<Impl>())
{
    impl_->options = options;
    if (::pipe2(impl_->stopPipe, O_CLOEXEC) != 0 || ::pipe2(impl_->readerWake, O_CLOEXEC) != 0) {
        throw std::runtime_error("FakeIMAPServer: pipe");
    }
    impl_->listenFd = listenOnLoopback(impl_->port, 8, "FakeIMAPServer");
}

FakeIMAPServer::~FakeIMAPServer()
{
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        impl_->stopping = true;
        impl_->cv.notify_all();
    }
    char x = 1;
    (void)!::write(impl_->stopPipe[1], &x, 1);
    // Unblocks a TLS handshake the client never finishes, or a send to a
    // client that does not read.
    impl_->interruptIO();
    if (impl_->scriptThread.joinable()) impl_->scriptThread.join();
    impl_->closeConnection(false);
    if (impl_->relayThread.joinable()) impl_->relayThread.join();
}

uint16_t FakeIMAPServer::port() const { return impl_->port; }

FakeIMAPServer& FakeIMAPServer::send(std::string bytes)
{
    return sendSplit(std::move(bytes), {});
}

FakeIMAPServer& FakeIMAPServer::sendSplit(std::string bytes, std::vector<std::size_t> cuts)
{
    impl_->steps.push_back({Kind::Send, std::move(bytes), std::move(cuts), {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::sendBytewise(std::string bytes)
{
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < bytes.size(); ++i) cuts.push_back(i);
    return sendSplit(std::move(bytes), std::move(cuts));
}

FakeIMAPServer& FakeIMAPServer::expect(std::string pattern)
{
    impl_->steps.push_back({Kind::Expect, std::move(pattern), {}, {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::expectExact(std::string line)
{
    impl_->steps.push_back({Kind::ExpectExact, std::move(line), {}, {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::expectBytes(std::string bytes)
{
    impl_->steps.push_back({Kind::ExpectBytes, std::move(bytes), {}, {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::expectClose()
{
    impl_->steps.push_back({Kind::ExpectClose, {}, {}, {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::stall(std::chrono::milliseconds duration)
{
    impl_->steps.push_back({Kind::Stall, {}, {}, duration});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::drop()
{
    impl_->steps.push_back({Kind::Drop, {}, {}, {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::acceptNext()
{
    impl_->steps.push_back({Kind::Accept, {}, {}, {}});
    return *this;
}

FakeIMAPServer& FakeIMAPServer::reset()
{
    impl_->steps.push_back({Kind::Reset, {}, {}, {}});
    return *this;
}

void FakeIMAPServer::start()
{
    {
        std::lock_guard<std::mutex> lock(impl_->m);
        if (impl_->started) return;
        impl_->started = true;
    }
    impl_->scriptThread = std::thread([this] { impl_->scriptLoop(); });
}

bool FakeIMAPServer::waitDone(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(impl_->m);
    return impl_->cv.wait_for(lock, timeout, [&] { return impl_->done; });
}

bool FakeIMAPServer::completed() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->done && impl_->complete;
}

std::string FakeIMAPServer::failure() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    if (!impl_->done && impl_->failure.empty()) return "script still running";
    return impl_->failure;
}

bool FakeIMAPServer::connected() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->isConnected;
}

int FakeIMAPServer::connections() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->connectionCount;
}

bool FakeIMAPServer::clientClosed() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->eof;
}

std::string FakeIMAPServer::received() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->received;
}

std::vector<std::string> FakeIMAPServer::reads() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->reads;
}

std::string FakeIMAPServer::tag() const
{
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->tag;
}

bool FakeIMAPServer::matches(const std::string& pattern, const std::string& line, std::string* tag)
{
    return matchAt(pattern, 0, line, 0, tag);
}

}  // namespace bx::test
