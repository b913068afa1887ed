#include "platform/process.h"

#include <windows.h>

#include <thread>

#include "platform/support_win32.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPollSlice = 50ms;

struct Handle {
    HANDLE value = nullptr;
    ~Handle() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE) {
            ::CloseHandle(value);
        }
    }
};

// What the pipe holds now, without waiting.
void ReadAvailable(HANDLE pipe, std::string& pending,
                   const std::function<void(const std::string&)>& onLine) {
    DWORD available = 0;
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[1024];
        DWORD got = 0;
        if (!::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            return;
        }
        pending.append(buffer, got);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (onLine) {
                onLine(line);
            }
            pending.erase(0, end + 1);
        }
    }
}

}  // namespace

// A job holds the command and all it starts, so that ending it ends them all.
CommandResult RunShellCommand(const std::string& command, std::chrono::milliseconds timeout,
                              const std::stop_token& stop,
                              const std::function<void(const std::string&)>& onLine) {
    CommandResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle read;
    Handle write;
    if (!::CreatePipe(&read.value, &write.value, &inherit, 0)) {
        result.error = detail::Win32Message(::GetLastError());
        return result;
    }
    ::SetHandleInformation(read.value, HANDLE_FLAG_INHERIT, 0);
    Handle job;
    job.value = ::CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = write.value;
    startup.hStdError = write.value;
    std::wstring line = L"cmd.exe /d /s /c \"" + detail::Wide(command) + L"\"";
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                          CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &process)) {
        result.error = detail::Win32Message(::GetLastError());
        return result;
    }
    Handle processHandle{process.hProcess};
    Handle threadHandle{process.hThread};
    ::AssignProcessToJobObject(job.value, process.hProcess);
    ::ResumeThread(process.hThread);
    ::CloseHandle(write.value);
    write.value = nullptr;
    result.started = true;
    auto deadline = Clock::now() + timeout;
    std::string pending;
    for (;;) {
        ReadAvailable(read.value, pending, onLine);
        if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(kPollSlice.count())) ==
            WAIT_OBJECT_0) {
            ReadAvailable(read.value, pending, onLine);
            break;
        }
        result.stopped = stop.stop_requested();
        result.timedOut = !result.stopped && Clock::now() >= deadline;
        if (result.stopped || result.timedOut) {
            ::TerminateJobObject(job.value, 1);
            ::WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    ::TerminateJobObject(job.value, 1);  // what it started and left behind
    if (!pending.empty() && onLine) {
        onLine(pending);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

// cmd.exe takes a word in double quotes, but has no escape for a double
// quote inside one, and expands %NAME% even there: such a value is refused.
std::optional<std::string> QuoteForShell(const std::string& text) {
    if (text.find_first_of("\"%") != std::string::npos) {
        return std::nullopt;
    }
    return "\"" + text + "\"";
}

}  // namespace quillon
