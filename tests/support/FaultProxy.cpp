#include "FaultProxy.h"

#include "Ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace bx::test {

using namespace std::chrono_literals;

struct FaultProxy::Session {
    int client = -1;
    int server = -1;
    std::mutex writeMutex;
    std::string dropOnTag;
    std::mutex tagMutex;
    std::thread reader, pump;
};

namespace {

bool sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool readMore(int fd, std::string& buffer) {
    char chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
}

// One whole server response (a line plus any literals it announces).
std::optional<std::string> cutResponse(std::string& buffer) {
    size_t pos = 0;
    for (;;) {
        size_t eol = buffer.find("\r\n", pos);
        if (eol == std::string::npos) return std::nullopt;
        size_t literal = 0;
        if (eol > 0 && buffer[eol - 1] == '}') {
            size_t open = buffer.rfind('{', eol);
            if (open != std::string::npos && open >= pos)
                literal = std::strtoull(buffer.c_str() + open + 1, nullptr, 10);
        }
        if (literal == 0) {
            std::string out = buffer.substr(0, eol + 2);
            buffer.erase(0, eol + 2);
            return out;
        }
        if (buffer.size() < eol + 2 + literal) return std::nullopt;
        pos = eol + 2 + literal;
    }
}

void closeBoth(int client, int server) {
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
}

}  // namespace

FaultProxy::FaultProxy(std::uint16_t upstream, Rule rule, ReplyFilter filter)
    : upstream_(upstream), rule_(std::move(rule)), filter_(std::move(filter)) {
    listen_ = listenOnLoopback(port_, 16, "proxy");
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy() {
    stopping_ = true;
    acceptor_.join();
    // Joined without the lock: a reader thread takes it to record a command.
    std::vector<std::unique_ptr<Session>> sessions;
    {
        std::lock_guard lock(mutex_);
        sessions.swap(sessions_);
    }
    for (auto& s : sessions) {
        ::shutdown(s->client, SHUT_RDWR);
        ::shutdown(s->server, SHUT_RDWR);
    }
    for (auto& s : sessions) {
        if (s->reader.joinable()) s->reader.join();
        if (s->pump.joinable()) s->pump.join();
        ::close(s->client);
        ::close(s->server);
    }
}

std::vector<std::string> FaultProxy::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

int FaultProxy::connections() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(sessions_.size());
}

void FaultProxy::refuseNewConnections() {
    refuse_ = true;
    while (!listenerClosed_) std::this_thread::sleep_for(1ms);
}

void FaultProxy::acceptLoop() {
    while (!stopping_) {
        if (refuse_) break;
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(upstream_);
        int one = 1;
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(client);
            ::close(server);
            continue;
        }
        auto s = std::make_unique<Session>();
        s->client = client;
        s->server = server;
        Session* raw = s.get();
        std::lock_guard lock(mutex_);
        sessions_.push_back(std::move(s));
        raw->pump = std::thread([this, raw] { pumpLoop(*raw); });
        raw->reader = std::thread([this, raw] { readLoop(*raw); });
    }
    ::close(listen_);
    listenerClosed_ = true;
}

void FaultProxy::pumpLoop(Session& s) {
    std::string buffer;
    while (readMore(s.server, buffer)) {
        while (auto response = cutResponse(buffer)) {
            {
                std::lock_guard lock(s.tagMutex);
                if (!s.dropOnTag.empty() && response->rfind(s.dropOnTag + " ", 0) == 0) {
                    closeBoth(s.client, s.server);
                    return;
                }
            }
            if (filter_) filter_(*response);
            std::lock_guard lock(s.writeMutex);
            if (!sendAll(s.client, *response)) return;
        }
    }
    ::shutdown(s.client, SHUT_RDWR);
}

void FaultProxy::readLoop(Session& s) {
    std::string buffer;
    while (readMore(s.client, buffer)) {
        size_t eol;
        while ((eol = buffer.find("\r\n")) != std::string::npos) {
            std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 2);
            const size_t space = line.find(' ');
            const std::string tag = line.substr(0, space);
            const std::string command = space == std::string::npos ? "" : line.substr(space + 1);
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(command);
            }
            Decision d = rule_ ? rule_(command) : Decision{};
            switch (d.action) {
            case Action::forward:
                if (!sendAll(s.server, line + "\r\n")) return;
                break;
            case Action::answerNo: {
                std::lock_guard lock(s.writeMutex);
                if (!sendAll(s.client, tag + " NO " + d.text + "\r\n")) return;
                break;
            }
            case Action::forwardThenDrop: {
                {
                    std::lock_guard lock(s.tagMutex);
                    s.dropOnTag = tag;
                }
                if (!sendAll(s.server, line + "\r\n")) return;
                break;
            }
            case Action::dropBeforeForward:
                closeBoth(s.client, s.server);
                return;
            }
        }
    }
    ::shutdown(s.server, SHUT_WR);
}

}  // namespace bx::test
