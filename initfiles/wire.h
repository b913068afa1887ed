#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// The wire between the tool and the box's boot loader, owned here and used
// by the worker, the box emulator, the trace and `quillon-cli inspect`.

// --- command records, tool to box ---
// 0xAA, code, 16-bit big-endian length (4 + payload), payload, 32-bit
// big-endian checksum.
constexpr std::uint8_t kRecordSync = 0xAA;
constexpr std::size_t kRecordHeaderSize = 4;
constexpr std::size_t kRecordChecksumSize = 4;
// The smallest record: a header and a checksum, no payload.
constexpr std::size_t kMinRecordSize = kRecordHeaderSize + kRecordChecksumSize;

// Command codes of the boot loader's records.
enum CommandCode : int {
    CMD_CBUS = 0x03,
    CMD_UPLOAD = 0x05,
    CMD_EXEC_ADDRESS = 0x09,
    CMD_BLOCK_COUNT = 0x21,
    CMD_BLOCK_DATA = 0x22,
    CMD_BLOCK_HEADER = 0x24,
    CMD_END = 0x26,
    CMD_PARAMETERS = 0x30,
};

// The largest payload whose record length (4 + payload) fits the 16-bit field.
constexpr std::uint32_t kMaxPayload = 0xFFFF - 4;

// --- status replies, box to tool: 0xAA and a code ---
constexpr std::uint8_t kReplySync = 0xAA;
constexpr std::uint8_t kReplyNoVerdict = 0x00;  // after the handshake: ask again
constexpr std::uint8_t kReplyReady = 0x01;      // the boot loader awaits records
constexpr std::uint8_t kReplyRejected = 0x11;   // a record's checksum or length is wrong
constexpr std::uint8_t kNoReply = 0xFF;         // none came in time (never sent by the box)

// --- progress reports while the box erases and burns: 0x0F, a code, and
// for three codes four data bytes ---
constexpr std::uint8_t kReportMarker = 0x0F;
enum ReportCode : std::uint8_t {
    kReportEraseBegun = 0x01,
    kReportErased = 0x0A,     // sectors done, sectors in all: 16 bits each
    kReportBurnt = 0x0C,      // bytes burnt: the low 28 of 32 bits
    kReportSucceeded = 0x0D,  // the box restarts
    kReportBurnTotal = 0x0E,  // bytes to burn: 32 bits
    kReportFailed = 0x0F,
};
// The data bytes that follow a report's code.
constexpr std::size_t ReportDataSize(std::uint8_t code) {
    return code == kReportErased || code == kReportBurnt || code == kReportBurnTotal ? 4 : 0;
}

// "0x0A", "0x800001A0": a value as the trace and `inspect` show it.
std::string Hex(std::uint32_t value, int digits);

// The value that makes a record valid: the two's-complement negation,
// modulo 2^32, of the sum of the n bytes (header and payload).
std::uint32_t RecordChecksum(const std::uint8_t* data, std::size_t n);

// "CMD_CBUS", "CMD_UPLOAD", ...; nullptr for a code the boot loader does not know.
const char* CommandName(int code);

// Big-endian readers, as records store every multi-byte value.
inline std::uint16_t ReadWordBE(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t ReadDwordBE(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// The whole size of the record that a length field announces (it does not
// count the checksum). A reader of a stream takes this many bytes.
constexpr std::size_t RecordSizeFor(std::uint16_t lengthField) {
    return std::size_t{lengthField} + kRecordChecksumSize;
}

// What CheckRecord found in one complete record.
struct RecordCheck {
    bool complete = false;    // at least a header and a checksum
    bool syncOk = false;      // first byte 0xAA
    bool lengthOk = false;    // length field equals size - 4, and that fits 16 bits
    bool checksumOk = false;  // sum of header and payload plus the checksum is 0 mod 2^32
    bool codeKnown = false;   // a command code of the boot loader
    int code = -1;
    std::uint16_t lengthField = 0;
    std::size_t payloadSize = 0;       // size - 8 (0 when incomplete)
    std::uint32_t storedChecksum = 0;  // the last four bytes
    std::uint32_t expectedChecksum = 0;

    // Well framed: the boot loader accepts the bytes as one record. An
    // unknown code is the box's business, not the frame's.
    bool Ok() const { return complete && syncOk && lengthOk && checksumOk; }
};

// Decides whether size bytes are exactly one well-formed record.
RecordCheck CheckRecord(const std::uint8_t* data, std::size_t size);

// Reads a whole packet file into bytes. false when it does not open as a
// regular file, or is larger than any record (EFBIG); the reason is then in
// openError. A failed read raises FileError.
bool LoadRecordFile(const std::string& path, std::vector<std::uint8_t>& bytes, int& openError);

}  // namespace quillon
