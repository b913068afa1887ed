#include "station/slot_runner.h"

#include <type_traits>

#include "engine/update_worker.h"
#include "platform/file.h"
#include "platform/serial_devices.h"

namespace quillon {

namespace {

using namespace std::chrono_literals;

// A slot whose port will not open, or whose adapter went before a box came,
// tries again this often; a held slot looks for its adapter as often.
constexpr auto kLineRetry = 1s;
constexpr auto kReplugLook = 500ms;

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

SlotRunner::SlotRunner(SlotHost& host, std::size_t index, SlotObserver* observer)
    : m_host(host),
      m_index(index),
      m_spec(host.Config().slots[index]),
      m_observer(observer),
      m_commands(m_spec,
                 m_spec.resetCommand.empty() ? host.Config().resetCommand : m_spec.resetCommand,
                 host.Config().boxIdCommand, host.Config().resetTimeout),
      m_estimate(host.Config().request.baudRate) {
    if (m_spec.name.empty()) {
        m_spec.name = m_spec.device;
    }
    m_snapshot.attempts = 1 + host.Config().retries;
}

SlotRunner::~SlotRunner() {
    Stop(false);
    Join();
}

void SlotRunner::Start() {
    m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void SlotRunner::Stop(bool quiet) {
    m_quiet = m_quiet || quiet;
    m_thread.request_stop();
    m_wake.notify_all();
}

void SlotRunner::SetPaused(bool paused) {
    {
        // Under the sleepers' lock, so that a resume is never missed
        // between their look at the flag and their wait.
        std::lock_guard lock(m_sleepMutex);
        m_paused = paused;
    }
    if (paused) {
        // Not a box yet: the wait ends now, unrecorded. Looked at and
        // stopped under one lock, so that a box answering meanwhile is
        // either left alone or never taken (see BoxAnswered).
        std::lock_guard lock(m_mutex);
        if (!m_answered) {
            m_updateStop.request_stop();
            m_pausedDuring = true;  // even if resumed before the try has ended
        }
    }
    m_wake.notify_all();
}

void SlotRunner::Release() {
    {
        std::lock_guard lock(m_sleepMutex);
        m_held = false;
    }
    m_wake.notify_all();
}

void SlotRunner::SetBoxIdentity(std::string identity) {
    std::lock_guard lock(m_mutex);
    m_scannedIdentity = std::move(identity);
    m_snapshot.box = m_scannedIdentity;
}

void SlotRunner::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::optional<SlotRunner::Clock::time_point> SlotRunner::WaitingSince() const {
    std::lock_guard lock(m_mutex);
    return m_phase == UpdatePhase::Waiting ? std::optional(m_clock.WaitingSince()) : std::nullopt;
}

bool SlotRunner::HasBox() const {
    std::lock_guard lock(m_mutex);
    return m_answered;
}

void SlotRunner::NoteOnce(const std::string& text) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_noted.insert(text).second) {
            return;
        }
    }
    Note(text);
}

std::string SlotRunner::WaitHint() const {
    std::string start = m_commands.HasReset() ? "its reset command (" + m_commands.ResetCommand() +
                                                    ") ran; check that it starts it"
                                              : "press the box's reset button to start it";
    return "hint: still waiting for the boot loader on " + m_spec.device + ": " + start +
           "; if it does not answer, check the wiring (TX to RX, RX to TX, ground) and the "
           "baud rate";
}

SlotSnapshot SlotRunner::Snapshot() const {
    std::lock_guard lock(m_mutex);
    SlotSnapshot shot = m_snapshot;
    Clock::time_point now = Clock::now();
    shot.reached = m_estimate.Reached(now);
    shot.total = m_estimate.Total();
    shot.rate = m_estimate.Rate(now);
    shot.secondsLeft = m_estimate.SecondsLeft(now);
    return shot;
}

SlotSummary SlotRunner::Summary() const {
    std::lock_guard lock(m_mutex);
    return m_summary;
}

void SlotRunner::Tell(SlotEvent event) {
    if (m_observer != nullptr) {
        m_observer->On(m_index, event);
    }
}

// --- the worker's events ---

