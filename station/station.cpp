#include "station/station.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>

#include "engine/packet_series.h"
#include "platform/file.h"
#include "station/exit_codes.h"
#include "station/slot_runner.h"
#include "station/trace_budget.h"
#include "station/trace_file.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kResetHintAfter = 30s;
// The hint waits half a minute: a look a second is enough.
constexpr auto kWatchPeriod = 1s;

}  // namespace

Station::Station(StationConfig config) : m_config(std::move(config)) {}

Station::~Station() {
    Stop();
    Join();
}

// A run that never begins lets go of all it took: the boot folder (and a
// shared series' files), the trace, the log.
bool Station::Refuse(const Refusal& refusal, int exit) {
    m_series.reset();
    m_trace.reset();
    m_traceBudget.reset();
    m_traceFolder.reset();
    m_log.Close();
    m_metrics.reset();
    m_refused.caption = kApplicationTitle;
    m_refused.message = refusal.message;
    m_refused.reason = refusal.reason;
    m_refused.cause = exit == kExitUsage ? "" : CauseKey(refusal.cause);
    m_refused.verdict = "failed";
    m_refused.exit = exit;
    m_refusalExit = exit;
    return false;
}

bool Station::Prepare() {
    if (!PrepareSeries()) {
        return false;
    }
    if (m_facts.identity.empty()) {
        return OpenFiles();  // nothing measured: the update will fail on its inputs
    }
    if (auto refused = CheckExpectedSeries(m_facts.identity, m_config.request.expectedSeries)) {
        return Refuse(*refused, kExitBadInput);  // the series' files go: the box sees nothing
    }
    // The update checks its own build against what was measured here.
    m_config.request.expectedSeries = m_facts.identity;
    return OpenFiles();
}

bool Station::PrepareSeries() {
    if (auto refused = CheckInputs(m_config.request, m_facts)) {
        if (m_config.inputsMetByUpdate && !m_config.shareSeries) {
            // The update checks the series it builds against the one expected.
            m_facts = {};
            return true;
        }
        return Refuse(*refused, ExitCodeOf(refused->outcome, 0));
    }
    if (!m_config.shareSeries) {
        return true;
    }
    const UpdateRequest& request = m_config.request;
    m_series = std::make_unique<PacketSeries>();
    if (!m_series->Build(request.bootFolder, request.projectPath, request.imagePath,
                         request.startAddress)) {
        Refusal refused{UpdateOutcome::BadInput, m_series->Message(), m_series->Detail(),
                        m_series->InUse() ? Cause::BootFolderInUse : Cause::BootFolder};
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
            return Refuse(
                {UpdateOutcome::BadInput, "--trace: cannot write " + m_config.tracePath, why},
                kExitUsage);
        }
    }
    const std::string& traces = m_config.traceDir;
    if (!traces.empty()) {
        m_traceFolder = std::make_unique<TraceFolder>();
        if (!m_traceFolder->Open(traces)) {
            return Refuse({UpdateOutcome::BadInput, "--trace-dir: cannot write in " + traces,
                           m_traceFolder->OpenError()},
                          kExitUsage);
        }
        if (m_config.traceDirMax > 0) {
            m_traceBudget = std::make_unique<TraceBudget>(*m_traceFolder, m_config.traceDirMax);
        }
    }
    if (!m_config.logPath.empty() && !m_log.Open(m_config.logPath)) {
        return Refuse(
            {UpdateOutcome::BadInput, "--log: cannot write " + m_config.logPath, m_log.OpenError()},
            kExitUsage);
    }
    std::string error;
    m_metrics = ServeStationMetrics(m_config, error);
    if (!error.empty()) {
        return Refuse({UpdateOutcome::BadInput, "--metrics: cannot serve the metrics", error},
                      kExitUsage);
    }
    if (m_metrics) {
        m_metrics->SetSeries(m_facts.identity);
    }
    return true;
}

