#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillon {

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
    enum class Mode {
        ReadExisting,     // an existing regular file, read-only
        CreateReadWrite,  // create or truncate, read and write; a symbolic link is not followed
    };
    enum class From { Start, End };

    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File();

    // false when the file cannot be opened; the reason is then in LastOpenError().
    bool Open(const std::string& path, Mode mode);
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }
    int LastOpenError() const { return m_openError; }

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
    void Close();

    static void Remove(const std::string& path);
    // 0 when files can be created in the folder, else the system's error.
    static int FolderWriteError(const std::string& folder);
    // Puts from in the place of to, replacing it in one step.
    static void Replace(const std::string& from, const std::string& to);

protected:
    [[noreturn]] void Fail(const std::string& action) const;

private:
    int m_fd = -1;
    int m_openError = 0;
    std::string m_path;
    // What the system knows the open file by (device and file number).
    std::uint64_t m_volume = 0;
    std::uint64_t m_index = 0;
};

// A text file read one line at a time. A line ends at LF; a CR before the
// LF is dropped with it; a last line without a line end still counts. A
// UTF-8 byte-order mark at the start (Windows Notepad writes one) is not
// part of the first line: it would hide a value or a section there.
class TextFile : public File {
public:
    bool ReadLine(std::string& line);
    // Whether the file began with a byte-order mark that was skipped.
    bool SkippedByteOrderMark() const { return m_skippedMark; }

private:
    bool Refill();

    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_atEnd = false;
    bool m_started = false;
    bool m_skippedMark = false;
};

}  // namespace quillon