void SlotRunner::On(const UpdateEvent& event) {
    bool pass =
        std::visit(Overloaded{
                       [this](const PhaseEvent& e) {
                           OnPhase(e.phase);
                           return true;
                       },
                       [this](const StatusEvent& e) {
                           std::lock_guard lock(m_mutex);
                           m_snapshot.status = e.text;
                           return true;
                       },
                       [this](const ProgressEvent& e) {
                           std::lock_guard lock(m_mutex);
                           m_snapshot.position = e.position;
                           return true;
                       },
                       [this](const BytesEvent& e) {
                           std::lock_guard lock(m_mutex);
                           m_estimate.Told(e.sent, e.inFlight, e.total, Clock::now());
                           return true;
                       },
                       // Each warning once a run: the next box's are the same.
                       [this](const WarningEvent& e) { return m_said.insert(e.text).second; },
                       [this](const FinishedEvent& e) {
                           m_result = e.result;
                           return true;
                       },
                       [](const auto&) { return true; },
                   },
                   event);
    if (pass) {
        Tell(ToSlotEvent(event));
    }
}

void SlotRunner::OnPhase(UpdatePhase phase) {
    std::lock_guard lock(m_mutex);
    m_phase = phase;
    m_snapshot.phase = phase;
    m_clock.Phase(phase, Clock::now());
    if (phase == UpdatePhase::Waiting) {
        // The port is open again: whatever kept it from us is over.
        m_snapshot.state = SlotSnapshot::State::Waiting;
        m_snapshot.note.clear();
        m_snapshot.lineGone = false;
    } else if (phase == UpdatePhase::Preparing) {
        m_snapshot.state = SlotSnapshot::State::Working;
        m_snapshot.note.clear();
    }
    m_host.SlotState(m_index, Activity());
}

SlotActivity SlotRunner::Activity() const {
    switch (m_snapshot.state) {
        case SlotSnapshot::State::Working:
            return ActivityOfPhase(m_snapshot.phase);
        case SlotSnapshot::State::LineFault:
            return SlotActivity::AdapterGone;
        case SlotSnapshot::State::Paused:
            return SlotActivity::Paused;
        case SlotSnapshot::State::Held:
            return SlotActivity::Held;
        default:
            return SlotActivity::Waiting;
    }
}

std::optional<Failure> SlotRunner::PrepareBox() {
    std::stop_token stop;
    {
        std::lock_guard lock(m_mutex);
        stop = m_updateStop.get_token();
    }
    auto say = [this](const std::string& line) { Note("[" + m_spec.name + "] " + line); };
    if (std::optional<Failure> failed = m_commands.Reset(stop, say)) {
        return failed;
    }
    if (m_box == nullptr || !m_box->identity.empty() || !m_commands.HasBoxId()) {
        return std::nullopt;
    }
    std::string identity;
    if (std::optional<Failure> failed = m_commands.ReadBoxId(stop, say, identity)) {
        return failed;
    }
    m_box->identity = identity;
    std::lock_guard lock(m_mutex);
    m_snapshot.box = identity;
    return std::nullopt;
}

// A box is one of the run's when it first answers; its later tries are it again.
bool SlotRunner::BoxAnswered() {
    {
        // A pause asked for before the box answered wins: nothing is sent.
        std::lock_guard lock(m_mutex);
        if (m_updateStop.stop_requested()) {
            return false;
        }
        m_answered = true;
    }
    if (m_box == nullptr || m_box->claimed) {
        return true;
    }
    m_box->claimed = m_host.ClaimBox(m_index);
    return m_box->claimed;
}

// --- box after box ---

void SlotRunner::Run(std::stop_token stop) {
    for (const std::string& warning : m_host.Facts().warnings) {
        m_said.insert(warning);  // said before the run began
    }
    const bool repeat = m_host.Config().repeat;
    while (!stop.stop_requested()) {
        if (!AwaitResume(stop) || !AwaitRelease(stop)) {
            break;
        }
        std::optional<BoxRecord> record = RunBox(stop);
        if (!record) {
            continue;
        }
        Record(*record);
        if (!repeat || record->verdict == "cancelled" || m_host.CountReached()) {
            break;
        }
        if (m_commands.HasReset() && record->hadBox) {
            Hold(*record);
        }
    }
    SetState(SlotSnapshot::State::Stopped);
    m_done = true;
    m_host.SlotEnded();
}

