#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/serial_port.h"
#include "initfiles/wire.h"
#include "tests/temp_dir.h"

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

// One command record: sync, code, length, payload, checksum.
inline Bytes Record(std::uint8_t code, const Bytes& payload) {
    std::size_t length = 4 + payload.size();
    // Built by appending: an initialised vector followed by insert trips a
    // false array-bounds warning in GCC 12 at -O2.
    Bytes record;
    record.reserve(length + 4);
    record.push_back(0xAA);
    record.push_back(code);
    record.push_back(static_cast<std::uint8_t>(length >> 8));
    record.push_back(static_cast<std::uint8_t>(length));
    for (std::uint8_t byte : payload) {
        record.push_back(byte);
    }
    std::uint32_t sum = RecordChecksum(record.data(), record.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        record.push_back(static_cast<std::uint8_t>(sum >> shift));
    }
    return record;
}

inline Bytes Payload(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    return bytes;
}

struct ProgressReport {
    std::uint8_t code;
    std::uint32_t value;
};

// The tool's side of an update, step by step as the worker takes it.
class BoxClient {
public:
    explicit BoxClient(std::string device, int baud = 115200)
        : m_device(std::move(device)), m_baud(baud) {}

    bool Connect() {
        if (m_port.Open(m_device, m_baud) != 1) {
            return false;
        }
        for (int i = 0; i < 5; ++i) {
            if (m_port.WaitStatus() == 0x01) {
                return true;
            }
        }
        return false;
    }

    void Disconnect() { m_port.Close(); }

    // Sends the record as a packet file; 0 when a piece failed.
    int Send(const Bytes& record) {
        std::string path = m_dir.Write("packet", std::string(record.begin(), record.end()));
        int result = 0;
        while ((result = m_port.SendFilePiece(path)) > 0) {
        }
        return result;
    }

    std::uint8_t SendAndWait(const Bytes& record) {
        return Send(record) == -1 ? m_port.WaitStatus() : 0;
    }

    // Progress reports until the outcome, or until the box falls silent.
    std::vector<ProgressReport> FollowBurn() {
        std::vector<ProgressReport> reports;
        int idle = 0;
        while (idle <= 200) {
            std::uint8_t byte = 0;
            if (m_port.Read(&byte, 1) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ++idle;
                continue;
            }
            if (byte != 0x0F) {
                continue;
            }
            idle = 0;
            std::uint8_t code = 0;
            m_port.Read(&code, 1);
            std::uint32_t value = 0;
            if (code == 0x0A || code == 0x0C || code == 0x0E) {
                std::uint8_t data[4];
                if (m_port.Read(data, 4) != 4) {
                    continue;
                }
                value = ReadDwordBE(data);
            }
            reports.push_back({code, value});
            if (code == 0x0D || code == 0x0F) {
                break;
            }
        }
        return reports;
    }

    SerialPort& Port() { return m_port; }

private:
    std::string m_device;
    int m_baud;
    TempDir m_dir;
    SerialPort m_port;
};

}  // namespace quillon::testing
