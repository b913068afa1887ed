#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/fault.h"
#include "platform/native_handle.h"

namespace quillon {

// A new pseudo-terminal, whose master end we hold, for the box emulator:
// the tool opens Path() as its serial device. The other end is raw before
// anyone opens it, so nothing the box sends is echoed back. Reads and
// writes never block.
class PseudoTerminal {
public:
    enum class Wait { Data, Quiet, Closed };

    // nullptr when the system gives none; fault then says why.
    static std::unique_ptr<PseudoTerminal> Open(Fault& fault);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& Path() const { return m_path; }
    // Bytes the tool has written that wait to be read.
    std::size_t Available() const;
    // Until bytes wait (Data), the time is up (Quiet), or nobody holds the
    // other end (Closed: the tool has not opened it yet, or has closed it).
    // Every time its last holder lets the other end go is told as Closed
    // once, however soon it is opened again: a hang-up is an event, not a
    // state that a look could miss.
    Wait WaitInput(std::chrono::milliseconds timeout);
    // Up to count bytes: 0 when none wait, -1 when the end cannot be read.
    long Read(void* buffer, std::size_t count);
    // What the end takes now: 0 when it is full, -1 when it fails.
    long Write(const void* buffer, std::size_t count);
    void WaitWritable(std::chrono::milliseconds timeout);

private:
    explicit PseudoTerminal(NativeHandle master, std::string path);
    // Takes in what the other end's holders did since the last look; true
    // when its last holder let it go meanwhile.
    bool HungUpSince();

    NativeHandle m_master;
    std::string m_path;
    int m_watch = -1;  // the other end's opens and closes, where the system tells them
    int m_holders = 0;
    bool m_hungUp = false;
};

// Sleeps on the calling thread end when they are asked to, not some tens
// of microseconds later: the emulator paces a line at megabaud rates.
void UsePreciseTimersOnThisThread();

}  // namespace quillon