std::optional<BoxRecord> SlotRunner::RunBox(const std::stop_token& stop) {
    BoxTries box;
    {
        std::lock_guard lock(m_mutex);
        box.identity = std::exchange(m_scannedIdentity, {});
        m_snapshot.box = box.identity;
    }
    m_box = &box;
    const std::size_t tries = 1 + static_cast<std::size_t>(m_host.Config().retries);
    const bool repeat = m_host.Config().repeat;
    for (;;) {
        TryEnd end = RunTry(stop, box);
        bool cancelled = end.result.outcome == UpdateOutcome::Cancelled;
        bool unasked = m_quiet || m_pausedDuring;
        if (!end.hadBox && box.tries.empty()) {
            // No box came: a single run records how it ended; a station
            // waits on, and says once what keeps the box from it.
            if (!unasked && !(repeat && !cancelled)) {
                box.tries.push_back(end);
                return Finish(box);
            }
            if (!unasked) {
                ReportLineFault(end);
                Sleep(stop, kLineRetry);
            }
            Finish(box);
            return std::nullopt;
        }
        if (!end.hadBox) {
            // A box that came once and has not come again: it ends as its
            // last try did, unless the line is only away for a while.
            if (cancelled || unasked || stop.stop_requested()) {
                return Finish(box);
            }
            ReportLineFault(end);
            Sleep(stop, kLineRetry);
            continue;
        }
        m_faultSaid = false;
        box.tries.push_back(end);
        if (end.result.outcome == UpdateOutcome::Success || cancelled ||
            box.tries.size() >= tries) {
            return Finish(box);
        }
        Note("the box failed (" + std::string(CauseKey(end.result.cause)) +
             "); trying it again, try " + std::to_string(box.tries.size() + 1) + " of " +
             std::to_string(tries));
    }
}

// One update on the slot's device. Its own stop, which the slot's passes
// on, lets a pause end a wait without ending the slot.
TryEnd SlotRunner::RunTry(const std::stop_token& stop, BoxTries& box) {
    {
        std::lock_guard lock(m_mutex);
        m_phase = UpdatePhase::Starting;
        m_estimate = ProgressEstimate(m_host.Config().request.baudRate);
        m_snapshot.position = 0;
        m_snapshot.attempt = static_cast<int>(box.tries.size()) + 1;
    }
    m_result = {};
    UpdateRequest request = m_host.Config().request;
    request.device = m_spec.device;
    request.series = m_host.Series();
    request.hooks = this;
    request.lock = m_host.Config().updateLock;
    OpenBoxTrace(box);
    TraceWriter* trace = box.trace ? box.trace.get() : m_host.SharedTrace();
    request.trace = trace;
    std::string start = IsoTimeNow();
    std::stop_token updateStop = NewUpdateStop();
    std::stop_callback passOn(stop, [this] {
        std::lock_guard lock(m_mutex);
        m_updateStop.request_stop();
    });
    UpdateWorker::Run(*this, request, updateStop);
    TryEnd end;
    end.result = m_result;
    end.start = start;
    end.end = IsoTimeNow();
    end.hadBox = m_result.reached > UpdatePhase::Waiting;
    {
        std::lock_guard lock(m_mutex);
        end.phases = m_clock.Times(Clock::now());
    }
    if (trace != nullptr && end.hadBox) {
        // A reader of the trace sees why it ends where it does.
        std::string cause = CauseKey(end.result.cause);
        trace->Remark(cause.empty() ? "ended: ok"
                                    : "ended: " + cause + ": " + FirstLine(end.result.reason));
    }
    return end;
}

BoxRecord SlotRunner::Finish(BoxTries& box) {
    m_box = nullptr;
    if (box.trace) {
        box.trace->Close();
        bool kept = !box.tries.empty() && (box.tries.back().hadBox || box.tries.size() > 1);
        if (!kept) {
            m_host.Traces()->Remove(*box.trace);  // no box, nothing to keep
        }
    }
    if (box.tries.empty()) {
        return {};
    }
    RecordContext context{m_host.Config(),       m_spec,       m_host.Facts().identity,
                          m_host.OperatorName(), m_host.Lot(), m_host.Signal()};
    BoxRecord record = MakeBoxRecord(box, context);
    if (box.trace && record.hadBox) {
        bool good = record.verdict == "ok";
        if (good && m_host.Config().traceKeepFailed) {
            m_host.Traces()->Remove(*box.trace);  // only a box that did not succeed keeps its trace
        } else {
            record.trace = box.trace->Path();
            m_host.TraceKept(record.trace, good);
        }
    }
    return record;
}

void SlotRunner::OpenBoxTrace(BoxTries& box) {
    TraceFolder* folder = m_host.Traces();
    if (folder == nullptr) {
        return;
    }
    if (box.trace) {
        box.trace->Remark("try " + std::to_string(box.tries.size() + 1) + " of " +
                          std::to_string(1 + m_host.Config().retries));
        return;
    }
    std::string error;
    std::unique_ptr<TraceWriter> trace = folder->Create(IsoTimeNow(), m_spec.name, error);
    if (!trace) {
        NoteOnce("warning: " + error);
        return;
    }
    trace->OnWriteError([this](const std::string& reason) { NoteOnce("warning: " + reason); });
    box.trace = std::move(trace);
}

