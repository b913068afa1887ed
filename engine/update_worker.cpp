#include "engine/update_worker.h"

#include "engine/window_steps.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "engine/packet_series.h"
#include "engine/serial_port.h"
#include "engine/series_steps.h"
#include "initfiles/wire.h"
#include "platform/file.h"
#include "platform/port_hint.h"

namespace quillon {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* const kCheckConnection = "Please check your serial connection";
// The status texts a face may size its status line for.
const char* const kWaitingText = "Waiting connection,Press reset button...";
const char* const kExecSentText = "Download finish. now preparing burning !";
const char* const kDownloadFormat = "(step 1/3) Downloading %04d/%04d";
const char* const kEraseFormat = "(step 2/3) Erasing : %d/%dsectors completed";
const char* const kBurnFormat = "(step 3/3) Burning : %d/%d bytes completed";

constexpr int kMaxEmptyPolls = 200;
// Bytes that keep coming without a report are bounded too: by what the line
// carries in the time that 201 empty polls of 10 ms take. Counted in bytes,
// not read off the clock, so that a stall of the tool is never taken for
// the box's silence or noise.
constexpr auto kNoiseBudget = 2010ms;
constexpr std::uint64_t kLeastNoiseBudget = 64;

// Of any length: a packet name in a deep folder must never be cut short.
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// Position in a band of the bar: trunc(done / total * width) + offset, in
// double; a total of 0 leaves the bar at the start of its band. A box that
// counts past its total (or gives a negative one) leaves the bar at an end
// of its band: beyond it the bar would leave 0-100, and a share of millions
// would not even fit the int it is cast to.
int BandPosition(int offset, int width, double done, double total) {
    if (total == 0) {
        return offset;
    }
    return offset + static_cast<int>(std::clamp(done / total, 0.0, 1.0) * width);
}

// Thrown once an end has been taken, to leave the steps.
struct Ended {
    UpdateOutcome outcome;
};

// "record 0004": how the reasons name a file of the series.
std::string RecordName(int number) {
    return Format("record %04d", number);
}

class UpdateSession {
public:
    UpdateSession(UpdateListener& listener, const UpdateRequest& request, std::stop_token stop,
                  UpdateResult& result)
        : m_listener(listener),
          m_request(request),
          m_stop(std::move(stop)),
          m_shared(request.series),
          m_result(result) {}

    UpdateOutcome Execute() {
        try {
            Start();
            LockSeriesFolder();
            OpenPort();
            WaitForBootLoader();
            SendHandshakeFile();
            BuildSeries();
            Download();
            SendExecCommand();
            EraseAndBurn();
        } catch (const Ended& end) {
            m_port.AbandonFile();
            Finish(end.outcome);
            return end.outcome;
        }
        Finish(UpdateOutcome::Success);
        return UpdateOutcome::Success;
    }

private:
    void Tell(const UpdateEvent& event) { m_listener.On(event); }

    void Finish(UpdateOutcome outcome) {
        m_result.bytes = m_boxBytes;
        if (outcome == UpdateOutcome::Cancelled) {
            m_result.cause = Cause::Cancelled;
        }
    }

    void Start() {
        if (m_request.lock != nullptr) {
            m_lock = std::unique_lock<std::timed_mutex>(*m_request.lock, std::defer_lock);
            while (!m_lock.try_lock_for(50ms)) {
                CheckStop();
            }
        }
        Phase(UpdatePhase::Starting);
        m_own.SetInputs(m_request.bootFolder, m_request.projectPath, m_request.imagePath);
        m_port.SetStopToken(m_stop);
        m_port.UseLines(m_request.makeLine);
        m_port.SetTrace(m_request.trace);
        m_port.OnPieceSent([this](const std::uint8_t* bytes, std::size_t count) {
            if (m_digesting) {
                m_sent.Update(bytes, count);
            }
        });
    }

    void Phase(UpdatePhase phase) {
        if (phase != m_result.reached || phase == UpdatePhase::Starting) {
            m_result.reached = phase;
            Tell(PhaseEvent{phase});
        }
    }

