#pragma once

#include <string>
#include <vector>

namespace quillon {

struct SlotSpec;

// Gives every slot without a label of its own the short text a tile shows
// large: its own name when it has one, else the part of its device's path
// that differs from the other slots' ("A12" of
// "/dev/serial/by-id/usb-FTDI_A12-if00-port0"), cut at the path's own
// separators so that no word is broken.
void FillSlotLabels(std::vector<SlotSpec>& slots);

// The part of each path that the others do not share.
std::vector<std::string> DistinctParts(const std::vector<std::string>& paths);

}  // namespace quillon
