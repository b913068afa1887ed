#include "platform/program_path.h"

#include <windows.h>

#include <cstdlib>

namespace quillon {

std::string ProgramPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
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
    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr || appData[0] == '\0') {
        return {};
    }
    std::string folder = appData;
    return folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
}

int ProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

}  // namespace quillon

namespace quillon {

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return ::GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace quillon
