#pragma once

#include <string>

namespace quillon {

// The builder takes its folder as a plain prefix of file names, so a boot
// folder given without its trailing separator would make it look for
// "/x/bootc_bus.txt". Where a boot folder enters the system, an existing
// directory without a trailing '/' gets one; anything else is returned
// unchanged, the empty text (the full build) included.
std::string NormalizeBootFolder(const std::string& folder);

}  // namespace quillon
