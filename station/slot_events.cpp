#include "station/slot_events.h"

namespace quillon {

SlotEvent ToSlotEvent(const UpdateEvent& event) {
    return std::visit([](const auto& e) { return SlotEvent(e); }, event);
}

EventQueue::EventQueue(std::function<void()> wake, bool handOver)
    : m_wake(std::move(wake)), m_handOver(handOver) {}

void EventQueue::On(std::size_t slot, const SlotEvent& event) {
    std::unique_lock lock(m_mutex);
    if (m_closed) {
        return;
    }
    bool first = m_waiting.empty();
    m_waiting.emplace_back(slot, event);
    std::uint64_t mine = ++m_posted;
    if (first && m_wake) {
        lock.unlock();
        m_wake();
        lock.lock();
    }
    if (m_handOver) {
        m_handled.wait(lock, [&] { return m_done >= mine || m_closed; });
    }
}

void EventQueue::Drain(const Handler& handle) {
    for (;;) {
        std::pair<std::size_t, SlotEvent> next;
        {
            std::lock_guard lock(m_mutex);
            if (m_waiting.empty()) {
                return;
            }
            next = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        handle(next.first, next.second);
        {
            std::lock_guard lock(m_mutex);
            ++m_done;
        }
        m_handled.notify_all();
    }
}

void EventQueue::Close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_waiting.clear();
    }
    m_handled.notify_all();
}

}  // namespace quillon
