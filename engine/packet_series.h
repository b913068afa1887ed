#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/series_steps.h"
#include "initfiles/init_file_builder.h"
#include "initfiles/series_lock.h"

namespace quillon {

// The packet series an update sends, and the only maker of it: one update's
// own, step by step as the update takes them; one built beforehand for
// several boxes; one measured before the box is reset; one written and kept
// (`pack`). A series to be sent keeps every file open from the moment it is
// written, and is sent from those files: what a box receives is what was
// built and measured, whatever the files' names come to hold meanwhile.
class PacketSeries {
public:
    enum class Use {
        Send,     // written, held open, removed with the series
        Measure,  // nothing written: its size, identity and warnings
        Keep,     // written and left in place, readable as the umask allows
    };

    explicit PacketSeries(Use use = Use::Send);
    PacketSeries(const PacketSeries&) = delete;
    PacketSeries& operator=(const PacketSeries&) = delete;
    ~PacketSeries();

    // The boot folder, or, when it is empty, the full build's project and image.
    void SetInputs(const std::string& bootFolder, const std::string& projectPath,
                   const std::string& imagePath);
    // Where its files go: the boot folder, or the project's in the full build.
    std::string OutputFolder() const;
    // The folder's lock, before any file is written. false: Message() says
    // why, InUse() whether another update holds the folder.
    bool Lock();
    bool InUse() const { return m_lock.InUse(); }

    // The steps in the order an update takes them: the bus step alone (its
    // first file is the handshake), the rest of the series numbered on, then
    // the execute command: over file 0001 as a single update has it (file
    // 0001 has been sent and is let go), or numbered on after the series.
    // false: Failed() says which step and why.
    bool WriteBus();
    bool WriteRest();
    bool WriteExec(std::uint32_t address, bool overFirst);
    // The folder's lock, the bus step, the rest and, with an address, the
    // execute command numbered on: a series for several boxes.
    bool Build(const std::string& bootFolder, const std::string& projectPath,
               const std::string& imagePath, std::optional<std::uint32_t> startAddress);

    const std::optional<StepFailure>& Failed() const { return m_failed; }
    // What the update shows for the failure ("Invalid CBUS file (BOOT)!", or
    // the lock's problem), and why.
    const std::string& Message() const { return m_message; }
    const std::string& Detail() const { return m_detail; }
    const std::vector<std::string>& Warnings() const { return m_builder.Warnings(); }
    // Called for every record once it is written (`pack` lists them).
    void OnRecord(InitFileBuilder::RecordListener listener);

    // The series that goes before the execute command: files 1 to Count().
    std::uint32_t Count() const { return m_count; }
    // Every file numbered so far, the execute command's and a failed step's too.
    std::uint32_t Numbered() const { return m_builder.FileCount(); }
    std::string FileName(std::uint32_t number) const { return m_builder.FileName(number); }
    // The execute command's own file; file 0001 when none was written.
    std::string ExecFileName() const;
    std::uint64_t Bytes() const { return m_builder.SeriesBytes(); }
    // The identity of files 1 to Count(): what every box receives before
    // the execute command.
    const std::string& Identity() const { return m_identity; }

    // File n, and the execute command's, as they were written; nullptr when
    // not held (measured, kept, or let go).
    File* Held(std::uint32_t number) const { return m_builder.Held(number); }
    File* HeldExec() const;
    // File n has been sent and is needed no more.
    void Release(std::uint32_t number) { m_builder.Release(number); }

private:
    bool Step(InitFileBuilder& builder, SeriesStep step);
    bool Fail(const std::string& message, const std::string& detail);

    Use m_use;
    // Declared first so that it is released last, once the files are gone.
    SeriesLock m_lock;
    InitFileBuilder m_builder;
    // A single update's execute command, written over file 0001.
    std::unique_ptr<InitFileBuilder> m_exec;
    std::uint32_t m_count = 0;
    std::uint32_t m_execNumber = 0;  // numbered on; 0 for none
    std::string m_identity;
    std::optional<StepFailure> m_failed;
    std::string m_message;
    std::string m_detail;
};

}  // namespace quillon
