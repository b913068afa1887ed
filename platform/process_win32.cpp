#include "platform/process.h"

#include <windows.h>
// windows.h first: tlhelp32.h takes its types from it.
#include <tlhelp32.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/output_lines.h"
#include "platform/support_win32.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPollSlice = 50ms;
constexpr int kReadsPerSlice = 64;
// An ended process is gone within moments; a wait for it is never longer.
constexpr DWORD kEndWaitMs = 5000;
// Processes a command starts while its tree is being ended are looked for
// again, this many times at most.
constexpr int kTreeRounds = 4;

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : value(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE) {
            ::CloseHandle(value);
        }
    }
    bool Valid() const { return value != nullptr && value != INVALID_HANDLE_VALUE; }
};

// The system's own cmd.exe, by its full path: a bare name is looked for in
// the current folder before the system's.
std::wstring SystemShell() {
    UINT size = ::GetSystemDirectoryW(nullptr, 0);
    std::wstring folder(size, L'\0');
    UINT length = size == 0 ? 0 : ::GetSystemDirectoryW(folder.data(), size);
    if (length == 0 || length >= size) {
        return {};
    }
    folder.resize(length);
    return folder + L"\\cmd.exe";
}

// Console programs write to a pipe in their console's output code page:
// ours, which the command shares, else that of the console it is given,
// which is the system's OEM code page (866, 932) whatever our manifest
// makes of ours.
UINT CommandCodePage() {
    UINT codePage = ::GetConsoleOutputCP();
    DWORD systems = 0;
    if (codePage == 0 &&
        ::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTCODEPAGE | LOCALE_RETURN_NUMBER,
                         reinterpret_cast<LPWSTR>(&systems),
                         sizeof systems / sizeof(wchar_t)) > 0) {
        codePage = systems;
    }
    return codePage != 0 ? codePage : CP_ACP;
}

// A line as the command wrote it, in UTF-8. A line that is
// UTF-8 already is taken as it is: a program that writes UTF-8 whatever
// the code page, or a console set to UTF-8 (the system's option for it).
std::string LineInUtf8(std::string line) {
    if (line.empty() || line.size() > INT_MAX) {
        return line;
    }
    int size = static_cast<int>(line.size());
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), size, nullptr, 0) > 0) {
        return line;
    }
    UINT codePage = CommandCodePage();
    int length = ::MultiByteToWideChar(codePage, 0, line.data(), size, nullptr, 0);
    if (length <= 0) {
        codePage = CP_ACP;  // a code page the system has no table for
        length = ::MultiByteToWideChar(codePage, 0, line.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(codePage, 0, line.data(), size, wide.data(), length);
    return detail::Utf8(wide);
}

// What the pipe holds now, without waiting, and no more than a slice's
// worth: a command that writes on and on is still looked after.
void ReadAvailable(HANDLE pipe, detail::OutputLines& lines) {
    DWORD available = 0;
    for (int reads = 0;
         reads < kReadsPerSlice &&
         ::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0;
         ++reads) {
        char buffer[1024];
        DWORD got = 0;
        if (!::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            return;
        }
        lines.Add(buffer, got);
    }
}

// The handles the command inherits, and no other: another thread may be
// starting a command of its own with its pipe open for inheriting.
class InheritOnly {
public:
    explicit InheritOnly(std::vector<HANDLE> handles) : m_handles(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            return;
        }
        m_list = list;
        m_ready = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                              m_handles.data(), m_handles.size() * sizeof(HANDLE),
                                              nullptr, nullptr);
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    ~InheritOnly() {
        if (m_list != nullptr) {
            ::DeleteProcThreadAttributeList(m_list);
        }
    }
    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return m_ready ? m_list : nullptr; }

private:
    std::vector<HANDLE> m_handles;
    std::vector<char> m_buffer;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
    bool m_ready = false;
};

// A job ends everything in it at once, and with our last handle to it
// (this process ending) too. None where the system refuses one.
HANDLE MakeJob() {
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        // Without it the job still ends all in it when told to.
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return job;
}

