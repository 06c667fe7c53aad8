#include "Shell/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace bx::TerminationSignals {
namespace {

int pipeEnds[2] = {-1, -1};

void onSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // Nothing else is safe here; a full pipe already holds a wake-up.
  [[maybe_unused]] const auto n = ::write(pipeEnds[0], &byte, 1);
  errno = saved;
}

} // namespace

void install(std::function<void()> quit) {
  if (pipeEnds[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) return;
  auto* notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [quit = std::move(quit)] {
    char buf[16];
    while (::read(pipeEnds[1], buf, sizeof buf) > 0) {
    }
    quit();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: the next signal of the kind takes the default action.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace bx::TerminationSignals
