#include "initfiles/boot_folder.h"

#include <filesystem>

#include "platform/file.h"

namespace quillon {

std::string NormalizeBootFolder(const std::string& folder) {
    // A folder named with the system's own separator at its end has one.
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    if (folder.empty() || folder.back() == '/' || folder.back() == separator) {
        return folder;
    }
    if (FolderError(folder) != 0) {
        return folder;
    }
    return folder + "/";
}

}  // namespace quillon
