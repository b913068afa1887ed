#include "initfiles/series_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/file.h"
#include "platform/program_path.h"

namespace quillon {

namespace {

std::string PacketName(const std::string& folder, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", number);
    return folder + digits;
}

std::string HolderOf(const std::string& content) {
    std::size_t end = content.find_first_not_of("0123456789");
    std::string pid = content.substr(0, end);
    return pid.empty() ? "unknown" : pid;
}

}  // namespace

bool SeriesLock::Take(const std::string& folder) {
    m_problem.clear();
    m_inUse = false;
    std::string path = folder + kFileName;
    switch (m_file.TryTake(path)) {
        case LockFile::Take::Taken:
            // Our number first, so that one who finds the folder while we
            // clean it knows whom it waits for. A file that was still there
            // names a run that ended without removing its series, though it
            // may have died before it wrote its number.
            m_file.SetContent(std::to_string(ProcessId()) + "\n");
            if (m_file.TookOver()) {
                RemoveLeftovers(folder);
            }
            return true;
        case LockFile::Take::HeldByOther:
            m_inUse = true;
            m_problem = "boot folder " + folder + " is in use by another update (pid " +
                        HolderOf(m_file.FoundContent()) + ")";
            return false;
        case LockFile::Take::Failed:
            break;
    }
    if (m_file.LastFault().code == ENAMETOOLONG) {
        m_problem = "the path is too long for the system: " + path + " (" +
                    std::strerror(ENAMETOOLONG) + ")";
        return false;
    }
    // A folder that is missing or not ours to write holds no series either:
    // the build says so in its own words. Anything else at the lock's name
    // (a link, a folder, a FIFO, a file with other names) is never skipped.
    if (File::FolderWriteError(folder.empty() ? "." : folder) != 0) {
        return true;
    }
    m_problem =
        "cannot lock the boot folder " + folder + ": " + path + ": " + m_file.LastFault().words;
    return false;
}

// A series is numbered from 0001 without a gap and removed from its end, so
// what is left of it runs up to the first number missing. Only 0001 may be
// gone out of turn: the execute command replaces it and is removed once sent.
// Removed from the end here too, so that a run killed while it cleans leaves
// a shorter series of the same shape, which the next one finds whole.
void SeriesLock::RemoveLeftovers(const std::string& folder) const {
    auto present = [&folder](int number) { return NameTaken(PacketName(folder, number)); };
    int last = 1;
    while (present(last + 1)) {
        ++last;
    }
    for (int number = last; number >= 1; --number) {
        try {
            File::Remove(PacketName(folder, number));
        } catch (const FileError&) {
        }
    }
}

}  // namespace quillon