    void Status(std::string text) { Tell(StatusEvent{std::move(text)}); }
    void Progress(int position) { Tell(ProgressEvent{position}); }

    // Before the port opens, so that a second update on the folder is
    // refused at once rather than after the box was reset.
    void LockSeriesFolder() {
        if (m_shared == nullptr && !m_own.Lock()) {
            FailApp(UpdateOutcome::BadInput, m_own.Message(),
                    {m_own.InUse() ? Cause::BootFolderInUse : Cause::BootFolder, m_own.Message()});
        }
    }

    void OpenPort() {
        const char* failed = "Failed to open serial port!";
        if (!m_request.refusal.empty()) {
            FailApp(UpdateOutcome::PortOpenFailed, failed,
                    {Cause::PortOpenFailed, m_request.refusal});
        }
        bool opened = m_request.device.empty() ? m_port.Open(m_request.comPort, m_request.baudRate)
                                               : m_port.Open(m_request.device, m_request.baudRate);
        if (!opened) {
            // With the hint on how to get at the port: the window shows it
            // as the command line does.
            std::string reason = "cannot open " + m_port.Device() + ": " + m_port.OpenFault().words;
            m_result.lineGone = m_port.DeviceMissing();
            std::string hint = DiagnoseOpenFailure(m_port.Device(), m_port.OpenFault().code);
            FailApp(UpdateOutcome::PortOpenFailed, failed,
                    {Cause::PortOpenFailed, hint.empty() ? reason : reason + "\n" + hint});
        }
        if (m_request.hooks == nullptr) {
            return;
        }
        if (std::optional<Failure> refused = m_request.hooks->PrepareBox()) {
            CheckStop();
            FailApp(UpdateOutcome::PortOpenFailed, failed, *refused);
        }
    }

    void WaitForBootLoader() {
        Phase(UpdatePhase::Waiting);
        Status(kWaitingText);
        Tell(BlinkEvent{true});
        auto limit = m_request.waitLimit;
        Clock::time_point deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
        while (m_port.WaitStatus() != kReplyReady) {
            CheckStop();
            if (m_port.IsLineGone()) {
                m_result.lineGone = true;
                FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection, "Connect Failed",
                         LineLost("while waiting for the boot loader"));
            }
            if (Clock::now() >= deadline) {
                FailStop(
                    UpdateOutcome::ConnectionFailed, kCheckConnection, "Connect Failed",
                    {Cause::NoBootLoader,
                     Format("no boot loader answered on %s within %g s", m_port.Device().c_str(),
                            std::chrono::duration<double>(*limit).count())});
            }
            Pause(5ms);
        }
        if (m_request.hooks != nullptr && !m_request.hooks->BoxAnswered()) {
            throw Ended{UpdateOutcome::Cancelled};
        }
    }

