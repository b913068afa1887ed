#include "initfiles/boot_folder.h"

#include <filesystem>
#include <system_error>

namespace quillon {

std::string NormalizeBootFolder(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') {
        return folder;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return folder;
    }
    return folder + "/";
}

}  // namespace quillon
