#pragma once

#include <string>

namespace quillon {

// A hint on how to get at a port that would not open, from the system's
// code its opening failed with (Fault::code): the owning
// group for a permission problem, the holder of a busy port, the ports that
// exist for a missing one; empty when there is none to give.
std::string DiagnoseOpenFailure(const std::string& device, int systemError);

}  // namespace quillon
