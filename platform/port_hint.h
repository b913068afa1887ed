#pragma once

#include <string>

namespace quillon {

// A hint on how to get at a port that would not open, from the reason its
// opening gave (which ends in the system's words): the owning group for a
// permission problem, the holder of a busy port, the ports that exist for a
// missing one.
std::string DiagnoseOpenFailure(const std::string& device, const std::string& reason);

}  // namespace quillon
