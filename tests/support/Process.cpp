#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace bx::test {
namespace {

// Only async-signal-safe calls may run in the child between fork and exec.
void closeFrom(int first)
{
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, first, ~0U, 0) == 0) return;
#endif
    for (int fd = first; fd < 4096; ++fd) ::close(fd);
}

std::vector<char*> cArgv(const std::vector<std::string>& argv)
{
    std::vector<char*> out;
    out.reserve(argv.size() + 1);
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}

std::set<pid_t>& registry()
{
    static std::set<pid_t>* s = new std::set<pid_t>();  // never destroyed: used from atexit
    return *s;
}

pid_t& registryOwner()
{
    static pid_t owner = 0;
    return owner;
}

// A child forked from a test process inherits the registry, but the servers
// in it are its parent's: forget them. Also (re)marks this process as the
// subreaper, which a fork does not inherit. Call with the registry mutex held.
void adoptRegistry()
{
    if (registryOwner() == ::getpid()) return;
    registry().clear();
    registryOwner() = ::getpid();
    // Orphans of a server (its helpers, once the server itself is killed)
    // become our children, so stopServer can reap them instead of leaving
    // zombies behind under an init that does not reap.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

void killAllAtExit()
{
    std::set<pid_t> pids;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        if (registryOwner() != ::getpid()) return;
        pids = registry();
    }
    for (pid_t p : pids) stopServer(p, std::chrono::milliseconds(1000));
}

// pid 0 only performs the set-up.
void registerPid(pid_t pid)
{
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(killAllAtExit); });
    std::lock_guard<std::mutex> lock(registryMutex());
    adoptRegistry();
    if (pid > 0) registry().insert(pid);
}

bool unregisterPid(pid_t pid)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    adoptRegistry();
    return registry().erase(pid) > 0;
}

int decodeStatus(int status)
{
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

CommandResult runCommand(const std::vector<std::string>& argv, const std::string* input)
{
    if (argv.empty()) throw std::invalid_argument("runCommand: empty argv");
    int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    if (input != nullptr && ::pipe2(inPipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    std::vector<char*> args = cArgv(argv);
    pid_t pid = ::fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid == 0) {
        int in = input != nullptr ? inPipe[0] : ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        closeFrom(3);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (input != nullptr) {
        ::close(inPipe[0]);
        // Feed stdin while draining stdout/stderr so neither side blocks.
    }
    CommandResult r;
    std::size_t inOff = 0;
    int inFd = input != nullptr ? inPipe[1] : -1;
    if (inFd >= 0 && input->empty()) {
        ::close(inFd);
        inFd = -1;
    }
    if (inFd >= 0) ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen || inFd >= 0) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) { outIdx = n; fds[n++] = {outPipe[0], POLLIN, 0}; }
        if (errOpen) { errIdx = n; fds[n++] = {errPipe[0], POLLIN, 0}; }
        if (inFd >= 0) { inIdx = n; fds[n++] = {inFd, POLLOUT, 0}; }
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto drain = [&](int idx, int fd, std::string& into, bool& open) {
            if (idx < 0 || fds[idx].revents == 0) return;
            ssize_t k = ::read(fd, buf, sizeof buf);
            if (k > 0) into.append(buf, static_cast<std::size_t>(k));
            else if (k == 0 || errno != EINTR) open = false;
        };
        drain(outIdx, outPipe[0], r.out, outOpen);
        drain(errIdx, errPipe[0], r.err, errOpen);
        if (inIdx >= 0 && fds[inIdx].revents != 0) {
            ssize_t k = ::write(inFd, input->data() + inOff, input->size() - inOff);
            if (k > 0) inOff += static_cast<std::size_t>(k);
            if (k < 0 && errno != EAGAIN && errno != EINTR) inOff = input->size();
            if (inOff >= input->size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    r.exitCode = decodeStatus(status);
    return r;
}

namespace {

// PR_SET_PDEATHSIG fires when the thread that forked exits, not the process.
// Servers are therefore forked by one thread that lives as long as the
// process, whichever thread asks for them.
class Spawner {
public:
    static Spawner& get()
    {
        static std::mutex m;
        static Spawner* s = nullptr;  // never destroyed: its thread must outlive everything
        static pid_t owner = 0;
        std::lock_guard<std::mutex> lock(m);
        if (s == nullptr || owner != ::getpid()) {
            // First use, or a forked child, where the thread did not survive
            // the fork (the parent's object is left alone).
            s = new Spawner();
            owner = ::getpid();
        }
        return *s;
    }

    pid_t run(std::function<pid_t()> f)
    {
        std::packaged_task<pid_t()> task(std::move(f));
        std::future<pid_t> result = task.get_future();
        {
            std::lock_guard<std::mutex> lock(m_);
            jobs_.push_back(std::move(task));
        }
        cv_.notify_one();
        return result.get();
    }

private:
    Spawner()
    {
        std::thread([this] {
            for (;;) {
                std::packaged_task<pid_t()> job;
                {
                    std::unique_lock<std::mutex> lock(m_);
                    cv_.wait(lock, [&] { return !jobs_.empty(); });
                    job = std::move(jobs_.front());
                    jobs_.pop_front();
                }
                job();
            }
        }).detach();
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::packaged_task<pid_t()>> jobs_;
};

pid_t spawnHere(const std::vector<std::string>& argv, const std::filesystem::path& outputFile)
{
    std::vector<char*> args = cArgv(argv);
    std::string out = outputFile.string();
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);  // the parent is already gone
        int in = ::open("/dev/null", O_RDONLY);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(o, 2);
        closeFrom(3);
        // Undo a blocked or ignored SIGTERM inherited from the test process.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also from this side, so the group exists before we return
    return pid;
}

}  // namespace

pid_t spawnServer(const std::vector<std::string>& argv, const std::filesystem::path& outputFile)
{
    if (argv.empty()) throw std::invalid_argument("spawnServer: empty argv");
    registerPid(0);  // sets up the exit clean-up and the subreaper before the first fork
    pid_t pid = Spawner::get().run([&] { return spawnHere(argv, outputFile); });
    registerPid(pid);
    return pid;
}

bool serverRunning(pid_t pid)
{
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == 0;
}

void stopServer(pid_t pid, std::chrono::milliseconds grace)
{
    if (pid <= 0 || !unregisterPid(pid)) return;
    if (grace.count() > 0) ::kill(pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (serverRunning(pid) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The leader is now a zombie (or still running): its pid, and so the
    // group id, cannot be reused yet, so the group kill is safe.
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    // Reap the rest of the group (they were re-parented to us).
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t r = ::waitpid(-pid, &status, WNOHANG);
        if (r < 0 && errno != EINTR) break;  // ECHILD: none left
        if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace bx::test
