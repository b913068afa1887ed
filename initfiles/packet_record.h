#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Framing of one boot-loader command record, for code that reads records
// back (the box emulator, `quillon-cli inspect`): 0xAA, code, 16-bit
// big-endian length (4 + payload), payload, 32-bit big-endian checksum.
constexpr std::uint8_t kRecordSync = 0xAA;
constexpr std::size_t kRecordHeaderSize = 4;
constexpr std::size_t kRecordChecksumSize = 4;
// The smallest record: a header and a checksum, no payload.
constexpr std::size_t kMinRecordSize = kRecordHeaderSize + kRecordChecksumSize;

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
