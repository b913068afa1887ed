#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "initfiles/packet_file.h"
#include "initfiles/project_file.h"
#include "platform/digest.h"

namespace quillon {

// Writes the numbered series of packet files ("%s%04d": folder, number)
// and deletes them again when destroyed.
class InitFileBuilder {
public:
    InitFileBuilder() = default;
    InitFileBuilder(const InitFileBuilder&) = delete;
    InitFileBuilder& operator=(const InitFileBuilder&) = delete;
    ~InitFileBuilder();

    void SetFolder(const std::string& folder);
    // Any value is an address, 0xFFFFFFFF too: "no execute command" is the
    // absence of one (a first line of init_uploads.txt that says FFFFFFFF),
    // never an address that happens to look like it.
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
    // with the system's code where it was the system's; no words after a
    // success.
    const Fault& LastFault() const { return m_fault; }

    // Leaves the packet files on disk when the builder is destroyed, for a
    // caller that hands them on (`quillon-cli pack`); they are then made
    // readable by others as the user's umask allows. An update's own files
    // hold the uploads and are this user's alone.
    void KeepFiles() {
        m_keepFiles = true;
        m_packetMode = File::Mode::CreateFreshShared;
    }
    // Keeps the files it writes open, for the series to be sent from what
    // was written rather than from whatever its name holds later: the first
    // kMostHeld of them, so that a full build of thousands of blocks stays
    // within the descriptors a process may have (what is not held is sent
    // by its name, and the update checks what it sent).
    static constexpr std::uint32_t kMostHeld = 64;
    void HoldFiles() { m_holdFiles = true; }
    // File n as it was written, while held; nullptr otherwise.
    File* Held(std::uint32_t number) const;
    // Lets go of file n (it was sent; its name may be written over).
    void Release(std::uint32_t number);
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
    // The identity of every record made so far, in order: the SHA-256 of
    // their bytes, as the box receives them, in hexadecimal. Measured
    // records count as written ones would.
    std::string SeriesIdentity() const { return m_digest.HexDigest(); }
    // What the inputs hold that the box may not expect: uploads that go
    // empty, a byte-order mark skipped. Each names its file (and line).
    const std::vector<std::string>& Warnings() const { return m_warnings; }

private:
    std::string InputFolder() const;
    bool Fail(std::string reason);
    bool Fail(Fault fault);
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
    // The full build's fields that the image fills (block size, count and
    // index) checked before any file is written: a value a field cannot
    // hold would be cut, and the box would get a wrong series.
    bool CheckImageFits();
    bool LineTooLong(const TextFile& text, const std::string& path, int line);

    ProjectFile m_project;
    std::string m_folder;
    PacketFile m_packet;
    std::string m_lastName;
    std::uint32_t m_fileCount = 0;
    std::optional<std::uint32_t> m_execAddress;
    Fault m_fault;
    bool m_keepFiles = false;
    bool m_holdFiles = false;
    std::vector<std::unique_ptr<File>> m_held;  // by number, from 1
    bool m_measureOnly = false;
    File::Mode m_packetMode = File::Mode::CreateFresh;
    std::uint64_t m_seriesBytes = 0;
    std::vector<std::string> m_warnings;
    RecordListener m_onRecord;
    Sha256 m_digest;
    int m_code = 0;  // of the record being made
};

}  // namespace quillon
