#include "platform/program_path.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace quillon {

std::string ProgramPath() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config/";
    }
    return {};
}

int ProcessId() {
    return static_cast<int>(::getpid());
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

// The arguments are the bytes given, and the system takes names as bytes.
void UseUtf8Arguments(int&, char**&) {}

}  // namespace quillon
