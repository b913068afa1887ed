#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/latency_timer.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

#ifndef _WIN32
// A reset command: its lines are heard, its exit status told, and one that
// runs too long is ended together with what it started.
TEST(ShellCommand, OutputExitStatusAndTimeLimit) {
    std::vector<std::string> lines;
    auto hear = [&lines](const std::string& line) { lines.push_back(line); };
    CommandResult ok = RunShellCommand("echo one; echo two >&2", 5s, {}, hear);
    EXPECT_TRUE(ok.Succeeded());
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));

    CommandResult failed = RunShellCommand("exit 3", 5s, {}, {});
    EXPECT_FALSE(failed.Succeeded());
    EXPECT_EQ(failed.Outcome(), "exited with 3");

    TempDir dir;
    std::string pidFile = dir / "helper";
    CommandResult late = RunShellCommand(
        "sleep 30 & echo $! > " + *QuoteForShell(pidFile) + "; sleep 30", 300ms, {}, {});
    EXPECT_TRUE(late.timedOut);
    // Killed, it is gone or a zombie that init has yet to reap.
    std::string stat =
        "/proc/" + dir.Read("helper").substr(0, dir.Read("helper").find('\n')) + "/stat";
    auto running = [&stat] {
        std::string text = TempDir::ReadFile(stat);
        std::size_t close = text.rfind(')');
        return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
    };
    for (int i = 0; i < 100 && running(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(running()) << "what the command started outlived it";

    std::vector<std::string> words;
    RunShellCommand("printf '%s\\n' " + *QuoteForShell("a'b $(id) \"c\""), 5s, {},
                    [&words](const std::string& line) { words.push_back(line); });
    EXPECT_EQ(words, (std::vector<std::string>{"a'b $(id) \"c\""}));
}

// The adapter's latency timer is lowered while the port is held and put
// back after, on a device tree of the test's own.
TEST(LatencyTimer, LoweredAndRestored) {
    TempDir sysfs;
    TempDir devices;
    std::string device = devices.Write("ttyUSB7", "");
    std::filesystem::create_directories(sysfs / "bus/usb-serial/devices/ttyUSB7");
    sysfs.Write("bus/usb-serial/devices/ttyUSB7/latency_timer", "16\n");
    LatencyTimer timer(sysfs.Folder());
    EXPECT_EQ(timer.Current(device), 16);
    EXPECT_TRUE(timer.Lower(device));
    EXPECT_EQ(sysfs.Read("bus/usb-serial/devices/ttyUSB7/latency_timer"), "1\n");
    timer.Restore();
    EXPECT_EQ(sysfs.Read("bus/usb-serial/devices/ttyUSB7/latency_timer"), "16\n");
    sysfs.Write("bus/usb-serial/devices/ttyUSB7/latency_timer", "1\n");
    EXPECT_FALSE(timer.Lower(device));  // nothing to gain
    EXPECT_EQ(timer.Current(devices / "ttyUSB8"), std::nullopt);
}
#endif

}  // namespace
}  // namespace quillon
