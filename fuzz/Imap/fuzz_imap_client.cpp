// Feeds IMAPClient a scripted server stream over loopback and drives it
// through a backup's and a release's command sequence. Every input is the
// whole of what the server says; the client's tags are B0001, B0002, ... so
// seeds can answer them. Failures must be IMAPError, IMAPParseError or an
// error from a handler, never a crash, a hang or a leak.
#include "Imap/IMAPClient.h"
#include "Imap/IMAPParseError.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <thread>

namespace {

struct Listener {
    int fd = -1;
    uint16_t port = 0;
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) std::abort();
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
};

void serve(int listenFd, const uint8_t* data, size_t size) {
    int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    size_t off = 0;
    while (off < size) {
        ssize_t n = ::send(c, data + off, size - off, MSG_NOSIGNAL);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    ::shutdown(c, SHUT_WR);
    char sink[4096];
    while (::recv(c, sink, sizeof sink, 0) > 0) {
    }
    ::close(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Listener listener;
    std::thread server(serve, listener.fd, data, size);
    {
        bx::IMAPClient client(bx::IMAPServer("127.0.0.1", listener.port, true), 2);
        try {
            client.connect();
            client.login("user", "pässword");
            client.list();
            auto info = client.select("INBOX", false);
            (void)info;
            auto uids = client.uidSearch("UID 1:*");
            client.fetchMeta({1, 2, 3});
            client.fetchBodies({1, 2, 3}, [](bx::IMAPFetchItem&& item) {
                if (item.body && item.body->size() == 13) throw std::runtime_error("handler");
            });
            client.markDeleted({1});
            client.expunge({1});
            client.unmarkDeleted({2});
        } catch (const bx::IMAPError&) {
        } catch (const bx::IMAPParseError&) {
        } catch (const std::runtime_error&) {
        }
        client.logout();
    }
    server.join();
    return 0;
}
