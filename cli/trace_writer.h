#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/line_trace.h"

namespace quillon::cli {

// Writes a timestamped hex dump of the line to a file, with the records
// sent and the box's status replies and progress frames decoded.
class TraceWriter : public LineTrace {
public:
    // false when the file cannot be created.
    bool Open(const std::string& path);
    ~TraceWriter() override;
    // Called once, with the reason, when the file stops taking what is
    // written (a full disk): the trace is then cut, and the user must know.
    void OnWriteError(std::function<void(const std::string&)> report) {
        m_report = std::move(report);
    }
    void Close();

    void OnSent(const std::uint8_t* bytes, std::size_t count) override;
    void OnReceived(const std::uint8_t* bytes, std::size_t count) override;

private:
    void Dump(const char* direction, const std::uint8_t* bytes, std::size_t count);
    void Note(const std::string& text);
    void DecodeSent(std::uint8_t byte);
    void DecodeReceived(std::uint8_t byte);
    void Flush();
    void ReportFailure(int error);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::function<void(const std::string&)> m_report;
    bool m_failed = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::mutex m_mutex;
    std::vector<std::uint8_t> m_record;    // the record being sent, so far
    std::vector<std::uint8_t> m_incoming;  // the frame being received, so far
};

// The meaning of one frame from the box ("status reply 0x01", "erase 10/40
// sectors"); empty while the frame is still incomplete.
std::string DescribeBoxFrame(const std::vector<std::uint8_t>& frame);

}  // namespace quillon::cli
