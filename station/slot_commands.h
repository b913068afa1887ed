#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "engine/update_events.h"

namespace quillon {

struct SlotSpec;

// The commands a station runs for a slot: the reset command that powers or
// resets its box, and the command that reads the box's identity. {device},
// {slot} and {port} are replaced by the slot's own, each one shell word.
class SlotCommands {
public:
    using LineSink = std::function<void(const std::string&)>;

    SlotCommands(const SlotSpec& slot, std::string resetCommand, std::string boxIdCommand,
                 std::chrono::milliseconds timeout);

    bool HasReset() const { return !m_reset.empty(); }
    bool HasBoxId() const { return !m_boxId.empty(); }
    const std::string& ResetCommand() const { return m_reset; }

    // Each line the command writes goes to onLine. None when it succeeded.
    std::optional<Failure> Reset(const std::stop_token& stop, const LineSink& onLine) const;
    // The box's identity: the command's first line, trimmed, of 1 to 128
    // printable characters; its other lines go to onLine.
    std::optional<Failure> ReadBoxId(const std::stop_token& stop, const LineSink& onLine,
                                     std::string& identity) const;

    // The command with the slot's words in it; none when the shell has no
    // way to quote one of them.
    std::optional<std::string> Expand(const std::string& command) const;

private:
    const SlotSpec& m_slot;
    std::string m_reset;
    std::string m_boxId;
    std::chrono::milliseconds m_timeout;
};

// Whether a line may stand for a box: 1 to 128 printable characters, with
// no blank at either end.
bool IsBoxIdentity(const std::string& text);

}  // namespace quillon
