#include "station/preflight.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/packet_series.h"
#include "engine/series_steps.h"
#include "platform/file.h"
#include "platform/latency_timer.h"

namespace quillon {

namespace {

// Enough to tell one series from another at a glance; the logs keep it whole.
constexpr std::size_t kShortIdentity = 12;

std::optional<Refusal> FolderProblem(const std::string& folder) {
    int error = folder.empty() ? 0 : FolderError(folder);
    if (error == 0) {
        return std::nullopt;
    }
    std::string why = error == ENOENT    ? " does not exist"
                      : error == ENOTDIR ? " is not a folder"
                                         : ": " + std::generic_category().message(error);
    return Refusal{UpdateOutcome::BadInput, StepMessage(SeriesStep::Bus),
                   "boot folder " + folder + why};
}

}  // namespace

std::optional<Refusal> CheckInputs(const UpdateRequest& request, SeriesFacts& facts) {
    if (!request.refusal.empty()) {
        return Refusal{UpdateOutcome::PortOpenFailed, "Failed to open serial port!",
                       request.refusal, Cause::PortOpenFailed};
    }
    if (auto problem = FolderProblem(request.bootFolder)) {
        return problem;
    }
    PacketSeries series(PacketSeries::Use::Measure);
    series.SetInputs(request.bootFolder, request.projectPath, request.imagePath);
    std::string output = series.OutputFolder();
    if (int refused = File::FolderWriteError(output.empty() ? "." : output); refused != 0) {
        return Refusal{UpdateOutcome::BadInput, StepMessage(SeriesStep::Bus),
                       "cannot write in " + output + ": " + std::strerror(refused)};
    }
    if (!series.WriteBus() || !series.WriteRest()) {
        return Refusal{UpdateOutcome::BadInput, series.Message(), series.Detail()};
    }
    facts.warnings = series.Warnings();
    facts.files = series.Count();
    facts.bytes = series.Bytes();
    facts.identity = series.Identity();
    return std::nullopt;
}

std::optional<Refusal> CheckExpectedSeries(const std::string& identity,
                                           const std::string& expected) {
    if (SeriesMatches(identity, expected)) {
        return std::nullopt;
    }
    return Refusal{UpdateOutcome::BadInput, StepMessage(SeriesStep::Build),
                   "the series is " + identity + ", not the one expected: " + expected,
                   Cause::SeriesMismatch};
}

std::string LatencyNote(const std::vector<std::string>& devices) {
    LatencyTimer timer;
    int longest = 1;
    for (const std::string& device : devices) {
        longest = std::max(longest, timer.Current(device).value_or(1));
    }
    return longest > 1 ? ", USB latency timer " + std::to_string(longest) +
                             " ms, set to 1 ms while the port is open"
                       : std::string();
}

std::string SizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
    }
    return text;
}

std::string UsingLine(const std::string& device, const UpdateRequest& request,
                      const SeriesFacts& facts) {
    std::string inputs = request.bootFolder.empty()
                             ? "project " + request.projectPath + " and image " + request.imagePath
                             : "boot folder " + request.bootFolder;
    return "Using " + device + " at " + std::to_string(request.baudRate) + " baud, " + inputs +
           " (" + std::to_string(facts.files) + " packet files, " + SizeText(facts.bytes) +
           ", series " + facts.identity.substr(0, kShortIdentity) + ")";
}

}  // namespace quillon
