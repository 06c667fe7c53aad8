#pragma once
// Child processes for tests: run a command to completion with its output
// captured, or start a background server that can never outlive the test.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace bx::test {

struct CommandResult {
    int exitCode = -1;  // exit status, or 128 + signal number
    std::string out;    // everything written to stdout
    std::string err;    // everything written to stderr
    bool ok() const { return exitCode == 0; }
};

// Runs argv[0] (looked up in PATH) with stdin from /dev/null, waits for it and
// returns its exit code and output. `input`, when given, is fed on stdin.
// The child inherits no file descriptor but 0, 1, 2.
CommandResult runCommand(const std::vector<std::string>& argv, const std::string* input = nullptr);

// Starts a long-running server process:
// - in its own process group (so stopping it also reaches its helpers),
// - with PR_SET_PDEATHSIG = SIGTERM, so it is told to stop if the test
//   process dies (even by SIGKILL); the fork is done by a helper thread that
//   lives as long as the process, so any thread may call this,
// - with stdin from /dev/null and stdout + stderr appended to `outputFile`,
// - registered for an atexit() clean-up in case the owner never stops it.
pid_t spawnServer(const std::vector<std::string>& argv, const std::filesystem::path& outputFile);

// True while the process has not exited (does not reap it).
bool serverRunning(pid_t pid);

// Sends SIGTERM, waits up to `grace` for the process to exit, then SIGKILLs
// its whole process group and reaps it (grace 0: SIGKILL at once). Safe to
// call for an already dead pid that was started by spawnServer.
void stopServer(pid_t pid, std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

}  // namespace bx::test
