#pragma once

#include <cstdint>
#include <string>

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
    std::string OutputFolder() const;
    void DeleteFiles();

    // Why the latest step failed ("cannot create /x/0003: Permission denied"),
    // empty after a success.
    const std::string& LastError() const { return m_lastError; }

private:
    // ... implementation details
    std::string InputFolder() const;

    ProjectFile m_project;
    std::string m_folder;
    PacketFile m_packet;
    std::string m_lastName;
    std::uint32_t m_fileCount = 0;
    std::uint32_t m_execAddress = 0xFFFFFFFF;
    std::string m_lastError;
};

}  // namespace quillon
