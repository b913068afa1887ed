#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "engine/line.h"

namespace quillon {

class LineTrace;
class PacketSeries;
class UpdateHooks;

// What one update works with, taken once when it starts: the window's four
// working values, the device they name, and the options of a caller that
// has them.
struct UpdateRequest {
    std::string bootFolder;
    std::uint32_t startAddress = 0x800001A0;
    int baudRate = 115200;
    int comPort = 1;
    // The device to open; empty: the one that comPort names by default.
    std::string device;
    // The kind of line the device is opened on; empty: the serial line.
    // Boxes of the emulator in this process are reached by its in-process
    // line, with no pseudo-terminal, on every system.
    LineMaker makeLine;
    // The full build's inputs, used when the boot folder is empty.
    std::string projectPath;
    std::string imagePath;
    // How long to wait for the boot loader; none waits for ever.
    std::optional<std::chrono::milliseconds> waitLimit;
    // Why a working value cannot be used (a settings key gave one no field
    // holds): the port is not opened, and this is the reason.
    std::string refusal;
    // The series the box must get: its identity, or the first 8 hexadecimal
    // digits or more of it; empty for any. Checked once the series is built,
    // before its second file goes out.
    std::string expectedSeries;
    // A series built beforehand and shared by several lines; nullptr: the
    // update builds its own, after the handshake, as it always has.
    const PacketSeries* series = nullptr;
    // Where to show every byte of the line; nullptr for nowhere.
    LineTrace* trace = nullptr;
    // A station's say at two points of the update; nullptr to go on at both.
    UpdateHooks* hooks = nullptr;
    // Held from the update's first step until its ending message has been
    // seen (a window tests it before it closes); nullptr for none.
    std::timed_mutex* lock = nullptr;
};

// Whether an identity is the one expected: the whole of it or a prefix of
// 8 digits or more, in either case. An empty expectation takes any.
bool SeriesMatches(const std::string& identity, const std::string& expected);

}  // namespace quillon
