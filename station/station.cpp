#include "station/station.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <set>

#include "engine/packet_series.h"
#include "engine/update_worker.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/serial_devices.h"
#include "station/exit_codes.h"
#include "station/trace_file.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const char* const kCancelledCaption = "Cancelled";
const char* const kCancelledMessage = "Update cancelled; packet files removed, port released";
// A slot whose port will not open, or whose adapter went before a box came,
// tries again this often.
constexpr auto kLineRetry = 1s;
constexpr auto kResetHintAfter = 30s;
// The hint waits half a minute: a look a second is enough.
constexpr auto kWatchPeriod = 1s;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return from == Clock::time_point{} || to < from
               ? 0
               : std::chrono::duration<double>(to - from).count();
}

std::optional<AdapterFacts> AdapterOf(const std::string& device) {
    SerialDeviceInfo info = DescribeSerialDevice(device);
    if (info.vendorId.empty()) {
        return std::nullopt;
    }
    return AdapterFacts{info.vendorId, info.productId, info.maker, info.serial, info.byId};
}

}  // namespace

// One slot: box after box (or one) on one device, on a thread of its own.
// It is the worker's view for that slot, and tells the slot's observer.
class Station::SlotRunner : public UpdateView {
public:
    SlotRunner(Station& station, std::size_t index, SlotObserver* observer)
        : m_station(station),
          m_index(index),
          m_spec(station.m_config.slots[index]),
          m_observer(observer != nullptr ? observer : &m_silent),
          m_estimate(station.m_config.request.baudRate) {
        if (m_spec.name.empty()) {
            m_spec.name = m_spec.device;
        }
    }

