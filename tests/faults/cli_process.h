#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/temp_dir.h"

namespace quillon::testing {

// The built quillon-cli as its own process, with its output in files, so
// that a test can watch its progress, signal it, and tell a hang from an end.
class CliProcess {
public:
    // Runs in the child just before the program starts (limits, user).
    using Prepare = std::function<void()>;

    // Exit code for a child that could not start the program.
    static constexpr int kNotStarted = 126;

    explicit CliProcess(std::vector<std::string> arguments, Prepare prepare = {}) {
        std::string out = m_scratch / "out";
        std::string err = m_scratch / "err";
        m_pid = ::fork();
        if (m_pid == 0) {
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(QUILLON_CLI));
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            std::FILE* o = std::freopen(out.c_str(), "w", stdout);
            std::FILE* e = std::freopen(err.c_str(), "w", stderr);
            if (o == nullptr || e == nullptr) {
                ::_exit(kNotStarted);
            }
            std::FILE* in = std::freopen("/dev/null", "r", stdin);
            (void)in;
            if (prepare) {
                prepare();
            }
            ::execv(QUILLON_CLI, argv.data());
            ::_exit(kNotStarted);
        }
    }
    ~CliProcess() {
        if (m_pid > 0 && !m_ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    std::string Out() const { return m_scratch.Read("out"); }
    std::string Err() const { return m_scratch.Read("err"); }

    // Until the output holds text; false when the program ended or the time ran out first.
    bool WaitForOutput(const std::string& text,
                       std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (Out().find(text) == std::string::npos) {
            if (HasEnded() || std::chrono::steady_clock::now() > deadline) {
                return Out().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    void Signal(int signal) const { ::kill(m_pid, signal); }
    pid_t Pid() const { return m_pid; }

    // The exit code; -1 for a program that had to be killed because it did
    // not end in time (a hang) or that died of a signal.
    int Finish(std::chrono::milliseconds limit = std::chrono::seconds(90)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!HasEnded()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &m_status, 0);
                m_ended = true;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }

    // The signal that ended the program, 0 when it exited.
    int TermSignal() const { return m_ended && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }

    // The last line of the standard output, without its line end.
    std::string LastLine() const {
        std::string text = Out();
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        std::size_t start = text.rfind('\n');
        return start == std::string::npos ? text : text.substr(start + 1);
    }

private:
    bool HasEnded() {
        if (!m_ended && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
            m_ended = true;
        }
        return m_ended;
    }

    TempDir m_scratch;
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_ended = false;
};

// The other end of a pseudo-terminal, held by the test: a box that never speaks.
class SilentLine {
public:
    SilentLine() {
        // Not inherited by the tool: only the test holds the box's end.
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        m_slave = ::ptsname(m_master);
    }
    ~SilentLine() { Unplug(); }
    const std::string& Device() const { return m_slave; }
    // Bytes the tool wrote to the line, not read by anyone.
    int Written() const {
        int count = 0;
        return ::ioctl(m_master, FIONREAD, &count) == 0 ? count : -1;
    }
    void Unplug() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

private:
    int m_master = -1;
    std::string m_slave;
};

}  // namespace quillon::testing
