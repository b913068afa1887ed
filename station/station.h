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
#include "station/slot_events.h"
#include "station/station_metrics.h"

namespace quillon {

class PacketSeries;
class TraceFolder;
class TraceBudget;
class TraceWriter;

// One port of a station.
struct SlotSpec {
    std::string name;  // shown and logged; the device when empty
    std::string device;
    int port = 0;              // the port number that names the device, 0 for none
    std::string resetCommand;  // the slot's own; empty: the station's
    std::string label;         // short, shown large; empty: made by FillSlotLabels
};

struct StationConfig {
    UpdateRequest request;  // the working values every update starts from
    std::vector<SlotSpec> slots;
    // Build the series once, before any port opens (several slots, or box
    // after box); otherwise the update builds its own after the handshake.
    bool shareSeries = false;
    bool repeat = false;  // after each box, wait for the next one
    int count = 0;        // boxes in all, as they answer; 0 for no limit
    int retries = 0;      // tries of a failed box after its first, on its slot
    std::string logPath;
    std::string tracePath;  // the line of one update
    std::string traceDir;   // one trace a box
    // Keep the traces of boxes that did not succeed only: a good box's is
    // removed as it ends, and its record names none.
    bool traceKeepFailed = false;
    // The trace folder's bytes at most, 0 for no bound: the oldest traces of
    // good boxes go first, then the oldest of any.
    std::uint64_t traceDirMax = 0;
    std::string stationName;
    std::string version;
    // Run through the shell before each wait for a box, with {device},
    // {slot} and {port} replaced; empty for none (a person presses reset).
    std::string resetCommand;
    std::chrono::milliseconds resetTimeout{10000};
    // Run before each box's first try, replaced as the reset command: its
    // first line is the box's identity; empty for none.
    std::string boxIdCommand;
    std::string operatorName;
    std::string lot;
    // Held by each update from its first step until its ending has been
    // seen (the main window tests it before it closes); nullptr for none.
    std::timed_mutex* updateLock = nullptr;
    // Inputs that cannot be made into a series are met by the update in its
    // own time (after the port and the box, as the main window has always
    // told them) rather than refused before any port opens.
    bool inputsMetByUpdate = false;
    // Where to serve the station's metrics (--metrics); none: no listener.
    std::optional<MetricsEndpoint> metrics;
};

// Where a slot stands, for a face that draws it now and then.
struct SlotSnapshot {
    // LineFault: the port will not open or the adapter went away; the slot
    // tries again every second. Held: its box has ended and the station,
    // which powers its boxes, waits for the operator to put in a new one.
    enum class State { Waiting, Working, Ok, Failed, LineFault, Paused, Held, Stopped };
    State state = State::Waiting;
    std::string status;
    UpdatePhase phase = UpdatePhase::Starting;
    int position = 0;
    std::uint64_t reached = 0;
    std::uint64_t total = 0;
    double rate = 0;
    std::optional<double> secondsLeft;
    // While it lasts: the line fault ("adapter gone", or why the port will
    // not open), or why the slot is held.
    std::string note;
    bool lineGone = false;
    std::string box;   // the identity of the box under way, when known
    int attempt = 0;   // its try, from 1; 0 before a box
    int attempts = 1;  // tries a box may have
    int ok = 0;
    int failed = 0;
    std::optional<BoxRecord> last;
};

// What a slot's boxes came to, however long it ran: faces that want every
// record have them as BoxEndedEvent.
struct SlotSummary {
    int updates = 0;  // recorded: its boxes, and a last one cancelled while waiting
    int boxes = 0;
    int ok = 0;
    int cancelled = 0;
    int attempts = 0;
    double seconds = 0;
    std::set<int> exitCodes;
    std::optional<BoxRecord> last;
};

class SlotRunner;

// What a slot needs of its station.
class SlotHost {
public:
    virtual ~SlotHost() = default;
    virtual const StationConfig& Config() const = 0;
    virtual const SeriesFacts& Facts() const = 0;
    // The series built beforehand; nullptr when each update builds its own.
    virtual const PacketSeries* Series() const = 0;
    // The one trace of a single update; nullptr for none.
    virtual TraceWriter* SharedTrace() = 0;
    // The folder of one trace a box; nullptr when none is kept.
    virtual TraceFolder* Traces() = 0;
    // The box that answered on the slot is one the run still wants.
    virtual bool ClaimBox(std::size_t slot) = 0;
    virtual bool CountReached() = 0;
    // "" or, the first time the log cannot be written, what to say of it.
    virtual std::string Log(const BoxRecord& record) = 0;
    // The interrupt that stopped the station, 0 for none.
    virtual int Signal() const = 0;
    virtual std::string OperatorName() const = 0;
    virtual std::string Lot() const = 0;
    // The slot is now doing this, for the station's metrics.
    virtual void SlotState(std::size_t slot, SlotActivity activity) = 0;
    // The slot has ended for good.
    virtual void SlotEnded() = 0;
    // A box's trace was closed and kept; good: the box succeeded.
    virtual void TraceKept(const std::string& path, bool good) = 0;
};

// Updates the boxes on several slots at once, or box after box, each slot
// running the whole update on its own. The series is built once for all
// when it is shared. A slot's failure never stops the others.
class Station : private SlotHost {
public:
    explicit Station(StationConfig config);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Before any port opens: checks the inputs (or builds the shared
    // series), the expected identity, and opens the log and the trace.
    // false: Refused() says how it ended, RefusalExit() with which code;
    // the boot folder is free again.
    bool Prepare();
    const SeriesFacts& Facts() const override { return m_facts; }
    const BoxRecord& Refused() const { return m_refused; }
    int RefusalExit() const { return m_refusalExit; }

    // The observer hears every slot (nullptr: none); onChange is called
    // from any thread when a slot has ended for good.
    void Start(SlotObserver* observer, std::function<void()> onChange);
    // Every slot ends: an update under way is cancelled (its files removed,
    // its port released). signal: the interrupt behind it, for exit codes.
    void Stop(int signal = 0);
    bool Done() const;
    void Join();

    // A paused slot finishes a box it has, then waits for no other until it
    // is resumed; one that only waits for a box stops waiting at once.
    void SetPaused(std::size_t slot, bool paused);
    void SetAllPaused(bool paused);
    // The station powers its boxes (a reset command) and goes box after
    // box: a slot whose box has ended holds until the operator says a new
    // one is in, by Release or by unplugging and plugging its adapter.
    bool MayHold() const;
    void Release(std::size_t slot);
    // The slot a person names: by its name, its label, its device, or its
    // number from 1.
    std::optional<std::size_t> FindSlot(const std::string& text) const;
    // For the records of the boxes that start from now on.
    void SetOperator(std::string name);
    void SetLot(std::string lot);
    // A box's identity, scanned: the slot's next box has it, and the
    // identity command is not run for it.
    void SetBoxIdentity(std::size_t slot, std::string identity);

    std::size_t SlotCount() const { return m_config.slots.size(); }
    const SlotSpec& Slot(std::size_t index) const { return m_config.slots[index]; }
    SlotSnapshot Snapshot(std::size_t slot) const;
    SlotSummary Summary(std::size_t slot) const;
    // 128 + the signal when one stopped the station; else 0, the code all
    // failures share, or 7; 8 when results were lost from the log.
    int ExitCode() const;
    // After Join (which also removes a shared series' files and frees the
    // boot folder): records that the log did not take, as lines to keep.
    const std::vector<std::string>& UnloggedLines() const { return m_unlogged; }

private:
    // SlotHost
    const StationConfig& Config() const override { return m_config; }
    const PacketSeries* Series() const override { return m_series.get(); }
    TraceWriter* SharedTrace() override { return m_trace.get(); }
    TraceFolder* Traces() override { return m_traceFolder.get(); }
    bool ClaimBox(std::size_t slot) override;
    bool CountReached() override;
    std::string Log(const BoxRecord& record) override;
    int Signal() const override { return m_signal; }
    std::string OperatorName() const override;
    std::string Lot() const override;
    void SlotState(std::size_t slot, SlotActivity activity) override;
    void SlotEnded() override;
    void TraceKept(const std::string& path, bool good) override;

    bool Refuse(const Refusal& refusal, int exit);
    bool PrepareSeries();
    bool OpenFiles();
    void Watch(std::stop_token stop);

    StationConfig m_config;
    SeriesFacts m_facts;
    BoxRecord m_refused;
    int m_refusalExit = 0;
    std::unique_ptr<PacketSeries> m_series;
    std::unique_ptr<TraceWriter> m_trace;
    std::unique_ptr<TraceFolder> m_traceFolder;  // one trace a box, when kept
    std::unique_ptr<TraceBudget> m_traceBudget;  // none without a bound
    ResultsLog m_log;
    std::unique_ptr<StationMetrics> m_metrics;  // none unless asked for
    std::vector<std::string> m_unlogged;
    std::vector<std::unique_ptr<SlotRunner>> m_slots;
    std::function<void()> m_onChange;
    std::mutex m_claimMutex;
    int m_claimed = 0;
    std::atomic<int> m_signal{0};
    mutable std::mutex m_whoMutex;  // the operator and the lot
    std::jthread m_watch;           // hints while a slot waits long for its box
};

}  // namespace quillon