    void Start() {
        m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    void Stop(bool quiet) {
        m_quiet = m_quiet || quiet;
        m_thread.request_stop();
        m_wake.notify_all();
    }
    void SetPaused(bool paused) {
        {
            // Under the sleepers' lock, so that a resume is never missed
            // between their look at the flag and their wait.
            std::lock_guard lock(m_sleepMutex);
            m_paused = paused;
        }
        if (paused && !HasBox()) {
            // Not a box yet: the wait ends now, unrecorded.
            std::lock_guard lock(m_mutex);
            m_updateStop.request_stop();
        }
        m_wake.notify_all();
    }
    bool Done() const { return m_done; }
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    // Whether it waits for a box (and since when): a box answering elsewhere
    // may end the run, and a long wait earns a hint.
    std::optional<Clock::time_point> WaitingSince() const {
        std::lock_guard lock(m_mutex);
        return m_phase == UpdatePhase::Waiting ? std::optional(m_times.waiting) : std::nullopt;
    }
    bool HasBox() const {
        std::lock_guard lock(m_mutex);
        return m_phase > UpdatePhase::Waiting;
    }
    // A note said once on the slot, from any thread.
    void NoteOnce(const std::string& text) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_noted.insert(text).second) {
                return;
            }
        }
        m_observer->Note(text);
    }

    SlotSnapshot Snapshot() const {
        std::lock_guard lock(m_mutex);
        SlotSnapshot shot = m_snapshot;
        Clock::time_point now = Clock::now();
        shot.reached = m_estimate.Reached(now);
        shot.total = m_estimate.Total();
        shot.rate = m_estimate.Rate(now);
        shot.secondsLeft = m_estimate.SecondsLeft(now);
        return shot;
    }
    SlotSummary Summary() const {
        std::lock_guard lock(m_mutex);
        return m_summary;
    }

    // --- UpdateView ---
    std::timed_mutex& UpdateMutex() override { return m_updateMutex; }
    void EnableUpdateButton(bool) override {}
    void StartBusy(unsigned) override {}
    void StopBusy(unsigned) override {}
    void SetStatusBlink(bool) override {}
    void SetProgressRange(int, int) override {}
    void AppMessageBox(const std::string&) override {}
    void WindowMessageBox(const std::string&, const std::string&, unsigned) override {}

    void SetStatusText(const std::string& text) override {
        UpdatePhase phase;
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.status = text;
            phase = m_phase;
        }
        m_observer->Status(text, phase);
    }
    void SetProgressPos(int pos) override {
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.position = pos;
        }
        m_observer->Position(pos);
    }
    void PhaseChanged(UpdatePhase phase) override {
        std::lock_guard lock(m_mutex);
        m_phase = phase;
        m_snapshot.phase = phase;
        Clock::time_point now = Clock::now();
        switch (phase) {
            case UpdatePhase::Waiting:
                // The port is open again: whatever kept it from us is over.
                m_times.waiting = now;
                m_snapshot.state = SlotSnapshot::State::Waiting;
                m_snapshot.note.clear();
                m_snapshot.lineGone = false;
                break;
            case UpdatePhase::Preparing:
                m_times.answered = now;
                m_snapshot.state = SlotSnapshot::State::Working;
                m_snapshot.note.clear();
                break;
            case UpdatePhase::Execute:
                m_times.executed = now;
                break;
            case UpdatePhase::Burn:
                m_times.burning = now;
                break;
            default:
                break;
        }
    }
    bool BoxAnswered() override { return m_station.ClaimBox(m_index); }
    std::string PrepareBox() override {
        std::string command = ResetCommand();
        if (command.empty()) {
            return {};
        }
        std::optional<std::string> quoted = ExpandResetCommand(command);
        if (!quoted) {
            return "the reset command " + command + " cannot be given the slot's names: the " +
                   "shell has no way to quote them";
        }
        const std::string& expanded = *quoted;
        CommandResult result = RunShellCommand(
            expanded, m_station.m_config.resetTimeout, m_updateStop.get_token(),
            [this](const std::string& line) { m_observer->Note("[" + m_spec.name + "] " + line); });
        if (result.Succeeded()) {
            return {};
        }
        return "the reset command " + expanded + " " + result.Outcome();
    }
    void BytesSent(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
                   bool fileDone) override {
        {
            std::lock_guard lock(m_mutex);
            m_estimate.Told(sent, inFlight, total, Clock::now());
        }
        m_observer->Bytes(sent, inFlight, total, fileDone);
    }
    void Warning(const std::string& text) override {
        if (m_said.insert(text).second) {
            m_observer->Warning(text);
        }
    }
    void Finished(const UpdateResult& result) override { m_result = result; }

