#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>

#include "engine/update_view.h"
#include "station/progress_estimate.h"
#include "station/slot_commands.h"
#include "station/slot_record.h"
#include "station/station.h"

namespace quillon {

// One slot: box after box (or one) on one device, on a thread of its own.
// A box is tried up to 1 + retries times; each try is one update, whose
// events the slot passes on to the face and reads for its own state.
class SlotRunner : public UpdateListener, private UpdateHooks {
public:
    using Clock = std::chrono::steady_clock;

    SlotRunner(SlotHost& host, std::size_t index, SlotObserver* observer);
    ~SlotRunner() override;

    void Start();
    // quiet: the run has its boxes, and a wait that ends is no failure.
    void Stop(bool quiet);
    void SetPaused(bool paused);
    void Release();
    void SetBoxIdentity(std::string identity);
    bool Done() const { return m_done; }
    void Join();

    // Whether it waits for a box (and since when): a box answering
    // elsewhere may end the run, and a long wait earns a hint.
    std::optional<Clock::time_point> WaitingSince() const;
    bool HasBox() const;
    // A note said once on the slot, from any thread.
    void NoteOnce(const std::string& text);
    // What to say after a long wait for the box.
    std::string WaitHint() const;
    SlotSnapshot Snapshot() const;
    SlotSummary Summary() const;

    // The update's events, on the slot's thread.
    void On(const UpdateEvent& event) override;

private:
    // UpdateHooks: the reset command before each try, and the box's
    // identity before its first.
    std::optional<Failure> PrepareBox() override;
    bool BoxAnswered() override;

    void Run(std::stop_token stop);
    // The box's record once it has ended for good; none when no box came
    // (a line fault, a pause, a run that has its boxes).
    std::optional<BoxRecord> RunBox(const std::stop_token& stop);
    TryEnd RunTry(const std::stop_token& stop, BoxTries& box);
    BoxRecord Finish(BoxTries& box);
    void OpenBoxTrace(BoxTries& box);
    void Record(const BoxRecord& record);
    void Hold(const BoxRecord& record);
    bool AwaitResume(const std::stop_token& stop);
    bool AwaitRelease(const std::stop_token& stop);
    void ReportLineFault(const TryEnd& end);
    void Tell(SlotEvent event);
    void Note(const std::string& text) { Tell(NoteEvent{text}); }
    void OnPhase(UpdatePhase phase);
    void SetState(SlotSnapshot::State state, std::string note = {});
    // What the slot is doing now, for the station's metrics; m_mutex held.
    SlotActivity Activity() const;
    std::stop_token NewUpdateStop();
    // Ends early on a stop or a pause.
    void Sleep(const std::stop_token& stop, Clock::duration length);

    SlotHost& m_host;
    std::size_t m_index;
    SlotSpec m_spec;
    SlotObserver* m_observer;
    SlotCommands m_commands;
    mutable std::mutex m_mutex;  // the state below, read by faces and the watch
    UpdatePhase m_phase = UpdatePhase::Starting;
    bool m_answered = false;  // this try's box has answered: a pause lets it end
    TryClock m_clock;
    ProgressEstimate m_estimate;
    SlotSnapshot m_snapshot;
    SlotSummary m_summary;
    std::string m_scannedIdentity;
    std::set<std::string> m_noted;
    UpdateResult m_result;         // the slot's thread only
    std::set<std::string> m_said;  // the slot's thread only
    BoxTries* m_box = nullptr;     // the slot's thread only
    bool m_faultSaid = false;      // the slot's thread only
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_quiet{false};  // stopped because the run has its boxes
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_pausedDuring{false};  // a pause stopped this try's wait
    std::atomic<bool> m_held{false};
    std::stop_source m_updateStop;
    std::mutex m_sleepMutex;
    std::condition_variable_any m_wake;
    std::jthread m_thread;
};

}  // namespace quillon
