#include "station/trace_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "initfiles/wire.h"
#include "platform/file.h"
#include "platform/folder.h"

namespace quillon {

namespace {

// How stale the file may be: a trace read while the update runs (tail -f)
// lags by no more than this.
constexpr auto kFlushPeriod = std::chrono::milliseconds(20);

std::size_t ReportSize(std::uint8_t code) {
    return 2 + ReportDataSize(code);
}

std::string DescribeReport(const std::vector<std::uint8_t>& frame) {
    std::uint8_t code = frame[1];
    switch (code) {
        case kReportEraseBegun:
            return "progress: erasing has begun";
        case kReportErased:
            return "progress: erased " + std::to_string(ReadWordBE(&frame[2])) + "/" +
                   std::to_string(ReadWordBE(&frame[4])) + " sectors";
        case kReportBurnt:
            return "progress: burnt " + std::to_string(ReadDwordBE(&frame[2]) & 0x0FFFFFFF) +
                   " bytes";
        case kReportSucceeded:
            return "progress: success, the box restarts";
        case kReportBurnTotal:
            return "progress: " + std::to_string(ReadDwordBE(&frame[2])) + " bytes to burn";
        case kReportFailed:
            return "progress: the update failed";
        default:
            return "progress: unknown code " + Hex(code, 2);
    }
}

}  // namespace

std::string DescribeBoxFrame(const std::vector<std::uint8_t>& frame) {
    if (frame.size() < 2) {
        return {};
    }
    if (frame[0] == kReplySync) {
        return "status reply " + Hex(frame[1], 2);
    }
    if (frame[0] == kReportMarker && frame.size() == ReportSize(frame[1])) {
        return DescribeReport(frame);
    }
    return {};
}

TraceWriter::TraceWriter() = default;

bool TraceWriter::Open(const std::string& path) {
    m_path = path;
    auto file = std::make_unique<File>();
    if (!file->Open(path, File::Mode::Overwrite)) {
        m_openError = file->OpenFault().words;
        return false;
    }
    Open(std::move(file));
    return true;
}

void TraceWriter::Open(std::unique_ptr<File> file) {
    m_path = file->Path();
    m_file = std::move(file);
    m_flusher = std::jthread([this](std::stop_token stop) { FlushEvery(stop); });
}

std::string TraceName(const std::string& start, const std::string& slot, unsigned number) {
    auto plain = [](const std::string& text, std::size_t most) {
        std::string name;
        for (char c : text.substr(0, most)) {
            bool kept =
                std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
            if (c != ':') {
                name += kept ? c : '_';
            }
        }
        return name;
    };
    return plain(start, 32) + "-" + plain(slot, TraceFolder::kMostSlotCharacters) + "-" +
           std::to_string(number) + ".trace";
}

TraceFolder::TraceFolder() : m_folder(std::make_unique<Folder>()) {}

TraceFolder::~TraceFolder() = default;

bool TraceFolder::Open(const std::string& path) {
    if (!m_folder->Open(path)) {
        m_openError = m_folder->OpenFault().words;
        return false;
    }
    if (int refused = m_folder->WriteError(); refused != 0) {
        m_folder->Close();
        m_openError = std::strerror(refused);
        return false;
    }
    return true;
}

// A name that another station (or anyone) took meanwhile is passed over.
std::unique_ptr<TraceWriter> TraceFolder::Create(const std::string& start, const std::string& slot,
                                                 std::string& error) {
    constexpr int kAttempts = 100;
    auto file = std::make_unique<File>();
    std::string name;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        name = TraceName(start, slot, ++m_made);
        if (file->CreateIn(*m_folder, name) || file->OpenFault().code != EEXIST) {
            break;
        }
    }
    if (!file->IsOpen()) {
        error = "cannot write the trace " + m_folder->PathOf(name) + ": " + file->OpenFault().words;
        return nullptr;
    }
    auto trace = std::make_unique<TraceWriter>();
    trace->Open(std::move(file));
    return trace;
}

void TraceFolder::Remove(const TraceWriter& trace) {
    const std::string& path = trace.Path();
    std::size_t prefix = m_folder->PathOf("").size();
    if (path.size() > prefix) {
        m_folder->Remove(path.substr(prefix));
    }
}

void TraceFolder::RemoveName(const std::string& name) {
    m_folder->Remove(name);
}

const std::string& TraceFolder::Path() const {
    return m_folder->Path();
}

std::string TraceFolder::PathOf(const std::string& name) const {
    return m_folder->PathOf(name);
}

TraceWriter::~TraceWriter() {
    Close();
}

void TraceWriter::Close() {
    if (m_flusher.joinable()) {
        m_flusher.request_stop();
        m_flusher.join();
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    WriteLines(m_pending);
    m_pending.clear();
    m_file.reset();
}

// The lines are taken under the lock and written outside it: the worker
// never waits for the disk.
void TraceWriter::FlushEvery(std::stop_token stop) {
    std::string lines;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!stop.stop_requested()) {
        m_flushWake.wait_for(lock, stop, kFlushPeriod, [] { return false; });
        lines.swap(m_pending);
        lock.unlock();
        WriteLines(lines);
        lines.clear();
        lock.lock();
    }
}