private:
    struct Times {
        Clock::time_point waiting{};
        Clock::time_point answered{};
        Clock::time_point executed{};
        Clock::time_point burning{};
    };

    void Run(std::stop_token stop) {
        for (const std::string& warning : m_station.m_facts.warnings) {
            m_said.insert(warning);  // said before the run began
        }
        bool repeat = m_station.m_config.repeat;
        bool faultSaid = false;
        while (!stop.stop_requested()) {
            if (!AwaitResume(stop)) {
                break;
            }
            BoxRecord record = RunOne(stop);
            bool unasked = !record.hadBox && (m_quiet || m_pausedDuring);
            bool lineFault = !record.hadBox && record.verdict != "cancelled";
            if (unasked || (repeat && lineFault)) {
                if (lineFault && !unasked) {
                    ReportLineFault(record, faultSaid);
                    faultSaid = true;
                    Sleep(stop, kLineRetry);
                }
                continue;
            }
            faultSaid = false;
            Record(record);
            if (!repeat || record.verdict == "cancelled" || m_station.CountReached()) {
                break;
            }
        }
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.state = SlotSnapshot::State::Stopped;
        }
        m_done = true;
        if (m_station.m_onChange) {
            m_station.m_onChange();
        }
    }

    const std::string& ResetCommand() const {
        return m_spec.resetCommand.empty() ? m_station.m_config.resetCommand : m_spec.resetCommand;
    }

    // {device}, {slot} and {port} in the slot's terms, each one shell word.
    std::optional<std::string> ExpandResetCommand(const std::string& command) const {
        const std::pair<const char*, std::string> fields[] = {
            {"{device}", m_spec.device},
            {"{slot}", m_spec.name},
            {"{port}", std::to_string(m_spec.port)}};
        std::string expanded;
        for (std::size_t at = 0; at < command.size();) {
            bool replaced = false;
            for (const auto& [name, value] : fields) {
                if (command.compare(at, std::strlen(name), name) == 0) {
                    std::optional<std::string> word = QuoteForShell(value);
                    if (!word) {
                        return std::nullopt;
                    }
                    expanded += *word;
                    at += std::strlen(name);
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                expanded += command[at++];
            }
        }
        return expanded;
    }

    // What to say after a long wait for the box.
    std::string WaitHint() const {
        const std::string& command = ResetCommand();
        std::string start =
            command.empty() ? "press the box's reset button to start it"
                            : "its reset command (" + command + ") ran; check that it starts it";
        return "hint: still waiting for the boot loader on " + m_spec.device + ": " + start +
               "; if it does not answer, check the wiring (TX to RX, RX to TX, ground) and the "
               "baud rate";
    }

    // While paused: false when the slot is to end meanwhile.
    bool AwaitResume(const std::stop_token& stop) {
        if (m_paused) {
            SetState(SlotSnapshot::State::Paused);
            std::unique_lock lock(m_sleepMutex);
            m_wake.wait(lock, stop, [this] { return !m_paused; });
        }
        return !stop.stop_requested();
    }

    // Once, until a box comes again: the adapter has gone (it is waited for,
    // with no limit), or the port will not open.
    void ReportLineFault(const BoxRecord& record, bool said) {
        std::string reason = record.reason.substr(0, record.reason.find('\n'));
        {
            std::lock_guard lock(m_mutex);
            m_snapshot.state = SlotSnapshot::State::LineFault;
            m_snapshot.lineGone = record.lineGone;
            m_snapshot.note = record.lineGone ? "adapter gone" : reason;
        }
        if (said) {
            return;
        }
        m_observer->Note(record.lineGone ? "adapter gone: " + m_spec.device + " (" + reason +
                                               "); waiting for it to come back"
                                         : reason + "; trying again every second");
    }

    // One update on the slot's device, traced to a file of its own when the
    // station keeps one a box. Its own stop, which the slot's passes on,
    // lets a pause end a wait without ending the slot.
    BoxRecord RunOne(const std::stop_token& stop) {
        ResetForUpdate();
        UpdateRequest request = m_station.m_config.request;
        request.device = m_spec.device;
        request.series = m_station.m_series.get();
        std::unique_ptr<TraceWriter> boxTrace = OpenBoxTrace();
        request.trace = boxTrace ? boxTrace.get() : m_station.m_trace.get();
        std::string start = IsoTimeNow();
        std::stop_token updateStop = NewUpdateStop();
        std::stop_callback passOn(stop, [this] {
            std::lock_guard lock(m_mutex);
            m_updateStop.request_stop();
        });
        UpdateWorker::Run(*this, request, updateStop);
        if (boxTrace) {
            boxTrace->Close();
        }
        BoxRecord record = MakeRecord(start, request);
        if (boxTrace && record.hadBox) {
            record.trace = boxTrace->Path();
        } else if (boxTrace) {
            m_station.m_traceFolder->Remove(*boxTrace);  // no box, nothing to keep
        }
        return record;
    }

    std::unique_ptr<TraceWriter> OpenBoxTrace() {
        if (!m_station.m_traceFolder) {
            return nullptr;
        }
        std::string error;
        auto trace = m_station.m_traceFolder->Create(IsoTimeNow(), m_spec.name, error);
        if (!trace) {
            NoteOnce("warning: " + error);
            return nullptr;
        }
        trace->OnWriteError([this](const std::string& reason) { NoteOnce("warning: " + reason); });
        return trace;
    }

    std::stop_token NewUpdateStop() {
        std::lock_guard lock(m_mutex);
        m_updateStop = std::stop_source();
        m_pausedDuring = false;
        if (m_paused) {
            m_updateStop.request_stop();
        }
        return m_updateStop.get_token();
    }

    void SetState(SlotSnapshot::State state) {
        std::lock_guard lock(m_mutex);
        m_snapshot.state = state;
    }

    void ResetForUpdate() {
        std::lock_guard lock(m_mutex);
        m_phase = UpdatePhase::Starting;
        m_times = {};
        m_result = {};
        m_estimate = ProgressEstimate(m_station.m_config.request.baudRate);
        m_snapshot.position = 0;
    }

    BoxRecord MakeRecord(const std::string& start, const UpdateRequest& request) {
        std::lock_guard lock(m_mutex);
        Clock::time_point end = Clock::now();
        BoxRecord record;
        record.start = start;
        record.end = IsoTimeNow();
        record.station = m_station.m_config.stationName;
        record.slot = m_spec.name;
        record.device = m_spec.device;
        record.adapter = AdapterOf(m_spec.device);
        record.version = m_station.m_config.version;
        record.series = m_result.series.empty() ? m_station.m_facts.identity : m_result.series;
        record.startAddress = request.startAddress;
        record.bytes = m_result.bytes;
        record.hadBox = m_result.reached > UpdatePhase::Waiting;
        record.reached = m_result.reached;
        record.lineGone = m_result.lineGone;
        m_pausedDuring = m_paused;
        Clock::time_point burnFrom = m_times.burning != Clock::time_point{} ? m_times.burning : end;
        record.phases.wait = Seconds(m_times.waiting, record.hadBox ? m_times.answered : end);
        record.phases.download = Seconds(
            m_times.answered, m_times.executed != Clock::time_point{} ? m_times.executed : end);
        record.phases.erase = Seconds(m_times.executed, burnFrom);
        record.phases.burn = Seconds(m_times.burning, end);
        record.seconds = m_result.seconds;
        bool cancelled = m_result.outcome == UpdateOutcome::Cancelled;
        record.caption = cancelled ? kCancelledCaption : m_result.caption;
        record.message = cancelled ? kCancelledMessage : m_result.message;
        record.reason = m_result.reason;
        record.exit = ExitCodeOf(m_result.outcome, m_station.m_signal);
        record.verdict = cancelled                                    ? "cancelled"
                         : m_result.outcome == UpdateOutcome::Success ? "ok"
                                                                      : "failed";
        return record;
    }

    void Record(const BoxRecord& record) {
        {
            std::lock_guard lock(m_mutex);
            ++m_summary.updates;
            m_summary.boxes += record.hadBox ? 1 : 0;
            m_summary.ok += record.hadBox && record.verdict == "ok" ? 1 : 0;
            m_summary.seconds += record.seconds;
            m_summary.exitCodes.insert(record.exit);
            m_summary.last = record;
            if (record.hadBox && record.verdict != "cancelled") {
                ++(record.verdict == "ok" ? m_snapshot.ok : m_snapshot.failed);
            }
            m_snapshot.state =
                record.verdict == "ok" ? SlotSnapshot::State::Ok : SlotSnapshot::State::Failed;
            m_snapshot.last = record;
        }
        if (record.hadBox || record.verdict != "cancelled") {
            if (std::string problem = m_station.Log(record); !problem.empty()) {
                NoteOnce(problem);
            }
        }
        m_observer->Ended(record);
    }

    // Ends early on a stop or a pause.
    void Sleep(const std::stop_token& stop, Clock::duration length) {
        std::unique_lock lock(m_sleepMutex);
        m_wake.wait_for(lock, stop, length, [this] { return m_paused.load(); });
    }

    Station& m_station;
    std::size_t m_index;
    SlotSpec m_spec;
    SlotObserver m_silent;
    SlotObserver* m_observer;
    std::timed_mutex m_updateMutex;
    mutable std::mutex m_mutex;  // the state below, read by faces and the watch
    UpdatePhase m_phase = UpdatePhase::Starting;
    Times m_times;
    ProgressEstimate m_estimate;
    SlotSnapshot m_snapshot;
    SlotSummary m_summary;
    UpdateResult m_result;         // the worker's thread only
    std::set<std::string> m_said;  // the worker's thread only
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_quiet{false};  // stopped because the run has its boxes
    std::atomic<bool> m_paused{false};
    bool m_pausedDuring = false;  // the last update ended by a pause (slot thread only)
    std::stop_source m_updateStop;
    std::set<std::string> m_noted;
    std::mutex m_sleepMutex;
    std::condition_variable_any m_wake;
    std::jthread m_thread;
};