void SlotRunner::Record(const BoxRecord& record) {
    {
        std::lock_guard lock(m_mutex);
        ++m_summary.updates;
        bool cancelled = record.verdict == "cancelled";
        if (record.hadBox) {
            ++m_summary.boxes;
            m_summary.ok += record.verdict == "ok" ? 1 : 0;
            m_summary.cancelled += cancelled ? 1 : 0;
            m_summary.attempts += record.attempts;
            if (!cancelled) {
                ++(record.verdict == "ok" ? m_snapshot.ok : m_snapshot.failed);
            }
        }
        m_summary.seconds += record.seconds;
        m_summary.exitCodes.insert(record.exit);
        m_summary.last = record;
        m_snapshot.state =
            record.verdict == "ok" ? SlotSnapshot::State::Ok : SlotSnapshot::State::Failed;
        m_snapshot.last = record;
    }
    if (record.hadBox || record.verdict != "cancelled") {
        if (std::string problem = m_host.Log(record); !problem.empty()) {
            NoteOnce(problem);
        }
    }
    Tell(BoxEndedEvent{record});
}

// The station powers its boxes: a box that has ended is never powered
// again by the station itself. The slot waits for the operator.
void SlotRunner::Hold(const BoxRecord& record) {
    std::string why = record.verdict == "ok" ? "done; put in the next box"
                                             : "replace the box (" + record.cause + ", " +
                                                   std::to_string(record.attempts) +
                                                   (record.attempts == 1 ? " try)" : " tries)");
    {
        std::lock_guard lock(m_sleepMutex);
        m_held = true;
    }
    SetState(SlotSnapshot::State::Held, why);
    Note("held: " + why + "; the slot goes on once a new box is in");
}

bool SlotRunner::AwaitRelease(const std::stop_token& stop) {
    bool sawMissing = false;
    std::unique_lock lock(m_sleepMutex);
    while (m_held && !stop.stop_requested()) {
        // An adapter unplugged and plugged again is a new box too (boxes
        // with their own cable).
        bool present = SerialDevicePresent(m_spec.device);
        if (!present) {
            sawMissing = true;
        } else if (sawMissing) {
            m_held = false;
            break;
        }
        m_wake.wait_for(lock, stop, kReplugLook, [this] { return !m_held; });
    }
    return !stop.stop_requested();
}

// While paused: false when the slot is to end meanwhile.
bool SlotRunner::AwaitResume(const std::stop_token& stop) {
    if (m_paused) {
        SetState(SlotSnapshot::State::Paused);
        std::unique_lock lock(m_sleepMutex);
        m_wake.wait(lock, stop, [this] { return !m_paused; });
    }
    return !stop.stop_requested();
}

// Once, until a box comes again: the adapter has gone (it is waited for,
// with no limit), or the port will not open.
void SlotRunner::ReportLineFault(const TryEnd& end) {
    std::string reason = FirstLine(end.result.reason);
    bool gone = end.result.lineGone;
    SetState(SlotSnapshot::State::LineFault, gone ? "adapter gone" : reason);
    {
        std::lock_guard lock(m_mutex);
        m_snapshot.lineGone = gone;
    }
    if (std::exchange(m_faultSaid, true)) {
        return;
    }
    Note(gone ? "adapter gone: " + m_spec.device + " (" + reason + "); waiting for it to come back"
              : reason + "; trying again every second");
}

// A slot that is not at work shows only what is true now: no status text
// or bar of a box that has gone.
void SlotRunner::SetState(SlotSnapshot::State state, std::string note) {
    std::lock_guard lock(m_mutex);
    m_snapshot.state = state;
    if (state == SlotSnapshot::State::Paused || state == SlotSnapshot::State::Held ||
        state == SlotSnapshot::State::LineFault) {
        m_snapshot.status.clear();
        m_snapshot.position = 0;
        m_snapshot.phase = UpdatePhase::Starting;
        m_snapshot.attempt = 0;
        m_estimate = ProgressEstimate(m_host.Config().request.baudRate);
    }
    if (state != SlotSnapshot::State::Stopped) {
        m_snapshot.note = std::move(note);
    }
    m_host.SlotState(m_index, Activity());
}

std::stop_token SlotRunner::NewUpdateStop() {
    std::lock_guard lock(m_mutex);
    m_updateStop = std::stop_source();
    m_answered = false;
    m_pausedDuring = m_paused.load();
    if (m_pausedDuring) {
        m_updateStop.request_stop();
    }
    return m_updateStop.get_token();
}

void SlotRunner::Sleep(const std::stop_token& stop, Clock::duration length) {
    std::unique_lock lock(m_sleepMutex);
    m_wake.wait_for(lock, stop, length, [this] { return m_paused.load(); });
}

}  // namespace quillon
