#include "engine/packet_series.h"

#include "platform/file.h"

namespace quillon {

bool PacketSeries::Fail(const std::string& message, const std::string& detail) {
    m_message = message;
    m_detail = detail;
    return false;
}

bool PacketSeries::Build(const std::string& bootFolder, const std::string& projectPath,
                         const std::string& imagePath, std::optional<std::uint32_t> startAddress) {
    m_builder.SetFolder(bootFolder);
    if (!projectPath.empty()) {
        m_builder.SetProjectPaths(projectPath, imagePath);
    }
    if (!m_lock.Take(m_builder.OutputFolder())) {
        return Fail(m_lock.Problem(), {});
    }
    const char* step = "Invalid CBUS file (BOOT)!";
    try {
        if (!m_builder.WriteBusConfig()) {
            return Fail(step, m_builder.LastError());
        }
        step = "Invalid input file (BOOT)!";
        if (!m_builder.Build()) {
            return Fail(step, m_builder.LastError());
        }
        m_count = m_builder.FileCount();
        m_identity = m_builder.SeriesIdentity();
        step = "Failed to make init file ";
        if (startAddress) {
            m_builder.SetExecAddress(*startAddress);
            if (!m_builder.WriteExecCommand()) {
                return Fail(step, m_builder.LastError());
            }
        }
    } catch (const FileError& error) {
        return Fail(step, error.what());
    }
    m_execFile = m_builder.FileName(m_builder.FileCount() > m_count ? m_count + 1 : 1);
    return true;
}

}  // namespace quillon
