#include "RawIMAPClient.h"

#include "TestCerts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace bx::test {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("RawIMAPClient: " + what); }

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

int connectLoopback(uint16_t port, std::chrono::milliseconds timeout)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) fail("socket: " + std::string(std::strerror(errno)));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (errno != EINPROGRESS) {
            int e = errno;
            ::close(fd);
            fail("connect to port " + std::to_string(port) + ": " + std::strerror(e));
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
            ::close(fd);
            fail("connect timeout");
        }
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            ::close(fd);
            fail("connect to port " + std::to_string(port) + ": " + std::strerror(err));
        }
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Parses "{123}" or "{123+}" at the end of a line (CRLF already stripped).
bool literalAtEnd(std::string_view line, std::size_t& n)
{
    if (line.empty() || line.back() != '}') return false;
    std::size_t open = line.rfind('{');
    if (open == std::string_view::npos) return false;
    std::string_view inner = line.substr(open + 1, line.size() - open - 2);
    if (!inner.empty() && inner.back() == '+') inner.remove_suffix(1);
    if (inner.empty() || inner.size() > 18) return false;
    n = 0;
    for (char c : inner) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

std::atomic<unsigned> messageCounter{0};

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

}  // namespace

struct RawIMAPClient::Impl {
    int fd = -1;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    std::string buf;

    ~Impl()
    {
        if (ssl != nullptr) SSL_free(ssl);
        if (ctx != nullptr) SSL_CTX_free(ctx);
        if (fd >= 0) ::close(fd);
    }

    void waitFor(short events, Clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) left = 0;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r == 0) fail("timed out waiting for the server");
        if (r < 0 && errno != EINTR) fail(std::string("poll: ") + std::strerror(errno));
    }

    // Drives a non-blocking SSL call until it completes.
    template <class F>
    int sslCall(F f, Clock::time_point deadline)
    {
        for (;;) {
            int r = f();
            if (r > 0) return r;
            int e = SSL_get_error(ssl, r);
            if (e == SSL_ERROR_WANT_READ) waitFor(POLLIN, deadline);
            else if (e == SSL_ERROR_WANT_WRITE) waitFor(POLLOUT, deadline);
            else if (e == SSL_ERROR_ZERO_RETURN) return 0;
            else return -1;
        }
    }

    void writeAll(std::string_view bytes, std::chrono::milliseconds timeout)
    {
        auto deadline = Clock::now() + timeout;
        std::size_t off = 0;
        while (off < bytes.size()) {
            std::size_t chunk = std::min<std::size_t>(bytes.size() - off, 1 << 20);
            if (ssl != nullptr) {
                int r = sslCall([&] { return SSL_write(ssl, bytes.data() + off, static_cast<int>(chunk)); },
                                deadline);
                if (r <= 0) fail("TLS write failed: " + sslErrors());
                off += static_cast<std::size_t>(r);
            } else {
                ssize_t r = ::send(fd, bytes.data() + off, chunk, MSG_NOSIGNAL);
                if (r < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK) {
                        waitFor(POLLOUT, deadline);
                        continue;
                    }
                    if (errno == EINTR) continue;
                    fail(std::string("send: ") + std::strerror(errno));
                }
                off += static_cast<std::size_t>(r);
            }
        }
    }

    // Appends at least one byte to buf or throws.
    void fill(std::chrono::milliseconds timeout)
    {
        auto deadline = Clock::now() + timeout;
        char tmp[65536];
        if (ssl != nullptr) {
            int r = sslCall([&] { return SSL_read(ssl, tmp, sizeof tmp); }, deadline);
            if (r <= 0) fail("connection closed by the server (TLS) " + sslErrors());
            buf.append(tmp, static_cast<std::size_t>(r));
            return;
        }
        for (;;) {
            ssize_t r = ::recv(fd, tmp, sizeof tmp, 0);
            if (r > 0) {
                buf.append(tmp, static_cast<std::size_t>(r));
                return;
            }
            if (r == 0) fail("connection closed by the server");
            if (errno == EAGAIN || errno == EWOULDBLOCK) waitFor(POLLIN, deadline);
            else if (errno != EINTR) fail(std::string("recv: ") + std::strerror(errno));
        }
    }
};

