#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/update_events.h"
#include "station/results_log.h"

namespace quillon {

// About a slot rather than one update: a hint, a port that will not open,
// the reset command's output, a box tried again or held for the operator.
struct NoteEvent {
    std::string text;
};
// A box has ended for good, with its record: after its last try, or a run
// that ended before any box came.
struct BoxEndedEvent {
    BoxRecord record;
};

// What a face is told of a slot: its updates' events as the worker tells
// them, and the slot's own.
using SlotEvent =
    std::variant<PhaseEvent, StatusEvent, BlinkEvent, ProgressEvent, BytesEvent, WarningEvent,
                 SeriesEvent, EndingEvent, FinishedEvent, NoteEvent, BoxEndedEvent>;

SlotEvent ToSlotEvent(const UpdateEvent& event);

// For std::visit with one lambda a kind of event.
template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

// Where a station's slots tell what happens: on the slot's own thread, in
// order for each slot.
class SlotObserver {
public:
    virtual ~SlotObserver() = default;
    virtual void On(std::size_t slot, const SlotEvent& event) = 0;
};

// The one way events reach a face: the slots post them here from their
// threads, the face takes them on its own thread when woken. With
// handOver, a slot goes on only once the face has handled what it posted
// (a window of one slot, whose steps the update waits for, its message box
// above all).
class EventQueue : public SlotObserver {
public:
    using Handler = std::function<void(std::size_t slot, const SlotEvent& event)>;

    // wake: called from a slot's thread when events wait and none did
    // before; the face then calls Drain on its own thread.
    explicit EventQueue(std::function<void()> wake, bool handOver = false);

    void On(std::size_t slot, const SlotEvent& event) override;
    // Every event posted so far, oldest first, on the face's thread; a
    // handler may drain again (a message box's own event loop).
    void Drain(const Handler& handle);
    // No one drains any more: slots waiting for a hand-over go on, and
    // later events are dropped.
    void Close();

private:
    std::function<void()> m_wake;
    bool m_handOver;
    std::mutex m_mutex;
    std::condition_variable m_handled;
    std::deque<std::pair<std::size_t, SlotEvent>> m_waiting;
    std::uint64_t m_posted = 0;
    std::uint64_t m_done = 0;
    bool m_closed = false;
};

}  // namespace quillon
