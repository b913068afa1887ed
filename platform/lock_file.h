#pragma once

#include <string>

#include "platform/file.h"
#include "platform/native_handle.h"

namespace quillon {

// A file held with an exclusive lock for as long as this object holds it,
// and removed when it lets go. A file left behind by a holder that died is
// no longer locked and is taken over; what it held tells the new holder
// what the dead one was doing.
class LockFile {
public:
    enum class Take { Taken, HeldByOther, Failed };

    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile();

    // Never waits. HeldByOther: FoundContent() is the holder's content;
    // Failed: LastFault() says why.
    Take TryTake(const std::string& path);
    bool IsHeld() const { return m_fd != kNoHandle; }
    // After Taken: what a former holder left in the file (empty for a new file).
    const std::string& FoundContent() const { return m_found; }
    // After Taken: whether a file was there already, free: its holder died
    // (before it wrote a word, perhaps), or someone else put it there.
    bool TookOver() const { return m_tookOver; }
    Fault LastFault() const { return FaultOfOpen(m_error); }
    // Replaces the file's content; false when it cannot be written.
    bool SetContent(const std::string& content);
    void Release();

private:
    NativeHandle m_fd = kNoHandle;
    int m_error = 0;
    bool m_tookOver = false;
    std::string m_path;
    std::string m_found;
};

}  // namespace quillon