RawIMAPClient::RawIMAPClient(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RawIMAPClient::RawIMAPClient(RawIMAPClient&&) noexcept = default;
RawIMAPClient& RawIMAPClient::operator=(RawIMAPClient&&) noexcept = default;
RawIMAPClient::~RawIMAPClient() = default;

RawIMAPClient RawIMAPClient::plain(uint16_t port, std::chrono::milliseconds timeout)
{
    auto impl = std::make_unique<Impl>();
    impl->fd = connectLoopback(port, timeout);
    RawIMAPClient c(std::move(impl));
    c.timeout_ = timeout;
    c.greeting_ = c.readResponse();
    return c;
}

namespace {

// Sets up ctx + ssl and runs the handshake through `drive`; returns "" or the reason.
std::string handshake(const TLSClientOptions& o, int fd, SSL_CTX*& ctx, SSL*& ssl,
                      const std::function<int(const std::function<int()>&)>& drive)
{
    ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (o.verify) {
        std::filesystem::path ca = o.caFile.empty() ? TestCerts::get().trustedCA : o.caFile;
        if (SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr) != 1) {
            return "cannot load CA " + ca.string() + ": " + sslErrors();
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    }
    ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (!o.host.empty()) {
        in_addr addr{};
        bool isIp = ::inet_pton(AF_INET, o.host.c_str(), &addr) == 1;
        if (!isIp) SSL_set_tlsext_host_name(ssl, o.host.c_str());
        if (o.verify) {
            X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
            if (isIp) X509_VERIFY_PARAM_set1_ip_asc(param, o.host.c_str());
            else SSL_set1_host(ssl, o.host.c_str());
        }
    }
    int r = drive([&] { return SSL_connect(ssl); });
    if (r == 1) return "";
    long v = SSL_get_verify_result(ssl);
    if (v != X509_V_OK) return X509_verify_cert_error_string(v);
    std::string e = sslErrors();
    return e.empty() ? "TLS handshake failed" : e;
}

}  // namespace

RawIMAPClient RawIMAPClient::tls(uint16_t port, const TLSClientOptions& options, std::chrono::milliseconds timeout)
{
    auto impl = std::make_unique<Impl>();
    impl->fd = connectLoopback(port, timeout);
    auto deadline = Clock::now() + timeout;
    Impl* raw = impl.get();
    std::string err = handshake(options, impl->fd, impl->ctx, impl->ssl,
                                [&](const std::function<int()>& f) { return raw->sslCall(f, deadline); });
    if (!err.empty()) fail("TLS: " + err);
    RawIMAPClient c(std::move(impl));
    c.timeout_ = timeout;
    c.greeting_ = c.readResponse();
    return c;
}

std::string RawIMAPClient::tlsHandshakeError(uint16_t port, const TLSClientOptions& options)
{
    Impl impl;
    impl.fd = connectLoopback(port, std::chrono::seconds(10));
    auto deadline = Clock::now() + std::chrono::seconds(10);
    return handshake(options, impl.fd, impl.ctx, impl.ssl,
                     [&](const std::function<int()>& f) { return impl.sslCall(f, deadline); });
}

void RawIMAPClient::write(std::string_view bytes) { impl_->writeAll(bytes, timeout_); }

std::string RawIMAPClient::readLine()
{
    std::size_t scanned = 0;
    for (;;) {
        std::size_t pos = impl_->buf.find("\r\n", scanned);
        if (pos != std::string::npos) {
            std::string line = impl_->buf.substr(0, pos + 2);
            impl_->buf.erase(0, pos + 2);
            return line;
        }
        scanned = impl_->buf.empty() ? 0 : impl_->buf.size() - 1;
        impl_->fill(timeout_);
    }
}

std::string RawIMAPClient::readResponse()
{
    std::string out;
    for (;;) {
        std::string line = readLine();
        out += line;
        std::size_t n = 0;
        if (!literalAtEnd(std::string_view(line).substr(0, line.size() - 2), n)) return out;
        while (impl_->buf.size() < n) impl_->fill(timeout_);
        out.append(impl_->buf, 0, n);
        impl_->buf.erase(0, n);
    }
}

std::string RawIMAPClient::nextTag() { return "T" + std::to_string(++tagCounter_); }

RawIMAPClient::Reply RawIMAPClient::command(std::string_view cmd)
{
    std::string tag = nextTag();
    std::string line = tag + " ";
    line.append(cmd);
    line += "\r\n";
    write(line);
    Reply r;
    std::string prefix = tag + " ";
    for (;;) {
        std::string resp = readResponse();
        if (resp.compare(0, prefix.size(), prefix) == 0) {
            r.tagged = resp;
            std::size_t sp = resp.find(' ', prefix.size());
            r.status = upper(resp.substr(prefix.size(), sp == std::string::npos ? std::string::npos
                                                                               : sp - prefix.size()));
            while (!r.status.empty() && (r.status.back() == '\n' || r.status.back() == '\r')) r.status.pop_back();
            return r;
        }
        r.untagged.push_back(std::move(resp));
    }
}

RawIMAPClient::Reply RawIMAPClient::check(std::string_view cmd)
{
    Reply r = command(cmd);
    if (!r.ok()) {
        std::string shown(cmd.substr(0, 200));
        fail("command failed: " + shown + " -> " + r.tagged);
    }
    return r;
}

std::vector<std::string> RawIMAPClient::Reply::find(std::string_view word) const
{
    std::vector<std::string> out;
    std::string w = "* " + upper(word);
    for (const auto& u : untagged) {
        if (u.size() < w.size() || upper(std::string_view(u).substr(0, w.size())) != w) continue;
        if (u.size() > w.size() && u[w.size()] != ' ' && u[w.size()] != '\r') continue;
        out.push_back(u);
    }
    return out;
}

void RawIMAPClient::login(std::string_view user, std::string_view password)
{
    check("LOGIN " + imapString(user) + " " + imapString(password));
}

void RawIMAPClient::logout()
{
    try {
        command("LOGOUT");
    } catch (const std::exception&) {
    }
}

std::vector<std::string> RawIMAPClient::capabilities()
{
    Reply r = check("CAPABILITY");
    std::vector<std::string> caps;
    for (const auto& u : r.find("CAPABILITY")) {
        std::istringstream in(u.substr(std::strlen("* CAPABILITY")));
        std::string w;
        while (in >> w) caps.push_back(w);
    }
    return caps;
}

char RawIMAPClient::delimiter()
{
    Reply r = check("LIST \"\" \"\"");
    for (const auto& u : r.find("LIST")) {
        std::size_t q = u.find(") \"");
        if (q != std::string::npos && q + 3 < u.size()) {
            char d = u[q + 3];
            return d == '\\' ? u[q + 4] : d;
        }
    }
    fail("no delimiter in LIST reply");
}

std::vector<std::string> RawIMAPClient::listMailboxes()
{
    Reply r = check("LIST \"\" \"*\"");
    std::vector<std::string> out;
    for (const auto& u : r.find("LIST")) {
        // * LIST (\HasNoChildren) "/" name   -- name quoted, atom or literal
        std::string s = u.substr(0, u.size() - 2);
        std::size_t close = s.find(')');
        std::size_t afterDelim = s.find(' ', s.find(' ', close + 1) + 1);
        std::string name = s.substr(afterDelim + 1);
        std::size_t n = 0;
        std::size_t brace = name.find("}\r\n");
        if (brace != std::string::npos && literalAtEnd(std::string_view(name).substr(0, brace + 1), n)) {
            name = name.substr(brace + 3, n);
        } else if (name.size() >= 2 && name.front() == '"') {
            std::string unq;
            for (std::size_t i = 1; i + 1 < name.size(); ++i) {
                if (name[i] == '\\' && i + 2 < name.size()) ++i;
                unq += name[i];
            }
            name = unq;
        }
        out.push_back(decodeMailboxName(name));
    }
    return out;
}

void RawIMAPClient::createMailbox(std::string_view name)
{
    Reply r = command("CREATE " + imapString(encodeMailboxName(name)));
    if (r.ok() || r.tagged.find("[ALREADYEXISTS]") != std::string::npos) return;
    fail("CREATE " + std::string(name) + " -> " + r.tagged);
}

std::vector<uint32_t> RawIMAPClient::append(std::string_view mailbox, const std::vector<SeedMessage>& messages)
{
    std::vector<uint32_t> uids;
    if (messages.empty()) return uids;
    std::string box = imapString(encodeMailboxName(mailbox));
    if (upper(mailbox) != "INBOX") createMailbox(mailbox);
    constexpr std::size_t kBatch = 500;
    for (std::size_t start = 0; start < messages.size(); start += kBatch) {
        std::size_t end = std::min(messages.size(), start + kBatch);
        // Where the batch's UIDs start, for servers that do not say APPENDUID.
        Reply st = check("STATUS " + box + " (UIDNEXT)");
        uint32_t next = 0;
        for (const auto& u : st.find("STATUS")) {
            std::size_t p = upper(u).find("UIDNEXT ");
            if (p != std::string::npos) next = static_cast<uint32_t>(std::stoul(u.substr(p + 8)));
        }
        std::string cmd = "APPEND " + box;
        for (std::size_t i = start; i < end; ++i) {
            const SeedMessage& m = messages[i];
            cmd += " (";
            for (std::size_t f = 0; f < m.flags.size(); ++f) {
                if (f != 0) cmd += ' ';
                cmd += m.flags[f];
            }
            cmd += ')';
            if (m.internalDate != std::chrono::system_clock::time_point{}) {
                cmd += " \"" + imapDate(m.internalDate) + "\"";
            }
            cmd += " {" + std::to_string(m.bytes.size()) + "+}\r\n";
            cmd += m.bytes;
        }
        Reply r = check(cmd);
        std::size_t p = upper(r.tagged).find("[APPENDUID ");
        std::vector<uint32_t> got;
        if (p != std::string::npos) {
            std::istringstream in(r.tagged.substr(p + 11));
            std::string validity, set;
            in >> validity >> set;
            if (!set.empty() && set.back() == ']') set.pop_back();
            std::istringstream parts(set);
            std::string part;
            while (std::getline(parts, part, ',')) {
                std::size_t colon = part.find(':');
                uint32_t a = static_cast<uint32_t>(std::stoul(part.substr(0, colon)));
                uint32_t b = colon == std::string::npos ? a : static_cast<uint32_t>(std::stoul(part.substr(colon + 1)));
                if (a > b) std::swap(a, b);
                for (uint64_t u = a; u <= b; ++u) got.push_back(static_cast<uint32_t>(u));
            }
        }
        if (got.size() != end - start) {
            got.clear();
            for (std::size_t i = start; i < end; ++i) got.push_back(next + static_cast<uint32_t>(i - start));
        }
        uids.insert(uids.end(), got.begin(), got.end());
    }
    return uids;
}

void RawIMAPClient::expunge(std::string_view mailbox, const std::vector<uint32_t>& uids)
{
    if (uids.empty()) return;
    std::string set;
    for (uint32_t u : uids) {
        if (!set.empty()) set += ',';
        set += std::to_string(u);
    }
    check("SELECT " + imapString(encodeMailboxName(mailbox)));
    check("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)");
    check("UID EXPUNGE " + set);
}

RawIMAPClient::Reply RawIMAPClient::examine(std::string_view mailbox)
{
    return check("EXAMINE " + imapString(encodeMailboxName(mailbox)));
}

std::vector<uint32_t> RawIMAPClient::uids(std::string_view mailbox)
{
    examine(mailbox);
    Reply r = check("UID SEARCH ALL");
    std::vector<uint32_t> out;
    for (const auto& u : r.find("SEARCH")) {
        std::istringstream in(u.substr(std::strlen("* SEARCH")));
        uint32_t n;
        while (in >> n) out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

uint32_t RawIMAPClient::uidValidity(std::string_view mailbox)
{
    Reply r = examine(mailbox);
    for (const auto& u : r.untagged) {
        std::size_t p = upper(u).find("[UIDVALIDITY ");
        if (p != std::string::npos) return static_cast<uint32_t>(std::stoul(u.substr(p + 13)));
    }
    fail("no UIDVALIDITY for " + std::string(mailbox));
}

namespace {

// The value of one FETCH item from a raw FETCH response (atom, quoted,
// parenthesised list or literal), or nullopt-like empty with found=false.
bool fetchItem(const std::string& resp, std::string_view item, std::string& value)
{
    std::string up = upper(resp);
    std::string key = " " + upper(item) + " ";
    std::size_t p = up.find(key);
    if (p == std::string::npos) {
        key = "(" + upper(item) + " ";
        p = up.find(key);
        if (p == std::string::npos) return false;
    }
    std::size_t v = p + key.size();
    if (resp[v] == '{') {
        std::size_t close = resp.find('}', v);
        std::size_t n = std::stoul(resp.substr(v + 1, close - v - 1));
        value = resp.substr(close + 3, n);
    } else if (resp[v] == '"') {
        std::size_t e = v + 1;
        value.clear();
        while (e < resp.size() && resp[e] != '"') {
            if (resp[e] == '\\') ++e;
            value += resp[e++];
        }
    } else if (resp[v] == '(') {
        std::size_t e = resp.find(')', v);
        value = resp.substr(v + 1, e - v - 1);
    } else {
        std::size_t e = resp.find_first_of(" )", v);
        value = resp.substr(v, e - v);
    }
    return true;
}

}  // namespace

std::string RawIMAPClient::fetchRaw(std::string_view mailbox, uint32_t uid)
{
    examine(mailbox);
    Reply r = check("UID FETCH " + std::to_string(uid) + " (BODY.PEEK[])");
    for (const auto& u : r.untagged) {
        std::string v;
        if (u.find(" FETCH ") != std::string::npos && fetchItem(u, "BODY[]", v)) return v;
    }
    fail("no message with UID " + std::to_string(uid) + " in " + std::string(mailbox));
}

std::vector<std::string> RawIMAPClient::flags(std::string_view mailbox, uint32_t uid)
{
    examine(mailbox);
    Reply r = check("UID FETCH " + std::to_string(uid) + " (FLAGS)");
    for (const auto& u : r.untagged) {
        std::string v;
        if (u.find(" FETCH ") != std::string::npos && fetchItem(u, "FLAGS", v)) {
            std::istringstream in(v);
            std::vector<std::string> out;
            std::string f;
            while (in >> f) out.push_back(f);
            return out;
        }
    }
    fail("no message with UID " + std::to_string(uid) + " in " + std::string(mailbox));
}

std::string RawIMAPClient::internalDate(std::string_view mailbox, uint32_t uid)
{
    examine(mailbox);
    Reply r = check("UID FETCH " + std::to_string(uid) + " (INTERNALDATE)");
    for (const auto& u : r.untagged) {
        std::string v;
        if (u.find(" FETCH ") != std::string::npos && fetchItem(u, "INTERNALDATE", v)) return v;
    }
    fail("no message with UID " + std::to_string(uid) + " in " + std::string(mailbox));
}

std::string imapString(std::string_view s)
{
    bool literal = false;
    for (unsigned char c : s) {
        if (c == '\r' || c == '\n' || c == 0 || c > 127) literal = true;
    }
    if (literal) return "{" + std::to_string(s.size()) + "+}\r\n" + std::string(s);
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string encodeMailboxName(std::string_view utf8)
{
    std::string out;
    std::vector<uint16_t> pending;
    auto flush = [&] {
        if (pending.empty()) return;
        out += '&';
        uint32_t bits = 0;
        int nbits = 0;
        for (uint16_t u : pending) {
            bits = (bits << 16) | u;
            nbits += 16;
            while (nbits >= 6) {
                nbits -= 6;
                out += kB64[(bits >> nbits) & 0x3F];
            }
        }
        if (nbits > 0) out += kB64[(bits << (6 - nbits)) & 0x3F];
        out += '-';
        pending.clear();
    };
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c <= 0x7E) {
            flush();
            out += c == '&' ? std::string("&-") : std::string(1, static_cast<char>(c));
            ++i;
            continue;
        }
        uint32_t cp = 0;
        int len = 1;
        if (c < 0x80) cp = c;
        else if ((c >> 5) == 6) { cp = c & 0x1F; len = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; len = 3; }
        else { cp = c & 0x07; len = 4; }
        for (int k = 1; k < len && i + static_cast<std::size_t>(k) < utf8.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
        }
        i += static_cast<std::size_t>(len);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            pending.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
            pending.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            pending.push_back(static_cast<uint16_t>(cp));
        }
    }
    flush();
    return out;
}

std::string decodeMailboxName(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        std::size_t end = s.find('-', i);
        if (end == std::string_view::npos) end = s.size();
        if (end == i + 1) {
            out += '&';
            i = end + 1;
            continue;
        }
        uint32_t bits = 0;
        int nbits = 0;
        std::vector<uint16_t> units;
        for (std::size_t k = i + 1; k < end; ++k) {
            const char* p = std::strchr(kB64, s[k]);
            if (p == nullptr) continue;
            bits = (bits << 6) | static_cast<uint32_t>(p - kB64);
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                units.push_back(static_cast<uint16_t>((bits >> nbits) & 0xFFFF));
            }
        }
        for (std::size_t k = 0; k < units.size(); ++k) {
            uint32_t u = units[k];
            if (u >= 0xD800 && u < 0xDC00 && k + 1 < units.size()) {
                u = 0x10000 + ((u - 0xD800) << 10) + (units[k + 1] - 0xDC00);
                ++k;
            }
            appendUtf8(out, u);
        }
        i = end + 1;
    }
    return out;
}

std::string imapDate(std::chrono::system_clock::time_point t)
{
    std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%s-%04d %02d:%02d:%02d +0000", tm.tm_mday, months[tm.tm_mon],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string makeMessage(std::string_view subject, std::string_view body, std::string_view from,
                        std::string_view to, const std::vector<std::string>& extraHeaders)
{
    unsigned n = ++messageCounter;
    std::string m;
    m += "From: ";
    m += from;
    m += "\r\nTo: ";
    m += to;
    m += "\r\nSubject: ";
    m += subject;
    m += "\r\nDate: Thu, 01 Jan 2026 10:00:00 +0000\r\nMessage-ID: <test-" + std::to_string(::getpid()) + "-" +
         std::to_string(n) + "@brindlebox.test>\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n";
    for (const auto& h : extraHeaders) m += h + "\r\n";
    m += "\r\n";
    m += body;
    return m;
}

}  // namespace bx::test
