#include "Ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bx::test {

uint16_t freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        int e = errno;
        ::close(fd);
        throw std::runtime_error(std::string("bind: ") + std::strerror(e));
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

int listenOnLoopback(uint16_t& port, int backlog, const char* who)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string(who) + ": socket: " + std::strerror(errno));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        int e = errno;
        ::close(fd);
        throw std::runtime_error(std::string(who) + ": listen: " + std::strerror(e));
    }
    port = ntohs(a.sin_port);
    return fd;
}

SilentPort::SilentPort()
{
    fd_ = listenOnLoopback(port_, 8, "silent port");
}

SilentPort::~SilentPort()
{
    ::close(fd_);
}

}  // namespace bx::test
