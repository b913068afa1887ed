#include "cli/results_log.h"

#include <cstdio>
#include <ctime>

#include "cli/flash_exit.h"
#include "cli/terminal_view.h"

namespace quillon::cli {

namespace {

std::string IsoTimeNow() {
    std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

}  // namespace

const char* VerdictOf(const BoxResult& result) {
    if (!result.hadBox) {
        return "cancelled";
    }
    return result.exitCode == kExitSuccess ? "ok" : "failed";
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

bool ResultsLog::Open(const std::string& path) {
    m_file.open(path, std::ios::app | std::ios::binary);
    return m_file.is_open();
}

void ResultsLog::Append(const std::string& device, const BoxResult& result) {
    if (!m_file.is_open()) {
        return;
    }
    std::string line = "{\"time\":\"" + IsoTimeNow() + "\",\"device\":" + JsonString(device) +
                       ",\"verdict\":\"" + VerdictOf(result) +
                       "\",\"caption\":" + JsonString(result.caption) +
                       ",\"message\":" + JsonString(result.message) +
                       ",\"exit\":" + std::to_string(result.exitCode) +
                       ",\"seconds\":" + SecondsText(result.seconds) +
                       ",\"bytes\":" + std::to_string(result.bytes) + "}\n";
    std::lock_guard lock(m_mutex);
    m_file << line << std::flush;
}

}  // namespace quillon::cli
