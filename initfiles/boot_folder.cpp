#include "initfiles/boot_folder.h"

#include "platform/file.h"

namespace quillon {

std::string NormalizeBootFolder(const std::string& folder) {
    // A folder named with the system's own separator at its end has one.
    if (folder.empty() || folder.back() == '/' || folder.back() == kSystemSeparator) {
        return folder;
    }
    if (FolderError(folder) != 0) {
        return folder;
    }
    return folder + "/";
}

}  // namespace quillon
