#include "station_window/slot_inbox.h"

#include <utility>

namespace quillon {

void SlotInbox::Ended(const BoxRecord& record) {
    std::lock_guard lock(m_mutex);
    m_records.push_back(record);
}

void SlotInbox::Noted(std::size_t slot, const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_notes.push_back({slot, text});
}

std::vector<BoxRecord> SlotInbox::TakeRecords() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_records, {});
}

std::vector<SlotInbox::Note> SlotInbox::TakeNotes() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_notes, {});
}

void InboxObserver::Ended(const BoxRecord& record) {
    // The list shows what the log keeps: boxes, and failures without one
    // (a port that never opened); not a wait that a stop ended.
    if (record.hadBox || record.verdict != "cancelled") {
        m_inbox.Ended(record);
    }
}

}  // namespace quillon