Station::Station(StationConfig config) : m_config(std::move(config)) {}

Station::~Station() {
    Stop();
    Join();
}

bool Station::Refuse(const Refusal& refusal, int exit) {
    m_refused.caption = kApplicationTitle;
    m_refused.message = refusal.message;
    m_refused.reason = refusal.reason;
    m_refused.verdict = "failed";
    m_refused.exit = exit;
    m_refusalExit = exit;
    return false;
}

bool Station::Prepare() {
    if (!PrepareSeries()) {
        return false;
    }
    if (auto refused = CheckExpectedSeries(m_facts.identity, m_config.request.expectedSeries)) {
        m_series.reset();  // its files go: the box must see nothing
        return Refuse(*refused, kExitBadInput);
    }
    // The update checks its own build against what was measured here.
    m_config.request.expectedSeries = m_facts.identity;
    return OpenFiles();
}

bool Station::PrepareSeries() {
    if (auto refused = CheckInputs(m_config.request, m_facts)) {
        return Refuse(*refused, ExitCodeOf(refused->outcome, 0));
    }
    if (!m_config.shareSeries) {
        return true;
    }
    const UpdateRequest& request = m_config.request;
    m_series = std::make_unique<PacketSeries>();
    if (!m_series->Build(request.bootFolder, request.projectPath, request.imagePath,
                         request.startAddress)) {
        Refusal refused{UpdateOutcome::BadInput, m_series->Message(), m_series->Detail()};
        m_series.reset();
        return Refuse(refused, kExitBadInput);
    }
    m_facts.identity = m_series->Identity();
    return true;
}

