#include "initfiles/packet_file.h"

#include <algorithm>

#include "initfiles/wire.h"

namespace quillon {

namespace {

// Large enough that copying an upload costs a handful of system calls, not
// one per kilobyte.
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

bool PacketFile::Open(const std::string& path, File::Mode mode) {
    Discard();
    m_path = path;
    if (m_measureOnly) {
        m_openError = File::FreshNameError(path);
        m_measuring = m_openError == 0;
        return m_measuring;
    }
    m_file = std::make_unique<File>();
    bool opened = m_file->Open(path, mode);
    m_openError = m_file->OpenFault().code;
    return opened;
}

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

void PacketFile::Write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
}

bool PacketFile::AppendFile(const std::string& path, std::uint64_t most) {
    File source;
    if (!source.Open(path, File::Mode::ReadExisting)) {
        return false;
    }
    // One byte more than the length, so that a source of the length it had
    // is read in one call and one that grew meanwhile is still read whole,
    // up to one byte past what may be taken.
    std::uint64_t length = source.GetLength();
    std::uint64_t left = most == UINT64_MAX ? most : most + 1;
    std::size_t room = length < kChunk ? static_cast<std::size_t>(length) + 1 : kChunk;
    std::size_t end = m_bytes.size();
    while (left > 0) {
        room = static_cast<std::size_t>(std::min<std::uint64_t>(room, left));
        m_bytes.resize(end + room);
        std::size_t got = source.Read(m_bytes.data() + end, room);
        end += got;
        left -= got;
        if (got < room) {
            break;
        }
        room = kChunk;
    }
    m_bytes.resize(end);
    source.Close();
    return true;
}

// As a seek past the end and a write would: a record shorter than its
// header is filled up with zeros first.
void PacketFile::PatchLength() {
    auto length = static_cast<std::uint16_t>(m_bytes.size());
    if (m_bytes.size() < 4) {
        m_bytes.resize(4, 0x00);
    }
    m_bytes[2] = static_cast<std::uint8_t>(length >> 8);
    m_bytes[3] = static_cast<std::uint8_t>(length);
}

void PacketFile::AppendChecksum() {
    WriteDwordBE(RecordChecksum(m_bytes.data(), m_bytes.size()));
}

void PacketFile::Close() {
    CloseKeeping();
}

std::unique_ptr<File> PacketFile::CloseKeeping() {
    if (!m_file || !m_file->IsOpen()) {
        Discard();
        return nullptr;
    }
    try {
        m_file->Write(m_bytes.data(), m_bytes.size());
    } catch (const FileError&) {
        // A record that could not be written leaves no file: a cut or empty
        // one would be sent as it stands by whoever finds it.
        std::string path = m_path;
        Discard();
        try {
            File::Remove(path);
        } catch (const FileError&) {
        }
        throw;
    }
    m_bytes.clear();
    m_measuring = false;
    return std::move(m_file);
}

void PacketFile::Discard() {
    m_bytes.clear();
    m_measuring = false;
    m_file.reset();
}

}  // namespace quillon
