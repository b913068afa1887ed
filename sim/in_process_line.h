#pragma once

#include <memory>
#include <string>

#include "engine/line.h"
#include "sim/box_channel.h"

namespace quillon::sim {

// A line inside this process: two bounded byte queues between a box's
// channel and a tool's Line, which opens it by its name. It keeps to what
// a pseudo-terminal does where either end can tell: the line is the
// tool's alone while open, every close of the tool's end is told to the
// box once, even when the tool opens it again at once, and a box that lets
// its end go hangs the line up for good.
//
// A new line; name is what a tool opens.
std::unique_ptr<BoxChannel> NewInProcessLine(std::string& name);

// An unopened tool's end, for UpdateRequest::makeLine.
std::unique_ptr<Line> InProcessToolEnd();

}  // namespace quillon::sim