    void SendHandshakeFile() {
        Phase(UpdatePhase::Preparing);
        Status("Now preparing...");
        if (m_shared == nullptr) {
            Step(&PacketSeries::WriteBus);
        }
        PassOnWarnings();
        if (std::optional<Failure> failed =
                SendWholeFile(Series().Held(1), Series().FileName(1), RecordName(1))) {
            FailApp(UpdateOutcome::ConnectionFailed, "Write CBus file error!", *failed);
        }
        std::uint8_t code = kReplyNoVerdict;
        while ((code = m_port.WaitStatus()) == kReplyNoVerdict) {
            CheckStop();
        }
        CheckStop();
        if (m_port.IsLineGone()) {
            FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection, "Connect Failed",
                     LineLost("while waiting for the reply to " + RecordName(1)));
        }
        if (code == kReplyRejected) {
            FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection, "Connect Failed",
                     Rejected(1));
        }
    }

    void PassOnWarnings() {
        const auto& warnings = m_own.Warnings();
        for (; m_warningsPassed < warnings.size(); ++m_warningsPassed) {
            Tell(WarningEvent{warnings[m_warningsPassed]});
        }
    }

    void BuildSeries() {
        if (m_shared != nullptr) {
            m_fileCount = m_shared->Count();
            m_result.series = m_shared->Identity();
            Tell(SeriesEvent{m_result.series});
            return;
        }
        Step(&PacketSeries::WriteRest);
        PassOnWarnings();
        m_fileCount = m_own.Count();
        m_result.series = m_own.Identity();
        // The inputs were checked before the box was reset; files changed
        // since would give the box a series nobody approved.
        if (!SeriesMatches(m_result.series, m_request.expectedSeries)) {
            FailApp(
                UpdateOutcome::BadInput, StepMessage(SeriesStep::Build),
                {Cause::SeriesMismatch,
                 "the series built (" + m_result.series + ") is not the one expected (" +
                     m_request.expectedSeries + "); its files changed since they were checked"});
        }
        Tell(SeriesEvent{m_result.series});
    }

    void Download() {
        const int count = static_cast<int>(m_fileCount);
        Phase(UpdatePhase::Download);
        Tell(BlinkEvent{false});
        Status(Format("Downloading %04d/%04d", 1, count));
        Progress(0);
        m_bytesTotal = SeriesSize(2, count);
        for (int i = 2; i <= count; ++i) {
            DownloadFile(i, count);
        }
    }

    void DownloadFile(int i, int count) {
        File* file = Series().Held(static_cast<std::uint32_t>(i));
        const std::string name = Series().FileName(static_cast<std::uint32_t>(i));
        std::uint64_t fileBytes = 0;  // the running offset of the last piece
        for (;;) {
            Status(Format(kDownloadFormat, i, count));
            Progress(BandPosition(0, 50, i, count));
            int result = SendPiece(file, name, fileBytes);
            CheckStop();
            if (result == 0) {
                FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection, "Download ",
                         PieceFailure(file, name, RecordName(i)));
            }
            if (result < 0) {
                break;
            }
            Tell(BytesEvent{m_bytesSent + fileBytes, m_port.BytesInFlight(), m_bytesTotal, false});
        }
        m_bytesSent += fileBytes;
        std::uint8_t code = m_port.WaitStatus();
        CheckStop();
        Tell(BytesEvent{m_bytesSent, 0, m_bytesTotal, true});
        if (code == kReplyRejected) {
            FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection,
                     "Download Failed CheckSum/Timeout", Rejected(i));
        }
        if (code == kNoReply) {
            m_result.lineGone = m_port.IsLineGone();
            FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection,
                     "Download Failed CheckSum/Timeout",
                     m_port.IsLineGone()
                         ? LineLost("while waiting for the reply to " + RecordName(i))
                         : Failure{Cause::NoReply, "no reply to " + RecordName(i) +
                                                       " within its time (about a second)"});
        }
    }

    void SendExecCommand() {
        CheckWhatWasSent();
        if (m_shared == nullptr) {
            StepExec();
        }
        SendExecFile(Series().HeldExec(), Series().ExecFileName());
    }

    // What went out before the execute command is the series measured and
    // approved: a file swapped, cut or rewritten after that never gets the
    // box's flash written with it.
    void CheckWhatWasSent() {
        m_digesting = false;
        std::string sent = m_sent.HexDigest();
        if (sent != Series().Identity()) {
            FailApp(UpdateOutcome::BadInput, StepMessage(SeriesStep::Build),
                    {Cause::SeriesMismatch,
                     "the records sent (" + sent + ") are not the series measured (" +
                         Series().Identity() + "); the execute command was not sent"});
        }
    }

    void SendExecFile(File* file, const std::string& name) {
        if (std::optional<Failure> failed = SendWholeFile(file, name, "the execute record")) {
            FailStop(UpdateOutcome::ConnectionFailed, kCheckConnection, "Download Failed", *failed);
        }
        // From here on the box erases and burns by itself.
        Phase(UpdatePhase::Execute);
        Status(kExecSentText);
    }

    // Follows the box's progress reports until it reports its outcome.
    void EraseAndBurn() {
        int idle = 0;
        std::uint64_t noise = 0;
        const std::uint64_t noiseBudget =
            std::max(kLeastNoiseBudget, m_port.LineBytesIn(kNoiseBudget));
        std::uint32_t done = 0;
        std::int32_t total = 0;
        // A status reply among the bytes (the box's answer to the execute
        // command) is shown as one in the trace: it is not noise there.
        std::uint64_t replyBytes = 0;
        bool afterSync = false;
        for (;;) {
            if (idle > kMaxEmptyPolls) {
                FailAfterExec(Silent());
            }
            if (noise > noiseBudget) {
                FailAfterExec(
                    {Cause::LineNoise, Format("%llu bytes came %s but no progress report",
                                              static_cast<unsigned long long>(noise), BoxWork())});
            }
            std::uint8_t byte = 0;
            if (m_port.Read(&byte, 1) != 1) {
                CheckStop();
                if (m_port.IsLineGone()) {
                    m_result.lineGone = true;
                    Failure lost = LineLost(BoxWork());
                    lost.cause = m_result.reached == UpdatePhase::Burn ? Cause::LineLostBurning
                                                                       : Cause::LineLostErasing;
                    FailAfterExec(lost);
                }
                Pause(10ms);
                ++idle;
                continue;
            }
            if (byte != kReportMarker) {
                ++noise;
                replyBytes += afterSync ? 2 : 0;
                afterSync = !afterSync && byte == kReplySync;
                continue;
            }
            m_port.NoteIgnored(noise - replyBytes - (afterSync ? 1 : 0),
                               "noise between reports, skipped");
            idle = 0;
            noise = 0;
            replyBytes = 0;
            afterSync = false;
            std::uint8_t code = 0;
            if (m_port.ReadRest(&code, 1) != 1) {
                code = 0x00;
            }
            if (!OnReport(code, done, total)) {
                return;
            }
        }
    }

    // "while the box was erasing": where the box stood after the execute command.
    const char* BoxWork() const {
        switch (m_result.reached) {
            case UpdatePhase::Burn:
                return "while the box was burning";
            case UpdatePhase::Erase:
                return "while the box was erasing";
            default:
                return "after the execute command";
        }
    }

    Failure Silent() const {
        if (m_result.reached == UpdatePhase::Burn) {
            return {Cause::SilentBurning, "the box fell silent while burning: no report for 2 s"};
        }
        return {Cause::SilentErasing,
                m_result.reached == UpdatePhase::Erase
                    ? "the box fell silent while erasing: no report for 2 s"
                    : "the box did not begin to erase: no report for 2 s after the execute "
                      "command"};
    }

    // The box has its execute command: whatever ends the update now may
    // leave its flash half written.
    [[noreturn]] void FailAfterExec(const Failure& why) {
        FailStop(UpdateOutcome::BurnTimedOut, kCheckConnection, "Burn Failed", why);
    }

    // Acts on one progress report; false once the box has reported its outcome.
    bool OnReport(std::uint8_t code, std::uint32_t& done, std::int32_t& total) {
        std::uint8_t data[4];
        if (int got = ReportDataSize(code) == 4 ? m_port.ReadRest(data, 4) : 4; got != 4) {
            m_port.NoteIgnored(2 + static_cast<std::size_t>(got), "a report cut short, dropped");
            return true;
        }
        switch (code) {
            case kReportEraseBegun:
                Phase(UpdatePhase::Erase);
                Status("Erasing...");
                break;
            case kReportErased:
                Phase(UpdatePhase::Erase);
                done = ReadWordBE(data);
                total = static_cast<std::int32_t>(ReadWordBE(data + 2));
                Status(Format(kEraseFormat, static_cast<int>(done), total));
                Progress(BandPosition(50, 25, done, total));
                break;
            case kReportBurnt:
                Phase(UpdatePhase::Burn);
                done = ReadDwordBE(data) & 0x0FFFFFFF;
                Status(Format(kBurnFormat, static_cast<int>(done), total));
                Progress(BandPosition(75, 25, done, total));
                break;
            case kReportBurnTotal:
                total = static_cast<std::int32_t>(ReadDwordBE(data));
                break;
            case kReportSucceeded:
                FinishBurn("Successful to update flash! STB has restarted ", "Success",
                           MB_ICONEXCLAMATION_OK, {});
                return false;
            case kReportFailed:
                FinishBurn(
                    "Failed to update flash! Please check your setting ", "Failed", MB_ICONHAND_OK,
                    {Cause::BoxReportedFailure,
                     std::string("the box reported that the update failed (0F 0F) ") + BoxWork()});
                throw Ended{UpdateOutcome::BoxReportedFailure};
            default:
                break;
        }
        return true;
    }

    void FinishBurn(const char* text, const char* caption, unsigned type, const Failure& why) {
        Progress(0);
        Tell(BlinkEvent{false});
        Phase(UpdatePhase::Ended);
        Status("Burning finished!");
        ShowBox(false, text, caption, type, why);
    }

    // A piece of a file; the box's bytes count what got out.
    // From the file as it was written when it is held, else by its name.
    int SendPiece(File* file, const std::string& name, std::uint64_t& fileBytes) {
        int result = file != nullptr ? m_port.SendFilePiece(*file) : m_port.SendFilePiece(name);
        if (result > 0) {
            m_boxBytes += static_cast<std::uint64_t>(result) - fileBytes;
            fileBytes = static_cast<std::uint64_t>(result);
        }
        return result;
    }

    // Sends one packet file piece by piece; why not, when a piece could not go out.
    std::optional<Failure> SendWholeFile(File* file, const std::string& name,
                                         const std::string& what) {
        std::uint64_t fileBytes = 0;
        for (;;) {
            int result = SendPiece(file, name, fileBytes);
            CheckStop();
            if (result == 0) {
                return PieceFailure(file, name, what);
            }
            if (result < 0) {
                return std::nullopt;
            }
        }
    }

    // A piece fails when its packet file cannot be opened or read (one
    // sent by name may have been deleted behind the tool's back), or the
    // line took it only in part.
    Failure PieceFailure(File* file, const std::string& name, const std::string& what) {
        m_result.lineGone = m_port.IsLineGone();
        File probe;
        if (file == nullptr && !probe.Open(name, File::Mode::ReadExisting)) {
            return {Cause::PacketFileLost, what + " could not be read: cannot open " + name + ": " +
                                               probe.OpenFault().words};
        }
        if (!m_port.IsLineGone() && !m_port.LineFault().Failed()) {
            return {Cause::PacketFileLost, what + " could not be read: " + name};
        }
        return LineLost("while sending " + what);
    }

    Failure LineLost(const std::string& when) const {
        std::string error = m_port.LineFault().words;
        return {Cause::LineLost,
                "the line was lost " + when + ": " + m_port.Device() +
                    (m_port.IsLineGone() ? " went away" : " took only part of it") +
                    (error.empty() ? "" : " (" + error + ")")};
    }

    static Failure Rejected(int number) {
        return {Cause::RecordRejected, "the box rejected " + RecordName(number) +
                                           " (it answered 0x11: a checksum or a record it "
                                           "refuses)"};
    }

    // A step of the update's own series that fails ends the update with its
    // message, the reason as the failure's detail.
    void Step(bool (PacketSeries::*step)()) {
        if (!(m_own.*step)()) {
            FailApp(UpdateOutcome::BadInput, m_own.Message(), {Cause::BootFolder, m_own.Detail()});
        }
    }

    // The execute command's failure has a box of its own.
    void StepExec() {
        if (!m_own.WriteExec(m_request.startAddress, true)) {
            FailStop(UpdateOutcome::BadInput, m_own.Message(), "failed",
                     {Cause::BootFolder, m_own.Detail()});
        }
    }

    [[noreturn]] void FailApp(UpdateOutcome outcome, const std::string& text, const Failure& why) {
        Tell(BlinkEvent{false});
        ShowBox(true, text, kApplicationTitle, MB_ICONEXCLAMATION_OK, why);
        throw Ended{outcome};
    }

    [[noreturn]] void FailStop(UpdateOutcome outcome, const std::string& text,
                               const std::string& caption, const Failure& why) {
        Tell(BlinkEvent{false});
        ShowBox(false, text, caption, MB_ICONHAND_OK, why);
        throw Ended{outcome};
    }

    void ShowBox(bool application, const std::string& text, const std::string& caption,
                 unsigned type, const Failure& why) {
        m_result.caption = caption;
        m_result.message = text;
        m_result.cause = why.cause;
        m_result.reason = why.reason;
        Tell(EndingEvent{application, caption, text, type, why.cause, why.reason});
        ReleaseLock();
    }

    void ReleaseLock() {
        if (m_lock.owns_lock()) {
            m_lock.unlock();
        }
    }

    // A stop request ends the update at once, with no message: the window or
    // terminal that asked for it is going away.
    void CheckStop() const {
        if (m_stop.stop_requested()) {
            throw Ended{UpdateOutcome::Cancelled};
        }
    }

    void Pause(std::chrono::milliseconds length) {
        std::unique_lock<std::mutex> guard(m_pauseMutex);
        m_pauseWake.wait_for(guard, m_stop, length, [] { return false; });
        CheckStop();
    }

    const PacketSeries& Series() const { return m_shared != nullptr ? *m_shared : m_own; }

    std::uint64_t SeriesSize(int first, int last) const {
        std::uint64_t size = 0;
        for (int i = first; i <= last; ++i) {
            auto number = static_cast<std::uint32_t>(i);
            File* file = Series().Held(number);
            try {
                size += file != nullptr ? file->GetLength()
                                        : FileSizeAt(Series().FileName(number)).value_or(0);
            } catch (const FileError&) {
            }
        }
        return size;
    }

    UpdateListener& m_listener;
    const UpdateRequest& m_request;
    // Declared before what it guards: a cancelled update lets go of its lock
    // only once its files are gone and its port is closed.
    std::unique_lock<std::timed_mutex> m_lock;
    std::stop_token m_stop;
    const PacketSeries* m_shared;  // built beforehand for several boxes, or none
    UpdateResult& m_result;
    // The update's own series, when none was built beforehand; declared
    // before the port, so that the port closes first, then its files go
    // and the folder's lock last.
    PacketSeries m_own;
    SerialPort m_port;
    Sha256 m_sent;  // of the records sent before the execute command
    bool m_digesting = true;
    std::uint32_t m_fileCount = 0;
    std::uint64_t m_bytesSent = 0;  // of files 2 to N, for the progress
    std::uint64_t m_bytesTotal = 0;
    std::uint64_t m_boxBytes = 0;  // every byte the box received
    std::size_t m_warningsPassed = 0;
    std::mutex m_pauseMutex;
    std::condition_variable_any m_pauseWake;
};

}  // namespace

