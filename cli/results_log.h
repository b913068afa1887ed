#pragma once

#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

namespace quillon::cli {

struct BoxResult {
    int exitCode = 0;
    std::string caption;
    std::string message;
    double seconds = 0;
    std::uint64_t bytes = 0;
    bool hadBox = true;  // false: cancelled while still waiting for a box
};

// "ok", "failed", or "cancelled" for a run that never had a box.
const char* VerdictOf(const BoxResult& result);
std::string SecondsText(double seconds);

// One JSON object a finished box, appended and flushed as the box ends, so
// that a crash loses nothing already reported: what a line supervisor
// collects from every station.
class ResultsLog {
public:
    bool Open(const std::string& path);
    void Append(const std::string& device, const BoxResult& result);

private:
    std::mutex m_mutex;
    std::ofstream m_file;
};

}  // namespace quillon::cli