bool Station::OpenFiles() {
    if (!m_config.tracePath.empty()) {
        m_trace = std::make_unique<TraceWriter>();
        if (!m_trace->Open(m_config.tracePath)) {
            std::string why = m_trace->OpenError();
            m_trace.reset();
            return Refuse(
                {UpdateOutcome::BadInput, "--trace: cannot write " + m_config.tracePath, why},
                kExitUsage);
        }
    }
    const std::string& traces = m_config.traceDir;
    if (!traces.empty()) {
        m_traceFolder = std::make_unique<TraceFolder>();
        if (!m_traceFolder->Open(traces)) {
            std::string why = m_traceFolder->OpenError();
            m_traceFolder.reset();
            return Refuse({UpdateOutcome::BadInput, "--trace-dir: cannot write in " + traces, why},
                          kExitUsage);
        }
    }
    if (!m_config.logPath.empty() && !m_log.Open(m_config.logPath)) {
        return Refuse(
            {UpdateOutcome::BadInput, "--log: cannot write " + m_config.logPath, m_log.OpenError()},
            kExitUsage);
    }
    return true;
}

void Station::Start(std::vector<SlotObserver*> observers, std::function<void()> onChange) {
    m_onChange = std::move(onChange);
    for (std::size_t i = 0; i < m_config.slots.size(); ++i) {
        m_slots.push_back(
            std::make_unique<SlotRunner>(*this, i, i < observers.size() ? observers[i] : nullptr));
    }
    if (m_trace && !m_slots.empty()) {
        m_trace->OnWriteError(
            [this](const std::string& reason) { m_slots.front()->NoteOnce("warning: " + reason); });
    }
    for (auto& slot : m_slots) {
        slot->Start();
    }
    m_watch = std::jthread([this](std::stop_token stop) { Watch(stop); });
}

