#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/line_trace.h"

namespace quillon {

class File;
class Folder;

// Writes a timestamped hex dump of the line to a file, with the records
// sent and the box's status replies and progress frames decoded. The lines
// are put together in memory and written by a thread of its own every few
// milliseconds, so that tracing adds no system call between a reply and
// the next record.
class TraceWriter : public LineTrace {
public:
    TraceWriter();
    ~TraceWriter() override;
    // Replaces the file's content; never through a link, never into what is
    // no regular file. false: OpenError() says why.
    bool Open(const std::string& path);
    // Writes into a file opened by the caller.
    void Open(std::unique_ptr<File> file);
    const std::string& OpenError() const { return m_openError; }
    const std::string& Path() const { return m_path; }
    // Called once, with the reason, when the file stops taking what is
    // written (a full disk): the trace is then cut, and the user must know.
    void OnWriteError(std::function<void(const std::string&)> report) {
        m_report = std::move(report);
    }
    void Close();

    void OnSent(const std::uint8_t* bytes, std::size_t count, Time at) override;
    void OnReceived(const std::uint8_t* bytes, std::size_t count, Time at) override;
    void OnIgnored(std::size_t count, const char* why) override;
    // A line of the tool's own among the bytes: a box's next try, why an
    // update ended where it did.
    void Remark(const std::string& text);

private:
    void Dump(const char* direction, const std::uint8_t* bytes, std::size_t count, Time at);
    void Note(const std::string& text);
    void DecodeSent(const std::uint8_t* bytes, std::size_t count);
    void DecodeReceived(std::uint8_t byte);
    void FlushEvery(std::stop_token stop);
    void WriteLines(const std::string& lines);
    void ReportFailure(const std::string& reason);

    std::unique_ptr<File> m_file;
    std::string m_pending;  // lines not yet written
    std::condition_variable_any m_flushWake;
    std::jthread m_flusher;
    std::string m_path;
    std::string m_openError;
    std::function<void(const std::string&)> m_report;
    bool m_failed = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::mutex m_mutex;
    std::vector<std::uint8_t> m_record;    // the record being sent, so far
    std::vector<std::uint8_t> m_incoming;  // the frame being received, so far
};

// The folder of a station's traces, one a box, held open from the start: a
// trace goes into that very folder even when its path is swapped for a link
// meanwhile, and into a file of its own that nothing had before.
class TraceFolder {
public:
    // A slot's name is cut to this many characters in a trace's name.
    static constexpr std::size_t kMostSlotCharacters = 64;

    TraceFolder();
    ~TraceFolder();
    // false: OpenError() says why (missing, no folder, not ours to write).
    bool Open(const std::string& path);
    const std::string& OpenError() const { return m_openError; }
    // A trace of the box that started at start on slot, named by both and
    // by a number no other trace of this folder has; nullptr when it cannot
    // be made, with error saying why.
    std::unique_ptr<TraceWriter> Create(const std::string& start, const std::string& slot,
                                        std::string& error);
    // Removes a trace made here, closed, that holds nothing worth keeping.
    void Remove(const TraceWriter& trace);
    // Removes the file of that name in this very folder.
    void RemoveName(const std::string& name);
    // The folder's path and a name's in it, for people to read and to list.
    const std::string& Path() const;
    std::string PathOf(const std::string& name) const;

private:
    std::unique_ptr<Folder> m_folder;
    std::string m_openError;
    std::atomic<unsigned> m_made{0};
};

// "2026-12-09T010203.456Z-left_front-7.trace": sorts by time, names the slot
// (its first kMostSlotCharacters), and holds nothing a file name cannot.
std::string TraceName(const std::string& start, const std::string& slot, unsigned number);

// The meaning of one frame from the box ("status reply 0x01", "erase 10/40
// sectors"); empty while the frame is still incomplete.
std::string DescribeBoxFrame(const std::vector<std::uint8_t>& frame);

// One line of a trace as read back: bytes sent or received at a time on the
// trace's clock, or a note that decodes what came before.
struct TraceEvent {
    enum class Kind { Sent, Received, Note } kind = Kind::Note;
    double time = 0;          // seconds, for bytes
    std::uint64_t bytes = 0;  // how many, for bytes
    std::string note;         // "record CMD_UPLOAD, ...", "status reply 0x06", ...
};

// Every event of a trace, in order; lines of no event are passed over.
std::vector<TraceEvent> ReadTrace(std::istream& trace);

}  // namespace quillon
