#pragma once

#include <string>

#include "platform/fault.h"
#include "platform/native_handle.h"

namespace quillon {

// A folder held open from Open to Close. What is made in it goes into this
// very folder, even when its path is swapped meanwhile for a link to
// another (by a user who may write the folder's parent).
class Folder {
public:
    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    // false: OpenFault() says why (ENOTDIR for what is no folder).
    bool Open(const std::string& path);
    bool IsOpen() const { return m_handle != kNoHandle; }
    Fault OpenFault() const { return m_openError == 0 ? Fault() : Fault::OfErrno(m_openError); }
    const std::string& Path() const { return m_path; }
    // The path of a name in the folder, for people to read.
    std::string PathOf(const std::string& name) const;
    // 0 when files can be made in the folder, else the system's error.
    int WriteError() const;
    // Removes the file of that name in the folder (a link itself, never its
    // target); 0 or the system's error.
    int Remove(const std::string& name) const;
    void Close();

private:
    friend class File;  // File::CreateIn makes its file through the handle

    NativeHandle m_handle = kNoHandle;
    int m_openError = 0;
    std::string m_path;
    // Where names are made: on Windows, the folder's own path with every
    // link resolved, which cannot change while the handle is held.
    std::string m_within;
};

// Whether a name may be made inside a folder: one part, no separator, not
// "." or "..".
bool IsPlainName(const std::string& name);

}  // namespace quillon
