#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace quillon {

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

// Writes one command record: 0xAA, code, 16-bit big-endian length, payload,
// 32-bit big-endian checksum.
class PacketFile : public File {
public:
    void WriteHeader(int code);
    void WriteWordBE(std::uint16_t value);
    void WriteDwordBE(std::uint32_t value);
    bool AppendFile(const std::string& path);
    void PatchLength();
    void AppendChecksum();
};

}  // namespace quillon