// Only the flusher writes while it runs, and Close only after it.
void TraceWriter::WriteLines(const std::string& lines) {
    if (m_file == nullptr || lines.empty() || m_failed) {
        return;
    }
    try {
        m_file->Write(lines.data(), lines.size());
    } catch (const FileError& error) {
        ReportFailure(error.Reason());
    }
}

void TraceWriter::ReportFailure(const std::string& reason) {
    if (m_failed) {
        return;
    }
    m_failed = true;
    if (m_report) {
        m_report("the trace " + m_path + " is cut short: " + reason);
    }
}

void TraceWriter::OnSent(const std::uint8_t* bytes, std::size_t count, Time at) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Dump(">", bytes, count, at);
    DecodeSent(bytes, count);
}

void TraceWriter::OnReceived(const std::uint8_t* bytes, std::size_t count, Time at) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Dump("<", bytes, count, at);
    for (std::size_t i = 0; i < count; ++i) {
        DecodeReceived(bytes[i]);
    }
}

void TraceWriter::OnIgnored(std::size_t count, const char* why) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Note("not acted on: " + std::to_string(count) + (count == 1 ? " byte, " : " bytes, ") + why);
}

void TraceWriter::Remark(const std::string& text) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Note(text);
}

// Sixteen bytes a line, each line formatted whole.
void TraceWriter::Dump(const char* direction, const std::uint8_t* bytes, std::size_t count,
                       Time at) {
    if (!m_file) {
        return;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    double seconds = std::chrono::duration<double>(at - m_start).count();
    char stamp[32];
    int stampSize = std::snprintf(stamp, sizeof stamp, "%10.6f %s", seconds, direction);
    for (std::size_t line = 0; line < count; line += 16) {
        m_pending.append(stamp, static_cast<std::size_t>(stampSize));
        for (std::size_t i = line; i < count && i < line + 16; ++i) {
            const char hex[3] = {' ', kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0F]};
            m_pending.append(hex, sizeof hex);
        }
        m_pending += '\n';
    }
}

void TraceWriter::Note(const std::string& text) {
    if (m_file) {
        m_pending += "           = ";
        m_pending += text;
        m_pending += '\n';
    }
}

// Records are found in what was sent, a piece at a time.
void TraceWriter::DecodeSent(const std::uint8_t* bytes, std::size_t count) {
    m_record.insert(m_record.end(), bytes, bytes + count);
    std::size_t start = 0;
    while (m_record.size() - start >= kRecordHeaderSize) {
        std::size_t size = RecordSizeFor(ReadWordBE(&m_record[start + 2]));
        if (m_record.size() - start < size) {
            break;
        }
        RecordCheck check = CheckRecord(&m_record[start], size);
        const char* name = CommandName(check.code);
        Note(std::string("record ") + (name != nullptr ? name : Hex(check.code, 2).c_str()) +
             ", length " + std::to_string(check.lengthField) + ", checksum " +
             (check.checksumOk ? "ok" : "BAD"));
        start += size;
    }
    m_record.erase(m_record.begin(), m_record.begin() + static_cast<std::ptrdiff_t>(start));
}

void TraceWriter::DecodeReceived(std::uint8_t byte) {
    if (m_incoming.empty() && byte != kReplySync && byte != kReportMarker) {
        return;  // noise between frames
    }
    m_incoming.push_back(byte);
    std::string meaning = DescribeBoxFrame(m_incoming);
    if (!meaning.empty()) {
        Note(meaning);
        m_incoming.clear();
    } else if (m_incoming.size() >= 6) {
        m_incoming.clear();
    }
}

// "  1.234567 > AA 05 ..." or "           = record ..."; other lines are skipped.
std::vector<TraceEvent> ReadTrace(std::istream& trace) {
    std::vector<TraceEvent> events;
    std::string line;
    while (std::getline(trace, line)) {
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first)) {
            continue;
        }
        if (first == "=") {
            std::string rest;
            std::getline(fields >> std::ws, rest);
            events.push_back({TraceEvent::Kind::Note, 0, 0, rest});
            continue;
        }
        std::string direction;
        if (!(fields >> direction) || (direction != ">" && direction != "<")) {
            continue;
        }
        TraceEvent event{
            direction == ">" ? TraceEvent::Kind::Sent : TraceEvent::Kind::Received, 0, 0, {}};
        try {
            event.time = std::stod(first);
        } catch (const std::exception&) {
            continue;
        }
        std::string byte;
        while (fields >> byte) {
            ++event.bytes;
        }
        events.push_back(event);
    }
    return events;
}

}  // namespace quillon