void Station::SetPaused(std::size_t slot, bool paused) {
    m_slots[slot]->SetPaused(paused);
}

void Station::SetAllPaused(bool paused) {
    for (auto& slot : m_slots) {
        slot->SetPaused(paused);
    }
}

void Station::Stop(int signal) {
    if (signal != 0) {
        m_signal = signal;
    }
    for (auto& slot : m_slots) {
        slot->Stop(false);
    }
}

bool Station::Done() const {
    return std::all_of(m_slots.begin(), m_slots.end(),
                       [](const auto& slot) { return slot->Done(); });
}

void Station::Join() {
    for (auto& slot : m_slots) {
        slot->Join();
    }
    if (m_watch.joinable()) {
        m_watch.request_stop();
        m_watch.join();
    }
    if (m_trace) {
        m_trace->Close();
    }
    // Every slot has ended: the shared series' files go, and the folder is free.
    m_series.reset();
    std::vector<std::string> left = m_log.Close();
    m_unlogged.insert(m_unlogged.end(), left.begin(), left.end());
}

bool Station::ClaimBox(std::size_t slot) {
    std::lock_guard lock(m_claimMutex);
    if (m_config.count <= 0) {
        return true;
    }
    if (m_claimed >= m_config.count) {
        m_slots[slot]->Stop(true);
        return false;
    }
    if (++m_claimed == m_config.count) {
        // The run has its boxes: slots still waiting stop; those with a box
        // finish it.
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            if (i != slot && !m_slots[i]->HasBox()) {
                m_slots[i]->Stop(true);
            }
        }
    }
    return true;
}

bool Station::CountReached() {
    std::lock_guard lock(m_claimMutex);
    return m_config.count > 0 && m_claimed >= m_config.count;
}

std::string Station::Log(const BoxRecord& record) {
    return m_log.IsOpen() ? m_log.Append(record) : std::string();
}

// After a while of waiting for the boot loader, one word on what is watched
// and what starts it.
void Station::Watch(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    while (!wake.wait_for(lock, stop, kWatchPeriod, [] { return false; }) &&
           !stop.stop_requested()) {
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            auto since = m_slots[i]->WaitingSince();
            if (since && Clock::now() - *since >= kResetHintAfter) {
                m_slots[i]->NoteOnce(
                    "hint: still waiting for the boot loader on " + m_config.slots[i].device +
                    ": press the box's reset button to start it; if it does not "
                    "answer, check the wiring (TX to RX, RX to TX, ground) and the "
                    "baud rate");
            }
        }
    }
}

SlotSnapshot Station::Snapshot(std::size_t slot) const {
    return m_slots[slot]->Snapshot();
}

Station::SlotSummary Station::Summary(std::size_t slot) const {
    return m_slots[slot]->Summary();
}

int Station::ExitCode() const {
    std::vector<int> codes;
    for (const auto& slot : m_slots) {
        SlotSummary summary = slot->Summary();
        codes.insert(codes.end(), summary.exitCodes.begin(), summary.exitCodes.end());
    }
    // A cancelled update ends with 128 + the signal, even beside failures.
    bool cancelled = std::any_of(codes.begin(), codes.end(), [](int code) { return code >= 128; });
    int code = CombinedExitCode(codes);
    return !m_unlogged.empty() && !cancelled ? kExitLogLost : code;
}

}  // namespace quillon
