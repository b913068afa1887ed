#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "station/json_text.h"
#include "station/progress_estimate.h"
#include "station/station.h"

namespace quillon::cli {

// Journal: a station's output for a service's journal, a line when a box
// starts and one with its verdict.
enum class ProgressStyle { Human, Plain, Jsonl, Journal };

// A terminal's width when it tells none.
constexpr int kDefaultColumns = 80;

// A screen that several slots share: on a terminal each slot has a row of
// its own, redrawn in place, and notes go above the rows.
class RowScreen {
public:
    RowScreen(ConsoleOutput& out, std::size_t rows, int columns);
    void SetRow(std::size_t index, std::string text);
    void Note(std::string text);
    void Redraw();

private:
    ConsoleOutput& m_out;
    std::mutex m_mutex;
    std::vector<std::string> m_rows;
    std::vector<std::string> m_notes;
    std::size_t m_columns;
    bool m_drawn = false;
};

// Shows one slot's updates in a terminal or to a script: the status texts,
// the bar, and the ending message as the final line, the reason on the
// error stream. Everything goes through the console output, so the worker
// never waits for the reader.
class TerminalView {
public:
    // columns: the terminal's width, 0 when unknown.
    TerminalView(ProgressStyle style, ConsoleOutput& out, int columns, int baud);

    // One of several slots: plain lines start with the device and jsonl
    // events name it; on a terminal the screen (when given) draws the row
    // at that index, the device padded to labelWidth and, box after box,
    // the counts beside it.
    void JoinSlots(std::string device, RowScreen* screen, std::size_t row, std::size_t labelWidth,
                   bool counts);
    // The first line: what the update uses (in jsonl, a "using" event).
    void Using(const std::string& line, const std::string& device, const SeriesFacts& facts);
    // An update that never began: its reason and message.
    void Refused(const BoxRecord& record);
    // Redraws the bar while the worker waits for the line to carry what it
    // wrote; called from another thread.
    void Tick();
    // A warning on the error stream, in its turn with the rest of the output.
    void Warn(const std::string& text);

    // One of the slot's events, on the thread that drains them.
    void On(const SlotEvent& event);

private:
    void Status(const std::string& text);
    void Position(int position);
    void Bytes(const BytesEvent& bytes);
    void Warning(const std::string& text);
    void Ended(const BoxRecord& record);
    void ShowHuman(bool force);
    void EmitJson(const char* event);
    // The start of a jsonl event: its name, and the device when several slots run.
    Json JsonStart(const char* event) const;
    std::string Prefix() const { return m_device.empty() ? "" : m_device + ": "; }
    // ofBox: the ending of a box, rather than of a run refused before any.
    void ShowEnding(const BoxRecord& record, bool ofBox = true);
    void JournalStart(UpdatePhase phase);
    void JournalEnding(const BoxRecord& record);
    int ShownPosition(std::chrono::steady_clock::time_point now) const;

    ProgressStyle m_style;
    ConsoleOutput& m_out;
    std::size_t m_columns;
    int m_baud;
    // The slot's thread and the one that ticks both draw.
    mutable std::mutex m_mutex;
    std::vector<std::string> m_warnings;  // each said once
    std::string m_status;
    UpdatePhase m_phase = UpdatePhase::Starting;
    int m_position = 0;
    ProgressEstimate m_estimate;
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::chrono::steady_clock::time_point m_lastBytesEvent{};
    bool m_lineOpen = false;
    std::string m_device;
    RowScreen* m_screen = nullptr;
    std::size_t m_row = 0;
    std::size_t m_labelWidth = 0;
    bool m_counts = false;
    int m_ok = 0;
    bool m_boxOpen = false;  // the journal has said that a box started
    int m_failed = 0;

    std::string RowLabel() const;
};

}  // namespace quillon::cli
