// Turnaround: the time from a box's status reply to the first byte of the
// next file, seen from the box's end of a pseudo-terminal.
//
// The tool (the update worker, as `quillon-cli flash` runs it) opens one
// pty; a relay holds that pty's other end and passes every byte on to the
// unpaced box emulator on a second pty. The relay stands where the box's
// port would be: it notes when it hands a status reply to the tool and when
// the tool's next record reaches it, so the figure holds the tool's wake-up,
// its work between files and both pty crossings, but not the emulator's own
// time to answer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/update_view.h"
#include "engine/update_worker.h"
#include "sim/box_emulator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kStatusSync = 0xAA;
constexpr std::uint8_t kExecCommand = 0x09;

class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillon-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool Ok() const { return !m_path.empty(); }
    std::string Path(const std::string& name) const { return (m_path / name).string(); }
    std::string Folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

// A boot folder of `count` small uploads: one turnaround per file.
bool MakeBootFolder(const TempFolder& folder, int count) {
    std::ofstream(folder.Path("c_bus.txt")) << "1234\n00ff\n";
    std::ofstream list(folder.Path("init_uploads.txt"));
    list << "80000000\n";
    for (int i = 0; i < count; ++i) {
        std::string name = "up" + std::to_string(i) + ".bin";
        std::ofstream(folder.Path(name), std::ios::binary) << std::string(16, static_cast<char>(i));
        list << name << "\n";
    }
    return static_cast<bool>(list);
}

// Keeps the ending message, for a run that fails.
class BenchView : public quillon::UpdateListener {
public:
    std::string bootFolder;
    std::string device;
    std::string message;

    void On(const quillon::UpdateEvent& event) override {
        if (const auto* ending = std::get_if<quillon::EndingEvent>(&event)) {
            message = ending->caption + ": " + ending->message;
        }
    }
    quillon::UpdateRequest Request() const {
        quillon::UpdateRequest request;
        request.bootFolder = bootFolder;
        request.startAddress = 0x80000000;
        request.baudRate = 921600;
        request.device = device;
        request.waitLimit = 10s;
        return request;
    }
};

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t put = ::write(fd, bytes + done, count - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, 10);
        }
    }
    return true;
}

struct Sample {
    double micros;
    int code;  // command code of the record that followed the reply
};

// The box's end of the tool's pty, passing bytes on to the emulator.
class Relay {
public:
    Relay(int toolEnd, std::string boxDevice)
        : m_toolEnd(toolEnd), m_boxDevice(std::move(boxDevice)) {}
    ~Relay() {
        Stop();
        if (m_boxEnd >= 0) {
            ::close(m_boxEnd);
        }
    }

    void Start() {
        m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    void Stop() {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
    }
    std::vector<Sample> Samples() const {
        std::lock_guard lock(m_mutex);
        return m_samples;
    }

private:
    void Run(std::stop_token stop) {
        // The emulator says it is ready as soon as its line opens, so the
        // line is opened once the tool holds its end.
        while (!stop.stop_requested()) {
            pollfd tool{m_toolEnd, POLLIN, 0};
            ::poll(&tool, 1, 5);
            if (!(tool.revents & POLLHUP)) {
                break;
            }
        }
        m_boxEnd = ::open(m_boxDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_boxEnd < 0) {
            return;
        }
        std::uint8_t buffer[4096];
        std::optional<Clock::time_point> replied;
        while (!stop.stop_requested()) {
            pollfd fds[2] = {{m_boxEnd, POLLIN, 0}, {m_toolEnd, POLLIN, 0}};
            if (::poll(fds, 2, 10) <= 0) {
                continue;
            }
            auto now = Clock::now();
            if (fds[1].revents & POLLIN) {
                ssize_t got = ::read(m_toolEnd, buffer, sizeof buffer);
                if (got > 0) {
                    if (replied) {
                        int code = got >= 2 ? buffer[1] : -1;
                        std::lock_guard lock(m_mutex);
                        m_samples.push_back(
                            {std::chrono::duration<double, std::micro>(now - *replied).count(),
                             code});
                        replied.reset();
                    }
                    WriteAll(m_boxEnd, buffer, static_cast<std::size_t>(got));
                }
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                return;  // the tool has closed its port
            }
            if (fds[0].revents & POLLIN) {
                ssize_t got = ::read(m_boxEnd, buffer, sizeof buffer);
                if (got > 0) {
                    auto handed = Clock::now();
                    WriteAll(m_toolEnd, buffer, static_cast<std::size_t>(got));
                    if (buffer[0] == kStatusSync) {
                        replied = handed;
                    }
                }
            }
        }
    }

    int m_toolEnd;
    std::string m_boxDevice;
    int m_boxEnd = -1;
    mutable std::mutex m_mutex;
    std::vector<Sample> m_samples;
    std::jthread m_thread;
};

// The tool's pty; its other end stays with the relay.
struct ToolPty {
    int master = -1;
    std::string device;

