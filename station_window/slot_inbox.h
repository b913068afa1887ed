#pragma once

#include <QString>
#include <mutex>
#include <string>
#include <vector>

#include "station/station.h"

namespace quillon {

// What the slots' threads tell the window between two of its redraws: the
// records of ended boxes and the notes to show. The slots drop them here;
// the window's thread takes them, so no widget is touched from a slot.
class SlotInbox {
public:
    struct Note {
        std::size_t slot;
        std::string text;
    };

    void Ended(const BoxRecord& record);
    void Noted(std::size_t slot, const std::string& text);
    // Everything dropped since the last call, oldest first.
    std::vector<BoxRecord> TakeRecords();
    std::vector<Note> TakeNotes();

private:
    std::mutex m_mutex;
    std::vector<BoxRecord> m_records;
    std::vector<Note> m_notes;
};

// One slot's observer, which drops into the shared inbox.
class InboxObserver : public SlotObserver {
public:
    InboxObserver(SlotInbox& inbox, std::size_t slot) : m_inbox(inbox), m_slot(slot) {}

    void Warning(const std::string& text) override { m_inbox.Noted(m_slot, "warning: " + text); }
    void Note(const std::string& text) override { m_inbox.Noted(m_slot, text); }
    void Ended(const BoxRecord& record) override;

private:
    SlotInbox& m_inbox;
    std::size_t m_slot;
};

}  // namespace quillon
