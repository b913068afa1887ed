#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "engine/update_view.h"

namespace quillon::cli {

// The working values of one command-line update.
struct FlashConfig {
    std::string bootFolder;
    std::uint32_t startAddress = 0x800001A0;
    int baudRate = 115200;
    int comPort = 1;
    PortMap ports;
    std::string projectPath;
    std::string imagePath;
    std::optional<std::chrono::milliseconds> waitLimit;
};

enum class ProgressStyle { Human, Plain, Jsonl };

// A screen that several lines share: on a terminal each line has a row of
// its own, redrawn in place, and notes go above the rows.
class LineScreen {
public:
    virtual ~LineScreen() = default;
    virtual void Row(const std::string& text) = 0;
    virtual void Note(const std::string& text) = 0;
};

// Shows an update in a terminal or to a script: the status texts, the bar,
// and the ending message as the final line. Everything goes through the
// console output, so the worker never waits for the reader.
class TerminalView : public UpdateView {
public:
    // columns: the terminal's width, 0 when unknown (80 is taken then).
    TerminalView(FlashConfig config, ProgressStyle style, ConsoleOutput& out, int columns = 0);

    std::timed_mutex& UpdateMutex() override { return m_updateMutex; }
    void EnableUpdateButton(bool) override {}
    void StartBusy(unsigned) override {}
    void StopBusy(unsigned) override {}
    void SetStatusText(const std::string& text) override;
    void SetStatusBlink(bool) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int pos) override;
    void AppMessageBox(const std::string& text) override;
    void WindowMessageBox(const std::string& text, const std::string& caption,
                          unsigned type) override;
    std::string BootFolder() const override { return m_config.bootFolder; }
    std::uint32_t StartAddress() const override { return m_config.startAddress; }
    int BaudRate() const override { return m_config.baudRate; }
    int ComPort() const override { return m_config.comPort; }
    PortMap Ports() const override { return m_config.ports; }
    std::string ProjectPath() const override { return m_config.projectPath; }
    std::string ImagePath() const override { return m_config.imagePath; }
    std::optional<std::chrono::milliseconds> BootWaitLimit() const override {
        return m_config.waitLimit;
    }
    void BytesSent(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
                   bool fileDone) override;
    void FailureDetail(const std::string& detail) override { m_detail = detail; }
    void Warning(const std::string& text) override;
    // The first line: what the update uses (in jsonl, a "using" event).
    void Using(const std::string& line, const std::string& device, std::uint32_t files,
               std::uint64_t bytes);
    LineTrace* Trace() override { return m_trace; }
    void SetTrace(LineTrace* trace) { m_trace = trace; }

    // One of several lines: plain lines start with the device and jsonl
    // events name it; on a terminal the row is drawn by the screen (when
    // given), to a width of columns.
    void JoinLines(std::string device, LineScreen* screen);
    // Ends the progress display and prints the ending message, if any.
    void Finish(bool cancelled);
    // The ending, once Finish has run: caption and message.
    std::string Caption() const;
    std::string Message() const;
    // Bytes of the series written to the box so far.
    std::uint64_t BytesWritten() const;
    // A warning on the error stream, in its turn with the rest of the output.
    void Warn(const std::string& text);
    // Since when the update has waited for the boot loader; none while it
    // does something else. Read from another thread than the worker's.
    std::optional<std::chrono::steady_clock::time_point> WaitingSince() const;
    // Redraws the progress while the worker waits for the line to carry
    // what it wrote; called from another thread. How soon it wants the
    // next call, none when it has nothing to redraw.
    std::optional<std::chrono::milliseconds> Tick();
    // Whether the wait for the boot loader is over.
    bool PastWaiting() const { return m_pastWaiting; }

private:
    void ShowHuman(bool force);
    void EmitJson(const char* event);
    // The start of a jsonl event: its name, and the device when several lines run.
    std::string JsonStart(const char* event) const;
    std::string Prefix() const { return m_device.empty() ? "" : m_device + ": "; }
    void ShowMessage(const std::string& text, const std::string& caption);
    double Rate(std::chrono::steady_clock::time_point now) const;
    std::uint64_t Reached(std::chrono::steady_clock::time_point now) const;
    int ShownPosition(std::chrono::steady_clock::time_point now) const;

    FlashConfig m_config;
    ProgressStyle m_style;
    ConsoleOutput& m_out;
    std::size_t m_columns;
    std::string m_lastPhase;
    std::vector<std::string> m_warnings;          // each said once
    std::atomic<std::int64_t> m_waitingSince{0};  // steady clock ticks, 0: not waiting
    std::atomic<bool> m_pastWaiting{false};
    std::timed_mutex m_updateMutex;
    std::string m_status;
    int m_position = 0;
    // The worker's thread and the one that ticks both draw.
    mutable std::mutex m_stateMutex;
    std::uint64_t m_sent = 0;     // written to the port
    std::uint64_t m_reached = 0;  // of those, on the line when last told
    std::chrono::steady_clock::time_point m_toldAt{};
    std::uint64_t m_total = 0;
    std::chrono::steady_clock::time_point m_firstByte{};
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::chrono::steady_clock::time_point m_lastBytesEvent{};
    bool m_lineOpen = false;
    std::string m_messageText;
    std::string m_messageCaption;
    std::string m_detail;
    LineTrace* m_trace = nullptr;
    std::string m_device;
    LineScreen* m_screen = nullptr;
};

// The phase that a status text belongs to: wait, prepare, download, execute, erase, burn, end.
const char* PhaseOf(const std::string& status);

// The text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

}  // namespace quillon::cli
