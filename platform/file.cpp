#include "platform/file.h"

#include <algorithm>
#include <cstring>

// What the file layer does alike on every system; the system calls are in
// file_posix.cpp and file_win32.cpp.
namespace quillon {

FileError::FileError(std::string path, int systemError, const std::string& action)
    : std::runtime_error(action + " " + path + ": " + std::strerror(systemError)),
      m_path(std::move(path)),
      m_systemError(systemError) {}

std::string FileError::Reason() const {
    return std::strerror(m_systemError);
}

std::string OpenErrorText(int error) {
    switch (error) {
        case ELOOP:
            return "a symbolic link has that name, and links are not followed";
        case kErrorHardLink:
            return "the file has other names (hard links), and is not written through them";
        case kErrorNotRegular:
            return "not a regular file";
        default:
            return std::strerror(error);
    }
}

Fault FaultOfOpen(int error) {
    return error == 0 ? Fault() : Fault{OpenErrorText(error), error};
}

Fault File::OpenFault() const {
    return FaultOfOpen(m_openError);
}

File::~File() {
    Close();
}

bool TextFile::Refill() {
    if (m_atEnd) {
        return false;
    }
    char chunk[4096];
    std::uint64_t room = m_limit - m_readSoFar;
    std::size_t got =
        Read(chunk, static_cast<std::size_t>(std::min<std::uint64_t>(room, sizeof chunk)));
    m_readSoFar += got;
    if (got == 0) {
        // At the limit, one byte more tells a file that ends there from one that goes on.
        char next = 0;
        m_cut = room == 0 && Read(&next, 1) == 1;
        m_atEnd = true;
        return false;
    }
    m_buffer.erase(0, m_pos);
    m_pos = 0;
    m_buffer.append(chunk, got);
    return true;
}

bool TextFile::ReadLine(std::string& line) {
    m_tooLong = false;
    if (!m_started) {
        m_started = true;
        static const char kMark[] = "\xEF\xBB\xBF";
        while (m_buffer.size() < 3 && Refill()) {
        }
        if (m_buffer.compare(0, 3, kMark) == 0) {
            m_pos = 3;
            m_skippedMark = true;
        }
    }
    std::size_t searchFrom = m_pos;
    for (;;) {
        std::size_t lf = m_buffer.find('\n', searchFrom);
        if (lf != std::string::npos) {
            std::size_t end = (lf > m_pos && m_buffer[lf - 1] == '\r') ? lf - 1 : lf;
            m_tooLong = end - m_pos > kMaxLine;
            line.assign(m_buffer, m_pos, std::min(end - m_pos, kMaxLine));
            m_pos = lf + 1;
            return true;
        }
        std::size_t scanned = m_buffer.size() - m_pos;
        if (scanned > kMaxLine) {
            line.assign(m_buffer, m_pos, kMaxLine);
            m_tooLong = true;
            PassOverLineEnd();
            return true;
        }
        if (!Refill()) {
            break;
        }
        searchFrom = m_pos + scanned;
    }
    if (m_pos >= m_buffer.size()) {
        return false;
    }
    m_tooLong = m_buffer.size() - m_pos > kMaxLine;
    line.assign(m_buffer, m_pos, kMaxLine);
    m_pos = m_buffer.size();
    return true;
}

// Reads on to the next line end, holding no more than one chunk at a time.
void TextFile::PassOverLineEnd() {
    for (;;) {
        std::size_t lf = m_buffer.find('\n', m_pos);
        if (lf != std::string::npos) {
            m_pos = lf + 1;
            return;
        }
        m_pos = m_buffer.size();
        if (!Refill()) {
            return;
        }
    }
}

}  // namespace quillon
