#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "initfiles/init_file_builder.h"
#include "initfiles/series_lock.h"

namespace quillon {

// A packet series built once, before any line opens, for several boxes at
// once or for one box after another: every update sends the same files,
// which stay, under the folder's lock, until the series goes.
class PacketSeries {
public:
    PacketSeries() = default;
    PacketSeries(const PacketSeries&) = delete;
    PacketSeries& operator=(const PacketSeries&) = delete;

    // The bus step, the build, then the final execute command with the
    // start address, as one update makes them. false: Message() is what the
    // update would have shown ("Invalid CBUS file (BOOT)!"), Detail() why.
    bool Build(const std::string& bootFolder, const std::string& projectPath,
               const std::string& imagePath, std::optional<std::uint32_t> startAddress);
    const std::string& Message() const { return m_message; }
    const std::string& Detail() const { return m_detail; }
    // The build was refused because another update holds the boot folder.
    bool InUse() const { return m_lock.InUse(); }
    const std::vector<std::string>& Warnings() const { return m_builder.Warnings(); }

    // The series that goes before the execute command: files 1 to Count().
    std::uint32_t Count() const { return m_count; }
    std::string FileName(std::uint32_t number) const { return m_builder.FileName(number); }
    // The execute command's own file. An update writes it over file 0001
    // and removes it once sent; shared, it has a number of its own. With no
    // start address none is written, and file 0001 goes in its place, as in
    // a single update.
    std::string ExecFileName() const { return m_execFile; }
    std::uint64_t Bytes() const { return m_builder.SeriesBytes(); }
    // The identity of files 1 to Count(): what every box receives before
    // the execute command.
    const std::string& Identity() const { return m_identity; }

private:
    bool Fail(const std::string& message, const std::string& detail);

    // Declared first so that it is released last, once the files are gone.
    SeriesLock m_lock;
    InitFileBuilder m_builder;
    std::uint32_t m_count = 0;
    std::string m_execFile;
    std::string m_identity;
    std::string m_message;
    std::string m_detail;
};

}  // namespace quillon
