#pragma once

#include <string>
#include <vector>

#include "engine/update_view.h"

namespace quillon {

constexpr unsigned kBusyTimerId = 1;

// The widest status texts an update shows, each digit of a counter as '#'
// (the widest digit of a face's font), for a window that sizes its status
// line.
std::vector<std::string> WidestStatusTexts();

// What the main window does with an update's events: the steps the update
// takes on its window, in their order. The "Update" button is disabled and
// the busy lamp runs from the update's start to its end; the bar's range
// is set before its first position; the ending message is a message box.
// The window implements the operations, each carried out on its own
// thread before the call returns; a test writes them down.
class WindowSteps : public UpdateListener {
public:
    void On(const UpdateEvent& event) final;

protected:
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
    // For the details of the next message box: why it ended, what the
    // inputs hold that the box may not expect, which series it got.
    virtual void AddDetail(const std::string& line) { (void)line; }
    // The update has let go of everything.
    virtual void UpdateEnded(const UpdateResult& result) { (void)result; }

private:
    void Start();
    void Ending(const EndingEvent& ending);

    bool m_rangeSet = false;
    bool m_outcomeEnd = false;  // the box reported its outcome: the bar and lamp have ended
    bool m_failureShown = false;
};

}  // namespace quillon
