#include "platform/file.h"

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

File::~File() {
    Close();
}

bool TextFile::Refill() {
    if (m_atEnd) {
        return false;
    }
    char chunk[4096];
    std::size_t got = Read(chunk, sizeof chunk);
    if (got == 0) {
        m_atEnd = true;
        return false;
    }
    m_buffer.erase(0, m_pos);
    m_pos = 0;
    m_buffer.append(chunk, got);
    return true;
}

bool TextFile::ReadLine(std::string& line) {
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
            line.assign(m_buffer, m_pos, end - m_pos);
            m_pos = lf + 1;
            return true;
        }
        std::size_t scanned = m_buffer.size() - m_pos;
        if (!Refill()) {
            break;
        }
        searchFrom = m_pos + scanned;
    }
    if (m_pos >= m_buffer.size()) {
        return false;
    }
    line.assign(m_buffer, m_pos, std::string::npos);
    m_pos = m_buffer.size();
    return true;
}

}  // namespace quillon
