#include "engine/packet_series.h"

#include "engine/series_steps.h"

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
    for (SeriesStep step : {SeriesStep::Bus, SeriesStep::Build}) {
        if (auto failed = RunSeriesStep(m_builder, step)) {
            return Fail(failed->message, failed->reason);
        }
    }
    m_count = m_builder.FileCount();
    m_identity = m_builder.SeriesIdentity();
    if (startAddress) {
        m_builder.SetExecAddress(*startAddress);
        if (auto failed = RunSeriesStep(m_builder, SeriesStep::Exec)) {
            return Fail(failed->message, failed->reason);
        }
    }
    m_execFile = m_builder.FileName(m_builder.FileCount() > m_count ? m_count + 1 : 1);
    return true;
}

}  // namespace quillon
