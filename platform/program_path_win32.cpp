#include "platform/program_path.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/support_win32.h"

// msvcrt's own split of the command line, by the rules it splits main's
// arguments by, but in UTF-16; the C++ runtime declares it only for its
// own start-up code.
extern "C" {
struct MsvcrtStartupInfo {
    int newMode;
};
int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards,
                           MsvcrtStartupInfo* startup);
}

namespace quillon {

std::string ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            return detail::Utf8(path.data(), length);
        }
        path.resize(path.size() * 2);  // cut off: a longer path than MAX_PATH
    }
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string UserConfigFolder() {
    DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    std::wstring appData(size, L'\0');
    DWORD length = size == 0 ? 0 : ::GetEnvironmentVariableW(L"APPDATA", appData.data(), size);
    if (length == 0 || length >= size) {
        return {};
    }
    std::string folder = detail::Utf8(appData.data(), length);
    return folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
}

int ProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(name);
    return ::GetComputerNameW(name, &size) ? detail::Utf8(name, size) : std::string();
}

namespace {

std::vector<std::string> WideArguments() {
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    MsvcrtStartupInfo startup{0};
    std::vector<std::string> arguments;
    if (__wgetmainargs(&count, &wide, &environment, 0, &startup) == 0 && wide != nullptr) {
        for (int i = 0; i < count; ++i) {
            arguments.push_back(detail::Utf8(wide[i], std::wcslen(wide[i])));
        }
    }
    return arguments;
}

}  // namespace

// Made once, and kept as long as the process, as main's own are.
void UseUtf8Arguments(int& argc, char**& argv) {
    static std::vector<std::string> texts = WideArguments();
    static std::vector<char*> pointers;
    if (texts.empty()) {
        return;
    }
    if (pointers.empty()) {
        for (std::string& text : texts) {
            pointers.push_back(text.data());
        }
        pointers.push_back(nullptr);
    }
    argc = static_cast<int>(texts.size());
    argv = pointers.data();
}

}  // namespace quillon
