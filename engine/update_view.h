#pragma once

#include <mutex>
#include <string>

#include "engine/update_events.h"

namespace quillon {

// Message box types of the window message box.
constexpr unsigned MB_ICONHAND_OK = 0x10;         // stop icon
constexpr unsigned MB_ICONEXCLAMATION_OK = 0x30;  // exclamation icon

constexpr unsigned kBusyTimerId = 1;

// What the update worker needs of its window. Every call has taken effect
// when it returns; a call made on the worker's thread is carried out on the
// window's own thread where the window needs that.
class UpdateView {
public:
    virtual ~UpdateView() = default;

    // Held by the worker for the whole update.
    virtual std::timed_mutex& UpdateMutex() = 0;

    virtual void EnableUpdateButton(bool enable) = 0;
    virtual void StartBusy(unsigned timerId) = 0;
    virtual void StopBusy(unsigned timerId) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetStatusBlink(bool on) = 0;
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int pos) = 0;

    // OK, exclamation icon, the application's title as caption.
    virtual void AppMessageBox(const std::string& text) = 0;
    // OK, with an explicit caption; type is MB_ICONHAND_OK or MB_ICONEXCLAMATION_OK.
    virtual void WindowMessageBox(const std::string& text, const std::string& caption,
                                  unsigned type) = 0;

    // The phase the update has come to, told just before the status text
    // that shows it.
    virtual void PhaseChanged(UpdatePhase phase) { (void)phase; }
    // With the port open, just before the wait for the boot loader: a face
    // may start the box here (a command that cycles its power). Empty to go
    // on; else why it could not, and the update ends as a port that would
    // not open, nothing sent.
    virtual std::string PrepareBox() { return {}; }
    // The boot loader has answered: whether to go on with this box. false
    // ends the update as cancelled before anything is sent to it (a station
    // that has all the boxes it was asked for).
    virtual bool BoxAnswered() { return true; }
    // Bytes of the series written to the port, of which inFlight cannot have
    // crossed the line yet (the driver holds them, or the line's time says
    // so), for views that show progress and a rate. fileDone: the box has
    // answered the file, so all of it has arrived.
    virtual void BytesSent(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
                           bool fileDone) {
        (void)sent;
        (void)inFlight;
        (void)total;
        (void)fileDone;
    }
    // Why the last failure happened, in the system's words, shown after the message.
    virtual void FailureDetail(const std::string& detail) { (void)detail; }
    // What the inputs hold that the box may not expect (an upload that goes
    // empty, a byte-order mark skipped); the update goes on.
    virtual void Warning(const std::string& text) { (void)text; }
    // The series is built (or was, beforehand): its identity, which every
    // box of it receives.
    virtual void SeriesBuilt(const std::string& identity) { (void)identity; }
    // The end, as values, once the worker has let go of the port, its files
    // and the lock; the last call of an update.
    virtual void Finished(const UpdateResult& result) { (void)result; }
};

}  // namespace quillon
