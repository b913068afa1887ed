#include "initfiles/packet_file.h"

#include <vector>

namespace quillon {

namespace {

// Large enough that copying an upload or summing a block back costs a
// handful of system calls, not one per kilobyte.
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

void PacketFile::WriteHeader(int code) {
    const std::uint8_t header[4] = {0xAA, static_cast<std::uint8_t>(code & 0xFF), 0x00, 0x00};
    Write(header, sizeof header);
}

void PacketFile::WriteWordBE(std::uint16_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    Write(bytes, sizeof bytes);
}

void PacketFile::WriteDwordBE(std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    Write(bytes, sizeof bytes);
}

bool PacketFile::AppendFile(const std::string& path) {
    File source;
    if (!source.Open(path, Mode::ReadExisting)) {
        return false;
    }
    std::uint64_t length = source.GetLength();
    std::vector<std::uint8_t> buffer(length < kChunk ? static_cast<std::size_t>(length) + 1
                                                     : kChunk);
    for (;;) {
        std::size_t got = source.Read(buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        Write(buffer.data(), got);
    }
    source.Close();
    return true;
}

void PacketFile::PatchLength() {
    std::uint64_t length = GetLength();
    Seek(2, From::Start);
    WriteWordBE(static_cast<std::uint16_t>(length));
}

void PacketFile::AppendChecksum() {
    std::uint64_t remaining = GetLength();
    Seek(0, From::Start);
    // Sized to the record: most records are a few bytes, and a block
    // series makes tens of thousands of them.
    std::vector<std::uint8_t> buffer(remaining < kChunk ? static_cast<std::size_t>(remaining)
                                                        : kChunk);
    std::uint32_t sum = 0;
    while (remaining > 0) {
        std::size_t want =
            remaining < buffer.size() ? static_cast<std::size_t>(remaining) : buffer.size();
        std::size_t got = Read(buffer.data(), want);
        if (got == 0) {
            break;
        }
        for (std::size_t i = 0; i < got; ++i) {
            sum += buffer[i];
        }
        remaining -= got;
    }
    Seek(0, From::End);
    WriteDwordBE(0u - sum);
}

}  // namespace quillon
