#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace quillon {

// How a command ran.
struct CommandResult {
    bool started = false;   // false: the shell could not be started; error says why
    bool timedOut = false;  // it ran past its bound and was ended, its helpers with it
    bool stopped = false;   // a stop request ended it
    int exitCode = -1;      // its exit status when it ended by itself
    int signal = 0;         // the signal that ended it, 0 for none
    std::string error;

    bool Succeeded() const { return started && !timedOut && !stopped && exitCode == 0; }
    // "exited with 3", "was ended after 10 s", "was killed by signal 9".
    std::string Outcome() const;
};

// Runs a command through the system's shell (/bin/sh -c; on Windows the
// system's cmd.exe /d /v:off /s /c), with nothing on its input, in a process
// group (a job) of its own, so that ending it ends whatever it started too.
// Each line it writes, on either stream, goes to onLine in UTF-8. It is
// ended when it runs past timeout or a stop is requested.
CommandResult RunShellCommand(const std::string& command, std::chrono::milliseconds timeout,
                              const std::stop_token& stop,
                              const std::function<void(const std::string&)>& onLine);

// The text as one word of the shell's: a device path put into a command can
// never run a command of its own. None for a text the shell has no way to
// quote (cmd.exe: a double quote, a percent sign, a line break, a NUL, or
// a backslash at its end).
std::optional<std::string> QuoteForShell(const std::string& text);

}  // namespace quillon
