#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace quillon::bench {

// The download of an update as `quillon-cli flash --trace` recorded it: from
// the first byte of the first file after the handshake to the tool's reading
// of the box's reply to the last file before the final execute command.
struct DownloadSpan {
    double start = 0;         // seconds on the trace's clock
    double end = 0;           // seconds on the trace's clock
    std::uint64_t bytes = 0;  // bytes the tool sent in between
    int replies = 0;          // status replies the tool read in between
    // For each reply but the last: from the tool's reading of it to the
    // tool's writing of the next file's first piece, in seconds.
    std::vector<double> turnarounds;

    double Seconds() const { return end - start; }
    // The time the line needs for the bytes at 10 bits a byte.
    double LineSeconds(int baud) const { return static_cast<double>(bytes) * 10.0 / baud; }
    double Utilisation(int baud) const { return LineSeconds(baud) / Seconds(); }
    // The turnaround at that share of the sorted sample (0.5: the median); 0 without one.
    double TurnaroundQuantile(double share) const;
};

// nullopt when the trace holds no complete download; why in *error.
std::optional<DownloadSpan> FindDownload(std::istream& trace, std::string* error);

}  // namespace quillon::bench
