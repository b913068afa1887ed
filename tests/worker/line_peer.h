#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/in_process_line.h"

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

// The box's end of a line inside this process, driven by a test script:
// the tool opens Device() with sim::InProcessToolEnd.
class LinePeer {
public:
    LinePeer() : m_line(sim::NewInProcessLine(m_device)) {}

    const std::string& Device() const { return m_device; }

    // Until the tool holds the other end.
    bool WaitOpened(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_line->WaitInput(std::chrono::milliseconds(5)) != sim::BoxChannel::Wait::Closed) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    void Send(const Bytes& bytes) { m_line->Send(bytes.data(), bytes.size(), {}); }

    // One whole record (header, payload, checksum); empty when none came in time.
    Bytes ReadRecord(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        Bytes record;
        // The rest is as long as the header says, which counts the header
        // but not the checksum.
        bool whole = ReadExactly(record, 4, deadline) &&
                     ReadExactly(record, std::size_t{record[2]} << 8 | record[3], deadline);
        return whole ? record : Bytes{};
    }

    // Hangs the line up, as an unplugged adapter would.
    void Close() { m_line.reset(); }

    // Whether the tool has let its end go: another can open it.
    bool Released() const { return sim::InProcessToolEnd()->Open(m_device, 115200); }

private:
    bool ReadExactly(Bytes& into, std::size_t count,
                     std::chrono::steady_clock::time_point deadline) {
        std::size_t wanted = into.size() + count;
        while (into.size() < wanted && std::chrono::steady_clock::now() < deadline) {
            if (m_line->WaitInput(std::chrono::milliseconds(10)) == sim::BoxChannel::Wait::Closed) {
                return false;
            }
            std::uint8_t buffer[4096];
            long got = m_line->Read(buffer, std::min(sizeof buffer, wanted - into.size()));
            into.insert(into.end(), buffer, buffer + std::max(got, 0L));
        }
        return into.size() == wanted;
    }

    std::string m_device;
    std::unique_ptr<sim::BoxChannel> m_line;
};

}  // namespace quillon::testing
