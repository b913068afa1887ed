#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "initfiles/packet_file.h"
#include "initfiles/project_file.h"

namespace quillon {

// Writes the numbered series of packet files ("%s%04d": folder, number)
// and deletes them again when destroyed.
class InitFileBuilder {
public:
    InitFileBuilder() = default;
    InitFileBuilder(const InitFileBuilder&) = delete;
    InitFileBuilder& operator=(const InitFileBuilder&) = delete;
    virtual ~InitFileBuilder();

    void SetFolder(const std::string& folder);
    void SetExecAddress(std::uint32_t value) { m_execAddress = value; }
    std::uint32_t FileCount() const { return m_fileCount; }
    // Where the full build finds its project description and image.
    void SetProjectPaths(const std::string& projectPath, const std::string& imagePath);

    bool Build();
    bool WriteBusConfig();
    bool WriteUploads();
    bool WriteExecCommand();
    bool WriteParameters();
    bool WriteBlockCount();
    bool WriteImageBlocks();
    bool WriteEndCommand();

    std::string NextFileName();
    // The name of packet file number n ("%s%04d" with the output folder).
    std::string FileName(std::uint32_t number) const;
    std::string OutputFolder() const;
    void DeleteFiles();

    // Why the latest step failed ("cannot create /x/0003: Permission denied"),
    // empty after a success.
    const std::string& LastError() const { return m_lastError; }

    // Leaves the packet files on disk when the builder is destroyed, for a
    // caller that hands them on (`quillon-cli pack`).
    void KeepFiles() { m_keepFiles = true; }
    // Builds nothing on disk: every step reads its inputs and measures its
    // records as it would write them, so that a caller can check the inputs
    // and tell the series' size before the box is reset.
    void MeasureOnly();
    // Called for every record once it is written: its file, command code
    // and length field. A listing made from it needs no second read.
    using RecordListener =
        std::function<void(const std::string& name, int code, std::uint16_t lengthField)>;
    void OnRecord(RecordListener listener) { m_onRecord = std::move(listener); }
    // The bytes of every record made so far.
    std::uint64_t SeriesBytes() const { return m_seriesBytes; }
    // What the inputs hold that the box may not expect: uploads that go
    // empty, a byte-order mark skipped. Each names its file (and line).
    const std::vector<std::string>& Warnings() const { return m_warnings; }

private:
    std::string InputFolder() const;
    bool Fail(std::string reason);
    // The common frame of every packet: name, create, header ... length, checksum, close.
    bool BeginPacket(int code);
    bool EndPacket();
    bool WriteBusGroup(const std::vector<std::uint16_t>& values, const std::string& source);
    bool WriteUpload(const std::string& folder, const std::string& name, const std::string& list,
                     int line);
    void Warn(const std::string& text);
    void NoteByteOrderMark(const TextFile& text, const std::string& path);
    bool RequireFullBuild(const char* what);
    bool RequirePositiveBlockSize(std::int32_t size);

    ProjectFile m_project;
    std::string m_folder;
    PacketFile m_packet;
    std::string m_lastName;
    std::uint32_t m_fileCount = 0;
    std::uint32_t m_execAddress = 0xFFFFFFFF;
    std::string m_lastError;
    bool m_keepFiles = false;
    bool m_measureOnly = false;
    std::uint64_t m_seriesBytes = 0;
    std::vector<std::string> m_warnings;
    RecordListener m_onRecord;
    int m_code = 0;  // of the record being made
};

}  // namespace quillon
