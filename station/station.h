#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/update_events.h"
#include "engine/update_request.h"
#include "station/preflight.h"
#include "station/progress_estimate.h"
#include "station/results_log.h"

namespace quillon {

class PacketSeries;
class TraceFolder;
class TraceWriter;

// One port of a station.
struct SlotSpec {
    std::string name;  // shown and logged; the device when empty
    std::string device;
    int port = 0;              // the port number that names the device, 0 for none
    std::string resetCommand;  // the slot's own; empty: the station's
};

struct StationConfig {
    UpdateRequest request;  // the working values every update starts from
    std::vector<SlotSpec> slots;
    // Build the series once, before any port opens (several slots, or box
    // after box); otherwise the update builds its own after the handshake.
    bool shareSeries = false;
    bool repeat = false;  // after each verdict, wait for the next box
    int count = 0;        // boxes in all, as they answer; 0 for no limit
    std::string logPath;
    std::string tracePath;  // the line of one update
    std::string traceDir;   // one trace a box
    std::string stationName;
    std::string version;
    // Run through the shell before each wait for a box, with {device},
    // {slot} and {port} replaced; empty for none (a person presses reset).
    std::string resetCommand;
    std::chrono::milliseconds resetTimeout{10000};
};

// What a face is told of one slot, on that slot's own thread.
class SlotObserver {
public:
    virtual ~SlotObserver() = default;
    // The worker's status text, as it is, and the phase it belongs to.
    virtual void Status(const std::string& text, UpdatePhase phase) {
        (void)text;
        (void)phase;
    }
    virtual void Position(int position) { (void)position; }
    // Bytes of the series written, of which inFlight cannot have crossed the
    // line yet; fileDone once the box has answered a file.
    virtual void Bytes(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
                       bool fileDone) {
        (void)sent;
        (void)inFlight;
        (void)total;
        (void)fileDone;
    }
    // What the inputs hold that the box may not expect; each said once.
    virtual void Warning(const std::string& text) { (void)text; }
    // About the slot rather than an update: a hint, a port that will not open.
    virtual void Note(const std::string& text) { (void)text; }
    // Each update's end, whether a box answered or not.
    virtual void Ended(const BoxRecord& record) { (void)record; }
};

// Where a slot stands, for a face that draws it now and then.
struct SlotSnapshot {
    // LineFault: the port will not open or the adapter went away; the slot
    // tries again every second.
    enum class State { Waiting, Working, Ok, Failed, LineFault, Paused, Stopped };
    State state = State::Waiting;
    std::string status;
    UpdatePhase phase = UpdatePhase::Starting;
    int position = 0;
    std::uint64_t reached = 0;
    std::uint64_t total = 0;
    double rate = 0;
    std::optional<double> secondsLeft;
    std::string
        note;  // the line fault, while it lasts: "adapter gone", or why the port will not open
    bool lineGone = false;
    int ok = 0;
    int failed = 0;
    std::optional<BoxRecord> last;
};

// Updates the boxes on several slots at once, or box after box, each slot
// running the whole update on its own. The series is built once for all
// when it is shared. A slot's failure never stops the others.
class Station {
public:
    explicit Station(StationConfig config);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Before any port opens: checks the inputs (or builds the shared
    // series), the expected identity, and opens the log and the trace.
    // false: Refused() says how it ended, RefusalExit() with which code.
    bool Prepare();
    const SeriesFacts& Facts() const { return m_facts; }
    const BoxRecord& Refused() const { return m_refused; }
    int RefusalExit() const { return m_refusalExit; }

    // One observer a slot (none: nullptr); onChange is called from any
    // thread when a slot has ended for good.
    void Start(std::vector<SlotObserver*> observers, std::function<void()> onChange);
    // Every slot ends: an update under way is cancelled (its files removed,
    // its port released). signal: the interrupt behind it, for exit codes.
    void Stop(int signal = 0);
    bool Done() const;
    void Join();

    // A paused slot finishes a box it has, then waits for no other until it
    // is resumed; one that only waits for a box stops waiting at once.
    void SetPaused(std::size_t slot, bool paused);
    void SetAllPaused(bool paused);

    std::size_t SlotCount() const { return m_config.slots.size(); }
    const SlotSpec& Slot(std::size_t index) const { return m_config.slots[index]; }
    SlotSnapshot Snapshot(std::size_t slot) const;
    // What a slot's updates came to, however long it ran: faces that want
    // every record have them through SlotObserver::Ended.
    struct SlotSummary {
        int updates = 0;  // recorded: its boxes, and a last one cancelled while waiting
        int boxes = 0;
        int ok = 0;
        double seconds = 0;
        std::set<int> exitCodes;
        std::optional<BoxRecord> last;
    };
    SlotSummary Summary(std::size_t slot) const;
    // Of every update: 0, the code all failures share, or 7; 8 when results
    // were lost from the log (cancelled runs keep their own code).
    int ExitCode() const;
    // After Join (which also removes a shared series' files and frees the
    // boot folder): records that the log did not take, as lines to keep.
    const std::vector<std::string>& UnloggedLines() const { return m_unlogged; }

private:
    class SlotRunner;

    bool Refuse(const Refusal& refusal, int exit);
    bool PrepareSeries();
    bool OpenFiles();
    // A box has answered on a slot: whether it is one the run still wants.
    bool ClaimBox(std::size_t slot);
    bool CountReached();
    // "" or, the first time the log cannot be written, what to say of it.
    std::string Log(const BoxRecord& record);
    void Watch(std::stop_token stop);

    StationConfig m_config;
    SeriesFacts m_facts;
    BoxRecord m_refused;
    int m_refusalExit = 0;
    std::unique_ptr<PacketSeries> m_series;
    std::unique_ptr<TraceWriter> m_trace;
    std::unique_ptr<TraceFolder> m_traceFolder;  // one trace a box, when kept
    ResultsLog m_log;
    std::vector<std::string> m_unlogged;
    std::vector<std::unique_ptr<SlotRunner>> m_slots;
    std::function<void()> m_onChange;
    std::mutex m_claimMutex;
    int m_claimed = 0;
    std::atomic<int> m_signal{0};
    std::jthread m_watch;  // hints while a slot waits long for its box
};

}  // namespace quillon