std::vector<std::string> WidestStatusTexts() {
    // The counters at their longest: any int for the file numbers, 16 bits
    // for the sectors, 28 bits burnt of a total that may be negative.
    std::vector<std::string> texts = {
        kWaitingText, kExecSentText,
        Format(kDownloadFormat, std::numeric_limits<int>::max(), std::numeric_limits<int>::max()),
        Format(kEraseFormat, 65535, 65535),
        Format(kBurnFormat, 0x0FFFFFFF, std::numeric_limits<int>::min())};
    for (std::string& text : texts) {
        // After "(step n/3) ": the step's own number is no counter.
        std::size_t counters = text.rfind("(step", 0) == 0 ? text.find(')') : 0;
        std::replace_if(
            text.begin() + static_cast<std::ptrdiff_t>(counters), text.end(),
            [](unsigned char c) { return std::isdigit(c) != 0; }, '#');
    }
    return texts;
}

UpdateOutcome UpdateWorker::Run(UpdateListener& listener, const UpdateRequest& request,
                                std::stop_token stop) {
    auto start = Clock::now();
    UpdateResult result;
    {
        UpdateSession session(listener, request, std::move(stop), result);
        result.outcome = session.Execute();
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    listener.On(FinishedEvent{result});
    return result.outcome;
}

}  // namespace quillon
