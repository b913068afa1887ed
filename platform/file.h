#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/native_handle.h"

namespace quillon {

class Folder;

// Raised by the file layer when a read, write, seek or removal fails.
class FileError : public std::runtime_error {
public:
    FileError(std::string path, int systemError, const std::string& action);

    const std::string& Path() const { return m_path; }
    int SystemError() const { return m_systemError; }
    // The system's own words for the failure ("No space left on device").
    std::string Reason() const;

private:
    std::string m_path;
    int m_systemError;
};

// A file on disk, opened by path. Open reports failure by its result;
// every other failure raises FileError.
class File {
public:
    // No open ever waits (a FIFO would wait for its other end), and only a
    // regular file is opened. Nothing we write is reached through a link: a
    // technician may run us as root in a folder that others can write.
    enum class Mode {
        ReadExisting,  // an existing regular file, read-only
        // A new file, read and write, in place of whatever had the name: that
        // is removed first (a link itself, never its target). Readable by this
        // user only: a series holds the uploads, which may be private.
        CreateFresh,
        // The same, readable by others as far as the user's umask lets them:
        // for files that are meant to be kept and shared.
        CreateFreshShared,
        // The regular file of that name, emptied, or a new one; a name that is
        // a symbolic link or has other names (hard links) is refused.
        Overwrite,
        // The same, never emptied; every write goes to its end.
        Append,
    };
    enum class From { Start, End };

    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File();

    // false when the file cannot be opened; OpenFault() then says why.
    bool Open(const std::string& path, Mode mode);
    // A new file of that name made in a folder held open, read and write:
    // never one that was there (EEXIST), never through a link, readable by
    // others as far as the user's umask lets them. Path() is the folder's
    // path and the name.
    bool CreateIn(const Folder& folder, const std::string& name);
    bool IsOpen() const { return m_fd != kNoHandle; }
    const std::string& Path() const { return m_path; }
    Fault OpenFault() const;

    virtual std::uint64_t Seek(std::int64_t offset, From from);
    virtual std::uint64_t GetLength();
    // Count of bytes read: fewer than asked near the end, 0 at the end.
    virtual std::size_t Read(void* buffer, std::size_t count);
    // The same from a given offset, leaving the file's position alone.
    std::size_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset);
    // Whether the path this file was opened by still names this very file:
    // false once it was removed, or another file was put in its place.
    bool IsStillAt(const std::string& path) const;
    virtual void Write(const void* buffer, std::size_t count);
    // Writes all of it at the end of the file, or nothing: a part that got
    // in before a failure (a full disk) is cut off again, so that no reader
    // finds half a line. Others appending with this call wait their turn.
    // 0, or the system's error.
    int AppendWhole(const void* buffer, std::size_t count);
    void Close();

    static void Remove(const std::string& path);
    // 0 when files can be created in the folder, else the system's error.
    static int FolderWriteError(const std::string& folder);
    // 0 when Open with CreateFresh can make the name fresh: nothing has it,
    // or what has it may be removed. Else why not (EISDIR for a folder).
    static int FreshNameError(const std::string& path);
    // Puts from in the place of to, replacing it in one step.
    static void Replace(const std::string& from, const std::string& to);

protected:
    [[noreturn]] void Fail(const std::string& action) const;

private:
    NativeHandle m_fd = kNoHandle;
    int m_openError = 0;
    std::string m_path;
    // What the system knows the open file by (device and file number).
    std::uint64_t m_volume = 0;
    std::uint64_t m_index = 0;
};

// What the layers above ask of a path, by the system's own calls, so that
// every path of any length and any letters gets the same care as a file's
// (on Windows the wide calls, with \\?\ past MAX_PATH, which the C
// runtime's stat refuses).
// 0 when the path names a folder, a link to one included; ENOENT when
// nothing has the name, ENOTDIR when something else has it; else the
// system's error.
int FolderError(const std::string& path);
// Whether the path names anything (a link that leads nowhere names nothing).
bool PathExists(const std::string& path);
// Whether anything has the name, a link that leads nowhere included.
bool NameTaken(const std::string& path);
// The system's own folder separator ('/', on Windows '\\'); '/' works on both.
#ifdef _WIN32
inline constexpr char kSystemSeparator = '\\';
#else
inline constexpr char kSystemSeparator = '/';
#endif
// Makes link a symbolic link to target, in place of a link of that name
// (never of anything else); 0, or the system's error.
int PlaceLink(const std::string& target, const std::string& link);
// Removes a link made so; nothing when the name is no link.
void RemoveLink(const std::string& link);
// The size of the file the path names; none when it cannot be told.
std::optional<std::uint64_t> FileSizeAt(const std::string& path);
// The names of the regular files in a folder, links not followed, in no
// order; none when the folder cannot be read.
std::vector<std::string> RegularFilesIn(const std::string& folder);
// Makes the folder that the file of that path lies in, and those above it
// that are missing; 0, or the system's error.
int MakeFolderFor(const std::string& path);

// The words for an error of Open, where ours say more than the system's:
// "is a symbolic link, which is not followed".
std::string OpenErrorText(int error);
// An error of Open with those words; none for 0.
Fault FaultOfOpen(int error);
// Errors of Open for what it refuses by itself.
constexpr int kErrorHardLink = EMLINK;    // the file has other names
constexpr int kErrorNotRegular = EINVAL;  // a FIFO, a device, a socket

// A text file read one line at a time. A line ends at LF; a CR before the
// LF is dropped with it; a last line without a line end still counts. A
// UTF-8 byte-order mark at the start (Windows Notepad writes one) is not
// part of the first line: it would hide a value or a section there.
// A line is held up to kMaxLine bytes: the rest of a longer one (a file of
// a gigabyte without a line end) is passed over, and the line is flagged.
class TextFile : public File {
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;

    bool ReadLine(std::string& line);
    // Whether the line last read was longer than kMaxLine (it holds its start).
    bool LineTooLong() const { return m_tooLong; }
    // Whether the file began with a byte-order mark that was skipped.
    bool SkippedByteOrderMark() const { return m_skippedMark; }
    // Reads no more than this many bytes of the file in all; what lies
    // beyond is taken for the end, and WasCut() says so.
    void LimitTo(std::uint64_t bytes) { m_limit = bytes; }
    bool WasCut() const { return m_cut; }

private:
    bool Refill();
    void PassOverLineEnd();

    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_atEnd = false;
    bool m_started = false;
    bool m_skippedMark = false;
    bool m_tooLong = false;
    bool m_cut = false;
    std::uint64_t m_limit = UINT64_MAX;
    std::uint64_t m_readSoFar = 0;
};

}  // namespace quillon
