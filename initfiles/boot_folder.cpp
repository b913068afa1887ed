#include "initfiles/boot_folder.h"

#include <filesystem>
#include <system_error>

#include "platform/utf8_path.h"

namespace quillon {

std::string NormalizeBootFolder(const std::string& folder) {
    // A folder named with the system's own separator at its end has one.
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    if (folder.empty() || folder.back() == '/' || folder.back() == separator) {
        return folder;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(Utf8Path(folder), error)) {
        return folder;
    }
    return folder + "/";
}

}  // namespace quillon
