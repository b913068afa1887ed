#pragma once

#include <cstdint>
#include <vector>

#include "sim/box_emulator.h"
#include "sim/box_link.h"

namespace quillon::sim {

// One update as the boot loader sees it: ready, records and their replies,
// then erasing and burning after the final execute command.
class BoxSession {
public:
    // Dropped: a record was cut off by silence, as by a tool that stopped
    // half way; the boot loader starts over.
    enum class End { Verdict, ToolLeft, HangUp, Stopped, Dropped };

    BoxSession(BoxLink& link, const BoxOptions& options, int& dumpCount);
    End Run();
    const BoxSummary& Counts() const { return m_counts; }

private:
    enum class Next { Record, Silence, Closed, Stopped };

    Next AwaitRecord(bool execPending);
    BoxLink::Wait ReadRecord(std::vector<std::uint8_t>& record, bool& framed);
    bool Answer(bool accepted);
    bool Reply(std::uint8_t code);
    bool Report(std::uint8_t code, const std::vector<std::uint8_t>& data, bool cut);
    End Burn();
    bool Erase(std::uint32_t sectors);
    std::vector<std::uint8_t> Noise() const;
    void Dump(const std::vector<std::uint8_t>& record);

    BoxLink& m_link;
    const BoxOptions& m_options;
    int& m_dumpCount;
    BoxSummary m_counts;
    int m_index = 0;  // records so far in this session
};

}  // namespace quillon::sim
