#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "initfiles/wire.h"
#include "platform/file.h"

namespace quillon {

// Writes one command record: 0xAA, code, 16-bit big-endian length, payload,
// 32-bit big-endian checksum. The file is created by Open; the record is put
// together in memory and written by Close in one go, because a block series
// makes thousands of records and a system call per field, plus reading each
// record back for its checksum, would cost more than the data itself.
class PacketFile {
public:
    PacketFile() = default;
    PacketFile(const PacketFile&) = delete;
    PacketFile& operator=(const PacketFile&) = delete;
    // A record that was never closed is not written.
    ~PacketFile() = default;

    // A record still open is dropped unwritten; false when the file cannot be
    // opened. Measuring, false when the name could not be made fresh.
    bool Open(const std::string& path, File::Mode mode);
    bool IsOpen() const { return (m_file && m_file->IsOpen()) || m_measuring; }
    const std::string& Path() const { return m_path; }
    // From now on records are put together and measured, but no file is
    // created or written: what a series would be, before it is written.
    void MeasureOnly() { m_measureOnly = true; }
    Fault OpenFault() const { return FaultOfOpen(m_openError); }

    void WriteHeader(int code);
    void WriteWordBE(std::uint16_t value);
    void WriteDwordBE(std::uint32_t value);
    void Write(const void* buffer, std::size_t count);
    // Appends the whole source file, or its first `most` bytes and one more:
    // a caller that checks the record's length then refuses it, rather than
    // have a file that grew to gigabytes read into memory. false when it
    // does not open.
    bool AppendFile(const std::string& path, std::uint64_t most = UINT64_MAX);
    // The length of the record so far.
    std::uint64_t GetLength() const { return m_bytes.size(); }
    // The record so far, as it will be written.
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    void PatchLength();
    void AppendChecksum();

    // Writes the record and closes the file; raises FileError when the
    // write fails, and the file is then closed and removed.
    void Close();
    // Writes the record as Close does, and hands the file over still open:
    // what was written is read back from it, whatever its name comes to
    // name meanwhile. nullptr when measuring.
    std::unique_ptr<File> CloseKeeping();
    // Closes the file without writing the record.
    void Discard();

private:
    std::unique_ptr<File> m_file;
    std::string m_path;
    std::vector<std::uint8_t> m_bytes;  // the record; keeps its capacity from one to the next
    bool m_measureOnly = false;
    bool m_measuring = false;  // a record is open in measure-only mode
    int m_openError = 0;
};

}  // namespace quillon