std::uint64_t CreationTime(HANDLE process) {
    FILETIME created{};
    FILETIME unused[3]{};
    if (!::GetProcessTimes(process, &created, &unused[0], &unused[1], &unused[2])) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

struct TreeMember {
    DWORD id;
    std::uint64_t created;
};

// Ends the processes whose parent is in the tree, and takes them into it.
// A process number is reused once its process has gone: a process counts
// as a child only when it started after its parent did. false when none
// was found.
bool EndChildren(std::vector<TreeMember>& tree) {
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot.Valid() || !::Process32FirstW(snapshot.value, &entry)) {
        return false;
    }
    std::vector<PROCESSENTRY32W> processes;
    do {
        processes.push_back(entry);
    } while (::Process32NextW(snapshot.value, &entry));
    bool found = false;
    for (std::size_t parent = 0; parent < tree.size(); ++parent) {
        for (const PROCESSENTRY32W& process : processes) {
            bool known = false;
            for (const TreeMember& member : tree) {
                known = known || member.id == process.th32ProcessID;
            }
            if (known || process.th32ParentProcessID != tree[parent].id) {
                continue;
            }
            Handle child(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                       process.th32ProcessID));
            std::uint64_t created = child.Valid() ? CreationTime(child.value) : 0;
            if (created != 0 && created >= tree[parent].created) {
                ::TerminateProcess(child.value, 1);
                tree.push_back({process.th32ProcessID, created});
                found = true;
            }
        }
    }
    return found;
}

// Where no job could hold the command (a parent's job that allows none
// inside it): the command and what descends from it, found by their
// parents' numbers.
void EndTree(HANDLE command) {
    ::TerminateProcess(command, 1);
    std::vector<TreeMember> tree{{::GetProcessId(command), CreationTime(command)}};
    for (int round = 0; round < kTreeRounds && EndChildren(tree); ++round) {
    }
}

struct Command {
    Handle process;
    Handle job;  // none when the system gave none
    void End() const {
        if (!job.Valid() || !::TerminateJobObject(job.value, 1)) {
            EndTree(process.value);
        }
    }
};

// Suspended until it is in its job, so that nothing it starts escapes it.
bool Start(const std::string& command, HANDLE input, HANDLE output, Command& started,
           std::string& error) {
    std::wstring shell = SystemShell();
    if (shell.empty()) {
        error = detail::Win32Message(::GetLastError());
        return false;
    }
    InheritOnly inherited({input, output});
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    startup.lpAttributeList = inherited.List();
    if (startup.lpAttributeList == nullptr) {
        error = detail::Win32Message(::GetLastError());
        return false;
    }
    // /d: no AutoRun commands of the registry; /v:off: a ! in a slot's name
    // is no variable; /s /c: the rest is the command, its quotes kept.
    std::wstring line = L"\"" + shell + L"\" /d /v:off /s /c \"" + detail::Wide(command) + L"\"";
    // Sharing our console, the command writes in its code page; without
    // one, no window opens for it.
    DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT |
                  (::GetConsoleOutputCP() != 0 ? 0 : CREATE_NO_WINDOW);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                          nullptr, &startup.StartupInfo, &process)) {
        error = detail::Win32Message(::GetLastError());
        return false;
    }
    started.process.value = process.hProcess;
    Handle thread(process.hThread);
    started.job.value = MakeJob();
    if (started.job.Valid() && !::AssignProcessToJobObject(started.job.value, process.hProcess)) {
        ::CloseHandle(started.job.value);
        started.job.value = nullptr;
    }
    ::ResumeThread(process.hThread);
    return true;
}

}  // namespace

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
    Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
    Command started;
    if (!input.Valid() || !Start(command, input.value, write.value, started, result.error)) {
        if (result.error.empty()) {
            result.error = detail::Win32Message(::GetLastError());
        }
        return result;
    }
    ::CloseHandle(write.value);
    write.value = nullptr;
    result.started = true;
    detail::OutputLines lines([&onLine](const std::string& line) {
        if (onLine) {
            onLine(LineInUtf8(line));
        }
    });
    auto deadline = Clock::now() + timeout;
    for (;;) {
        ReadAvailable(read.value, lines);
        if (::WaitForSingleObject(started.process.value, static_cast<DWORD>(kPollSlice.count())) ==
            WAIT_OBJECT_0) {
            ReadAvailable(read.value, lines);
            break;
        }
        result.stopped = stop.stop_requested();
        result.timedOut = !result.stopped && Clock::now() >= deadline;
        if (result.stopped || result.timedOut) {
            started.End();
            ::WaitForSingleObject(started.process.value, kEndWaitMs);
            break;
        }
    }
    started.End();  // what it started and left behind
    lines.Finish();
    DWORD code = 0;
    ::GetExitCodeProcess(started.process.value, &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

// cmd.exe takes a word in double quotes, but has no escape for a double
// quote inside one, and expands %NAME% even there; a CR or LF ends the
// command there, and a backslash before the closing quote would join the
// quote to the word for a program that splits its command line as the C
// runtime does. Such a value is refused. A ! stays as it is: the command
// runs with delayed expansion off.
std::optional<std::string> QuoteForShell(const std::string& text) {
    constexpr std::string_view kUnquotable("\"%\r\n\0", 5);
    if (text.find_first_of(kUnquotable) != std::string::npos ||
        (!text.empty() && text.back() == '\\')) {
        return std::nullopt;
    }
    return "\"" + text + "\"";
}

}  // namespace quillon
