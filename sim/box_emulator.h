#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/box_channel.h"

namespace quillon {
class PseudoTerminal;
class SerialLine;
}  // namespace quillon

namespace quillon::sim {

struct BoxOptions {
    int baud = 0;          // pace reads at 10 bits/byte on an absolute schedule; 0 = unpaced
    int rejectRecord = 0;  // answer record k (1-based, counted over the session) with 0x11
    int silentRecord = 0;  // no reply to record k
    bool noHandshakeVerdict = false;  // no status reply to record 1
    bool silentAfterExec = false;     // never report erase/burn
    bool reportFailure = false;       // 0x0F 0x0F instead of success
    int noiseBytes = 0;               // this many noise bytes before each reply/report
    bool partialFrames = false;       // send some progress frames cut short
    int hangUpAfterRecord = 0;        // close the line after record k
    int faultySessions = 0;           // the faults above in the first k sessions only; 0 for all
    int bytesPerSector = 65536;       // erase report granularity
    std::chrono::milliseconds eraseTime{200};  // whole erase, spread over the sectors
    std::chrono::milliseconds burnTime{200};   // whole burn, spread over the reports
    std::string dumpFolder;                    // write each received record to a file there
    // Powered off until reset: silent until this file holds one more line
    // naming the box's device (its path, or a link to it) than sessions
    // have been served; empty for a box that is always on.
    std::string waitResetFile;
};

// The same box with none of the faults: its rate, timings and dumps stay.
BoxOptions WithoutFaults(BoxOptions options);

struct BoxSummary {
    int sessions = 0;         // sessions that ended
    int records = 0;          // records received, all sessions
    int rejected = 0;         // answered with 0x11
    std::uint64_t bytes = 0;  // record bytes received
    bool finished = false;    // the last session that ended sent its verdict
    bool hungUp = false;      // the box hung the line up on request
    std::string lastError;    // a dump file that could not be written, ...
};

// A scripted boot loader on a pseudo-terminal, a real port or a line inside
// this process, serving one update session after another on a thread of its
// own.
class BoxEmulator {
public:
    explicit BoxEmulator(BoxOptions options);
    BoxEmulator(const BoxEmulator&) = delete;
    BoxEmulator& operator=(const BoxEmulator&) = delete;
    ~BoxEmulator();

    // A new pseudo-terminal; DevicePath() is the end the tool opens.
    bool OpenPty(std::string* error);
    // Serve a real port.
    bool OpenDevice(const std::string& path, std::string* error);
    // A new line inside this process (sim/in_process_line.h); DevicePath()
    // is its name, which the tool opens with an in-process line.
    void OpenInProcess();
    std::string DevicePath() const { return m_path; }

    void Start();
    void Stop();
    // Until one more session has ended (verdict sent, line closed or hung
    // up) than the calls before this one have seen; false on time-out.
    bool WaitFinished(std::chrono::milliseconds timeout);
    BoxSummary Summary() const;

private:
    void Serve(std::stop_token stop);
    bool WaitForTool(std::stop_token stop);
    bool WaitForReset(std::stop_token stop);
    int ResetsNamingThisBox() const;
    void DropStaleInput();
    bool WaitUntilToolLeaves(std::stop_token stop);
    bool ToolHasLeft(std::stop_token stop);
    void EndSession(const BoxSummary& session);
    void CloseLink();

    BoxOptions m_options;
    std::unique_ptr<PseudoTerminal> m_pty;  // the line is a pty's master end,
    std::unique_ptr<SerialLine> m_device;   // or a device
    std::unique_ptr<BoxChannel> m_channel;
    std::string m_path;
    int m_dumpCount = 0;
    int m_served = 0;  // sessions begun
    int m_resetsUsed = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    BoxSummary m_summary;
    int m_sessionsSeen = 0;
    std::jthread m_thread;
};

}  // namespace quillon::sim
