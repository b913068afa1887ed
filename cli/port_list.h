#pragma once

#include <string>
#include <vector>

namespace quillon::cli {

// "3", "1-8,12": port numbers from 1 to 999, in the order given; false for
// anything else.
bool ParsePortList(const std::string& text, std::vector<int>& numbers);

}  // namespace quillon::cli
