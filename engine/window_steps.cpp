#include "engine/window_steps.h"

#include <type_traits>

namespace quillon {

void WindowSteps::On(const UpdateEvent& event) {
    std::visit(
        [this](const auto& e) {
            using Event = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<Event, PhaseEvent>) {
                if (e.phase == UpdatePhase::Starting) {
                    Start();
                } else if (e.phase == UpdatePhase::Ended) {
                    m_outcomeEnd = true;
                    StopBusy(kBusyTimerId);
                }
            } else if constexpr (std::is_same_v<Event, StatusEvent>) {
                SetStatusText(e.text);
            } else if constexpr (std::is_same_v<Event, BlinkEvent>) {
                SetStatusBlink(e.on);
            } else if constexpr (std::is_same_v<Event, ProgressEvent>) {
                if (!m_rangeSet) {
                    m_rangeSet = true;
                    SetProgressRange(0, 100);
                }
                SetProgressPos(e.position);
            } else if constexpr (std::is_same_v<Event, WarningEvent>) {
                AddDetail(e.text);
            } else if constexpr (std::is_same_v<Event, SeriesEvent>) {
                AddDetail("series " + e.identity);
            } else if constexpr (std::is_same_v<Event, EndingEvent>) {
                Ending(e);
            } else if constexpr (std::is_same_v<Event, FinishedEvent>) {
                // A failure's box has been closed and the update lock let go.
                if (m_failureShown) {
                    EnableUpdateButton(true);
                    StopBusy(kBusyTimerId);
                }
                UpdateEnded(e.result);
            }
        },
        event);
}

void WindowSteps::Start() {
    m_rangeSet = false;
    m_outcomeEnd = false;
    m_failureShown = false;
    EnableUpdateButton(false);
    StartBusy(kBusyTimerId);
}

// The box's outcome gives the button back before the update lets go of its
// lock; a failure, once it has (at the update's end), and stops the lamp last.
void WindowSteps::Ending(const EndingEvent& ending) {
    AddDetail(ending.reason);
    if (ending.application) {
        AppMessageBox(ending.message);
    } else {
        WindowMessageBox(ending.message, ending.caption, ending.type);
    }
    if (m_outcomeEnd) {
        EnableUpdateButton(true);
    } else {
        m_failureShown = true;
    }
}

}  // namespace quillon
