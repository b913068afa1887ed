#include "engine/packet_series.h"

namespace quillon {

PacketSeries::PacketSeries(Use use) : m_use(use) {
    switch (use) {
        case Use::Send:
            m_builder.HoldFiles();
            break;
        case Use::Measure:
            m_builder.MeasureOnly();
            break;
        case Use::Keep:
            m_builder.KeepFiles();
            break;
    }
}

// The execute command's file goes before the series' own.
PacketSeries::~PacketSeries() {
    m_exec.reset();
}

void PacketSeries::SetInputs(const std::string& bootFolder, const std::string& projectPath,
                             const std::string& imagePath) {
    m_builder.SetFolder(bootFolder);
    if (!projectPath.empty()) {
        m_builder.SetProjectPaths(projectPath, imagePath);
    }
}

std::string PacketSeries::OutputFolder() const {
    return m_builder.OutputFolder();
}

void PacketSeries::OnRecord(InitFileBuilder::RecordListener listener) {
    m_builder.OnRecord(std::move(listener));
}

bool PacketSeries::Fail(const std::string& message, const std::string& detail) {
    m_message = message;
    m_detail = detail;
    return false;
}

bool PacketSeries::Lock() {
    if (!m_lock.Take(m_builder.OutputFolder())) {
        return Fail(m_lock.Problem(), {});
    }
    return true;
}

bool PacketSeries::Step(InitFileBuilder& builder, SeriesStep step) {
    m_failed = RunSeriesStep(builder, step);
    return !m_failed || Fail(m_failed->message, m_failed->reason);
}

bool PacketSeries::WriteBus() {
    return Step(m_builder, SeriesStep::Bus);
}

bool PacketSeries::WriteRest() {
    if (!Step(m_builder, SeriesStep::Build)) {
        return false;
    }
    m_count = m_builder.FileCount();
    m_identity = m_builder.SeriesIdentity();
    return true;
}

// Over file 0001, the execute command's folder is the output folder with a
// separator added: the same directory when the folder already ends in one,
// as the box expects; the full build's packet folder is the project's, and
// an empty one the current directory, never the root.
bool PacketSeries::WriteExec(std::uint32_t address, bool overFirst) {
    if (!overFirst) {
        m_builder.SetExecAddress(address);
        std::uint32_t before = m_builder.FileCount();
        if (!Step(m_builder, SeriesStep::Exec)) {
            return false;
        }
        m_execNumber = m_builder.FileCount() > before ? m_builder.FileCount() : 0;
        return true;
    }
    Release(1);  // sent long before; its name is written over now
    std::string folder = m_builder.OutputFolder();
    m_exec = std::make_unique<InitFileBuilder>();
    if (m_use == Use::Send) {
        m_exec->HoldFiles();
    }
    m_exec->SetFolder(folder.empty() ? "./" : folder + "/");
    m_exec->SetExecAddress(address);
    return Step(*m_exec, SeriesStep::Exec);
}

bool PacketSeries::Build(const std::string& bootFolder, const std::string& projectPath,
                         const std::string& imagePath, std::optional<std::uint32_t> startAddress) {
    SetInputs(bootFolder, projectPath, imagePath);
    if (!Lock() || !WriteBus() || !WriteRest()) {
        return false;
    }
    return !startAddress || WriteExec(*startAddress, false);
}

std::string PacketSeries::ExecFileName() const {
    if (m_exec) {
        return m_exec->FileName(1);
    }
    return m_builder.FileName(m_execNumber != 0 ? m_execNumber : 1);
}

File* PacketSeries::HeldExec() const {
    if (m_exec) {
        return m_exec->Held(1);
    }
    return Held(m_execNumber != 0 ? m_execNumber : 1);
}

}  // namespace quillon
