#include "cli/trace_writer.h"

#include <cerrno>
#include <cstring>

#include "initfiles/packet_record.h"

namespace quillon::cli {

namespace {

constexpr std::uint8_t kStatusSync = 0xAA;
constexpr std::uint8_t kReportMarker = 0x0F;

std::size_t ReportSize(std::uint8_t code) {
    return (code == 0x0A || code == 0x0C || code == 0x0E) ? 6 : 2;
}

std::string Hex(unsigned value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", width, value);
    return text;
}

std::string DescribeReport(const std::vector<std::uint8_t>& frame) {
    std::uint8_t code = frame[1];
    switch (code) {
        case 0x01:
            return "progress: erasing has begun";
        case 0x0A:
            return "progress: erased " + std::to_string(ReadWordBE(&frame[2])) + "/" +
                   std::to_string(ReadWordBE(&frame[4])) + " sectors";
        case 0x0C:
            return "progress: burnt " + std::to_string(ReadDwordBE(&frame[2]) & 0x0FFFFFFF) +
                   " bytes";
        case 0x0D:
            return "progress: success, the box restarts";
        case 0x0E:
            return "progress: " + std::to_string(ReadDwordBE(&frame[2])) + " bytes to burn";
        case 0x0F:
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
    if (frame[0] == kStatusSync) {
        return "status reply " + Hex(frame[1], 2);
    }
    if (frame[0] == kReportMarker && frame.size() == ReportSize(frame[1])) {
        return DescribeReport(frame);
    }
    return {};
}

bool TraceWriter::Open(const std::string& path) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "w");
    return m_file != nullptr;
}

TraceWriter::~TraceWriter() {
    Close();
}

void TraceWriter::Close() {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_file != nullptr && std::fclose(m_file) != 0) {
        ReportFailure(errno);
    }
    m_file = nullptr;
}

void TraceWriter::Flush() {
    if (std::fflush(m_file) != 0 || std::ferror(m_file)) {
        ReportFailure(errno);
    }
}

void TraceWriter::ReportFailure(int error) {
    if (m_failed) {
        return;
    }
    m_failed = true;
    if (m_report) {
        m_report("the trace " + m_path + " is cut short: " + std::strerror(error));
    }
}

void TraceWriter::OnSent(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Dump(">", bytes, count);
    for (std::size_t i = 0; i < count; ++i) {
        DecodeSent(bytes[i]);
    }
}

void TraceWriter::OnReceived(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Dump("<", bytes, count);
    for (std::size_t i = 0; i < count; ++i) {
        DecodeReceived(bytes[i]);
    }
}

void TraceWriter::Dump(const char* direction, const std::uint8_t* bytes, std::size_t count) {
    if (m_file == nullptr) {
        return;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    for (std::size_t line = 0; line < count; line += 16) {
        std::fprintf(m_file, "%10.6f %s", seconds, direction);
        for (std::size_t i = line; i < count && i < line + 16; ++i) {
            std::fprintf(m_file, " %02X", bytes[i]);
        }
        std::fputc('\n', m_file);
    }
    Flush();
}

void TraceWriter::Note(const std::string& text) {
    if (m_file != nullptr) {
        std::fprintf(m_file, "           = %s\n", text.c_str());
        Flush();
    }
}

void TraceWriter::DecodeSent(std::uint8_t byte) {
    m_record.push_back(byte);
    if (m_record.size() < kRecordHeaderSize) {
        return;
    }
    std::size_t size = RecordSizeFor(ReadWordBE(&m_record[2]));
    if (m_record.size() < size) {
        return;
    }
    RecordCheck check = CheckRecord(m_record.data(), m_record.size());
    const char* name = CommandName(check.code);
    Note(std::string("record ") + (name != nullptr ? name : Hex(check.code, 2).c_str()) +
         ", length " + std::to_string(check.lengthField) + ", checksum " +
         (check.checksumOk ? "ok" : "BAD"));
    m_record.clear();
}

void TraceWriter::DecodeReceived(std::uint8_t byte) {
    if (m_incoming.empty() && byte != kStatusSync && byte != kReportMarker) {
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

}  // namespace quillon::cli
