#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/update_events.h"

namespace quillon {

class File;

// How long each step of one box took, in seconds: waiting for its boot
// loader; the handshake, the build and the download; from the execute
// command to the first burn report (erasing); and from there to the verdict.
struct PhaseTimes {
    double wait = 0;
    double download = 0;
    double erase = 0;
    double burn = 0;
};

// A USB adapter as its device reports itself.
struct AdapterFacts {
    std::string vendorId;
    std::string productId;
    std::string maker;
    std::string serial;
    std::string byId;
};

// One try of a box that was tried more than once.
struct AttemptRecord {
    std::string cause;  // CauseKey of its end; "" for a try that succeeded
    PhaseTimes phases;
};

// One box's line in the results log: schema 1, described with an example
// in docs/results-log.md.
struct BoxRecord {
    static constexpr int kSchema = 1;

    std::string start;  // UTC, ISO 8601 with milliseconds
    std::string end;
    std::string station;
    std::string slot;
    std::string device;
    std::optional<AdapterFacts> adapter;
    std::string box;  // the box's identity (a serial, a MAC, a scan), when there is one
    std::string operatorName;
    std::string lot;
    std::string version;
    std::string series;  // the identity of what the box received before the execute command
    std::uint32_t startAddress = 0;
    std::uint64_t bytes = 0;
    PhaseTimes phases;                 // of the last try
    int attempts = 1;                  // tries of this box on its slot
    std::vector<AttemptRecord> tries;  // each try, when there was more than one
    std::string verdict;               // "ok", "failed", "cancelled": the last try's
    std::string cause;                 // CauseKey of the last try; "" when it succeeded
    std::string caption;
    std::string message;
    std::string reason;
    int exit = 0;
    std::string trace;

    // For the summary only, not logged.
    double seconds = 0;
    bool hadBox = true;  // false: it ended before a box answered
    UpdatePhase reached = UpdatePhase::Starting;
    bool lineGone = false;  // the device was not there or went away
};

// One line of JSON, its line end included.
std::string RecordLine(const BoxRecord& record);
// The record of a line; none for one that is not a record of schema 1.
std::optional<BoxRecord> ParseRecordLine(const std::string& line);
// "2026-12-09T01:02:03.456Z", now.
std::string IsoTimeNow();

// A field of CSV, for a spreadsheet's import: quoted when it holds a
// separator, a quote or a line end, its quotes doubled.
std::string CsvField(const std::string& text);
// Records as CSV: the header line, then one row a record, each ending in
// CR LF as spreadsheets expect.
extern const char* const kCsvRecordHeader;
std::string CsvRecordRow(const BoxRecord& record);

// Appends one line a finished box, each written whole and at once, so that
// a crash loses nothing already reported. A line that cannot be written (a
// full disk) is never left cut: it is held and tried again with the next
// one, and the user is told once.
class ResultsLog {
public:
    ResultsLog();
    ~ResultsLog();

    // Appends to the file; never through a link, never into what is no
    // regular file. false: OpenError() says why.
    bool Open(const std::string& path);
    const std::string& OpenError() const { return m_openError; }
    bool IsOpen() const;
    // The first time a line cannot be written: what to tell the user (the
    // line is held); else empty.
    std::string Append(const BoxRecord& record);
    // Lines held now, not yet in the file: after an Append, the record it
    // was given is among them when this is more than 0, as lines go in order.
    std::size_t Held() const;
    // Tries what is held once more; the lines that still could not go, to be
    // kept elsewhere.
    std::vector<std::string> Close();

private:
    std::string WriteHeld();

    mutable std::mutex m_mutex;
    std::unique_ptr<File> m_file;
    std::string m_path;
    std::string m_openError;
    std::vector<std::string> m_held;
    bool m_told = false;
};

}  // namespace quillon
