#include "platform/folder.h"

namespace quillon {

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

std::string Folder::PathOf(const std::string& name) const {
    bool separated = !m_path.empty() && (m_path.back() == '/' || m_path.back() == '\\');
    return m_path + (separated ? "" : "/") + name;
}

}  // namespace quillon
