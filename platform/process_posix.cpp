#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/output_lines.h"

extern char** environ;

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A command that does not end on SIGTERM gets SIGKILL after this.
constexpr auto kTermGrace = 500ms;
constexpr auto kPollSlice = 50ms;

// The process starts clean: no signal we ignore stays ignored, none is
// blocked, and it leads a group of its own.
bool Spawn(const std::string& command, int output, pid_t& pid, int& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string shell = "/bin/sh";
    std::string flag = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};
    error = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0;
}

// Reads what has come, for at most the slice; false once the output ended.
bool ReadOutput(int fd, detail::OutputLines& lines, std::chrono::milliseconds slice) {
    pollfd wanted{fd, POLLIN, 0};
    if (::poll(&wanted, 1, static_cast<int>(slice.count())) <= 0) {
        return true;
    }
    char buffer[1024];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        lines.Add(buffer, static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && (errno == EAGAIN || errno == EINTR);
}

void EndGroup(pid_t group, int& status) {
    ::kill(-group, SIGTERM);
    auto deadline = Clock::now() + kTermGrace;
    while (::waitpid(group, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(-group, SIGKILL);
            ::waitpid(group, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(-group, SIGKILL);  // what the shell started and left behind
}

}  // namespace

CommandResult RunShellCommand(const std::string& command, std::chrono::milliseconds timeout,
                              const std::stop_token& stop,
                              const std::function<void(const std::string&)>& onLine) {
    CommandResult result;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    pid_t pid = -1;
    int error = 0;
    bool spawned = Spawn(command, pipe[1], pid, error);
    ::close(pipe[1]);
    if (!spawned) {
        ::close(pipe[0]);
        result.error = std::strerror(error);
        return result;
    }
    result.started = true;
    detail::OutputLines lines(onLine);
    auto deadline = Clock::now() + timeout;
    int status = 0;
    bool open = true;
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            // Whatever it wrote before it ended is still said.
            while (open && (open = ReadOutput(pipe[0], lines, 0ms))) {
                pollfd more{pipe[0], POLLIN, 0};
                if (::poll(&more, 1, 0) <= 0) {
                    break;
                }
            }
            ::kill(-pid, SIGKILL);  // nothing it started outlives it
            break;
        }
        result.stopped = stop.stop_requested();
        result.timedOut = !result.stopped && Clock::now() >= deadline;
        if (result.stopped || result.timedOut) {
            EndGroup(pid, status);
            break;
        }
        if (open) {
            open = ReadOutput(pipe[0], lines, kPollSlice);
        } else {
            std::this_thread::sleep_for(kPollSlice);
        }
    }
    lines.Finish();
    ::close(pipe[0]);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::optional<std::string> QuoteForShell(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace quillon
