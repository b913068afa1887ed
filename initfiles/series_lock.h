#pragma once

#include <string>

#include "platform/lock_file.h"

namespace quillon {

// One update's (or one pack's) hold on the folder that its packet files go
// to. A second one on the same folder would rewrite files that the first is
// sending, and the first's clean-up would delete the second's; so it is
// refused while the hold lasts. Files that a killed one left behind are
// removed when its folder is taken over.
class SeriesLock {
public:
    static constexpr const char* kFileName = ".quillon.lock";

    // false when another holds the folder, when what has the lock's name is
    // no lock file, or when no file could ever be written there because the
    // path is too long; Problem() says why. A folder that is missing or
    // read-only is left to the build to report.
    bool Take(const std::string& folder);
    const std::string& Problem() const { return m_problem; }
    // The last Take found the folder held by another update.
    bool InUse() const { return m_inUse; }
    void Release() { m_file.Release(); }

private:
    void RemoveLeftovers(const std::string& folder) const;

    LockFile m_file;
    std::string m_problem;
    bool m_inUse = false;
};

}  // namespace quillon