void Station::Start(SlotObserver* observer, std::function<void()> onChange) {
    m_onChange = std::move(onChange);
    SlotHost& host = *this;
    for (std::size_t i = 0; i < m_config.slots.size(); ++i) {
        m_slots.push_back(std::make_unique<SlotRunner>(host, i, observer));
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
    m_metrics.reset();  // the listener closes
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
    std::string problem = m_log.IsOpen() ? m_log.Append(record) : std::string();
    if (m_metrics) {
        m_metrics->BoxEnded(record);
        if (m_log.Held() > 0) {
            m_metrics->RecordUnwritten();  // this one is held back, behind any before it
        }
    }
    return problem;
}

void Station::SlotState(std::size_t slot, SlotActivity activity) {
    if (m_metrics) {
        m_metrics->SlotState(slot, activity);
    }
}

void Station::SlotEnded() {
    if (m_onChange) {
        m_onChange();
    }
}

void Station::TraceKept(const std::string& path, bool good) {
    if (m_traceBudget) {
        m_traceBudget->Kept(path, good);
    }
}

bool Station::MayHold() const {
    if (!m_config.repeat) {
        return false;
    }
    return !m_config.resetCommand.empty() ||
           std::any_of(m_config.slots.begin(), m_config.slots.end(),
                       [](const SlotSpec& slot) { return !slot.resetCommand.empty(); });
}

void Station::Release(std::size_t slot) {
    m_slots[slot]->Release();
}

std::optional<std::size_t> Station::FindSlot(const std::string& text) const {
    for (std::size_t i = 0; i < m_config.slots.size(); ++i) {
        const SlotSpec& slot = m_config.slots[i];
        if (text == slot.name || text == slot.label || text == slot.device ||
            text == std::to_string(i + 1)) {
            return i;
        }
    }
    return std::nullopt;
}

void Station::SetOperator(std::string name) {
    std::lock_guard lock(m_whoMutex);
    m_config.operatorName = std::move(name);
}

void Station::SetLot(std::string lot) {
    std::lock_guard lock(m_whoMutex);
    m_config.lot = std::move(lot);
}

std::string Station::OperatorName() const {
    std::lock_guard lock(m_whoMutex);
    return m_config.operatorName;
}

std::string Station::Lot() const {
    std::lock_guard lock(m_whoMutex);
    return m_config.lot;
}

void Station::SetBoxIdentity(std::size_t slot, std::string identity) {
    m_slots[slot]->SetBoxIdentity(std::move(identity));
}

// After a while of waiting for the boot loader, one word on what is watched
// and what starts it.
void Station::Watch(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    while (!wake.wait_for(lock, stop, kWatchPeriod, [] { return false; }) &&
           !stop.stop_requested()) {
        for (auto& slot : m_slots) {
            auto since = slot->WaitingSince();
            if (since && Clock::now() - *since >= kResetHintAfter) {
                slot->NoteOnce(slot->WaitHint());
            }
        }
    }
}

SlotSnapshot Station::Snapshot(std::size_t slot) const {
    return m_slots[slot]->Snapshot();
}

SlotSummary Station::Summary(std::size_t slot) const {
    return m_slots[slot]->Summary();
}

int Station::ExitCode() const {
    // A stopped station says so, whatever its boxes came to: the summary
    // and the log tell those.
    if (m_signal != 0) {
        return ExitCodeOf(UpdateOutcome::Cancelled, m_signal);
    }
    std::vector<int> codes;
    for (const auto& slot : m_slots) {
        SlotSummary summary = slot->Summary();
        codes.insert(codes.end(), summary.exitCodes.begin(), summary.exitCodes.end());
    }
    bool cancelled = std::any_of(codes.begin(), codes.end(), [](int code) { return code >= 128; });
    int code = CombinedExitCode(codes);
    return !m_unlogged.empty() && !cancelled ? kExitLogLost : code;
}

}  // namespace quillon