    ToolPty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128] = {};
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, name, sizeof name) != 0) {
            return;
        }
        device = name;
        // Raw before the tool opens it, as the emulator does with its own.
        int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (slave >= 0 && ::tcgetattr(slave, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(slave, TCSANOW, &settings);
        }
        if (slave >= 0) {
            ::close(slave);
        }
    }
    ~ToolPty() {
        if (master >= 0) {
            ::close(master);
        }
    }
    ToolPty(const ToolPty&) = delete;
    ToolPty& operator=(const ToolPty&) = delete;
};

struct UpdateResult {
    std::string error;
    double seconds = 0;
    std::vector<double> turnarounds;  // microseconds
};

UpdateResult RunUpdate(int files) {
    UpdateResult result;
    TempFolder folder;
    if (!folder.Ok() || !MakeBootFolder(folder, files)) {
        result.error = "cannot make the boot folder";
        return result;
    }
    quillon::sim::BoxOptions options;  // unpaced
    options.eraseTime = 10ms;
    options.burnTime = 10ms;
    quillon::sim::BoxEmulator box(options);
    ToolPty pty;
    if (pty.device.empty() || !box.OpenPty(&result.error)) {
        result.error = "cannot open the ptys " + result.error;
        return result;
    }
    box.Start();
    Relay relay(pty.master, box.DevicePath());
    relay.Start();

    BenchView view;
    view.bootFolder = folder.Folder();
    view.device = pty.device;
    auto start = Clock::now();
    quillon::UpdateOutcome outcome = quillon::UpdateWorker::Run(view, view.Request());
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    relay.Stop();
    box.Stop();
    if (outcome != quillon::UpdateOutcome::Success) {
        result.error = "the update failed: " + view.message;
        return result;
    }
    // The first two replies are followed by the handshake file and by the
    // build of the whole series, the last by the execute command: only the
    // turnarounds between the files of the download count.
    std::vector<Sample> samples = relay.Samples();
    for (std::size_t i = 2; i < samples.size(); ++i) {
        if (samples[i].code != kExecCommand) {
            result.turnarounds.push_back(samples[i].micros);
        }
    }
    return result;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void BM_Turnaround(benchmark::State& state) {
    std::vector<double> all;
    for (auto _ : state) {
        UpdateResult result = RunUpdate(static_cast<int>(state.range(0)));
        if (!result.error.empty()) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        state.SetIterationTime(result.seconds);
        all.insert(all.end(), result.turnarounds.begin(), result.turnarounds.end());
    }
    state.counters["samples"] = static_cast<double>(all.size());
    state.counters["median_us"] = Percentile(all, 0.5);
    state.counters["p99_us"] = Percentile(all, 0.99);
    state.counters["max_us"] = Percentile(all, 1.0);
}
BENCHMARK(BM_Turnaround)->Arg(300)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
