// Several boxes from one build: lines at once, and a station that keeps
// flashing, through the built quillon-cli against emulated boxes in a
// process of their own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

#include "sim/box_emulator.h"
#include "tests/cleanup_checks.h"
#include "tests/faults/cli_process.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::CliProcess;
using testing::SilentLine;
using testing::TempDir;

class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_boot.Write("c_bus.txt", "1234\n5678\n");
        m_boot.Write("init_uploads.txt", "80000000\nload.bin\n");
        m_boot.Write("load.bin", std::string(3000, 'u'));
    }

    std::vector<std::string> Flash(std::vector<std::string> extra) const {
        std::vector<std::string> arguments = {
            "flash",         "--progress",   "plain", "--settings", m_home / "quillon.INI",
            "--boot-folder", m_boot.Folder()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    // `box --count N`, each box on PREFIXk; the boxes' own summary comes at the end.
    std::unique_ptr<CliProcess> Boxes(int count, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"box", "--count", std::to_string(count), "--link",
                                              m_home / "box"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        auto boxes = std::make_unique<CliProcess>(arguments);
        for (int i = 0; i < 1000 && !std::filesystem::exists(Box(count - 1)); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(std::filesystem::exists(Box(count - 1))) << boxes->Err();
        return boxes;
    }

    std::string Box(int k) const { return m_home / ("box" + std::to_string(k)); }

    bool PacketFilesLeft() const { return testing::PacketFilesIn(m_boot.Folder()); }

    TempDir m_boot;
    TempDir m_home;
};

// One box rejects a record: the others get the whole series, the failure is
// named in the summary, and the exit code is that failure's.
TEST_F(StationTest, OneLineFailsAndTheOthersGoThrough) {
    auto boxes = Boxes(3, {"--on", "1", "--reject-record", "3"});
    CliProcess flash(Flash({"--device", Box(0), "--device", Box(1), "--device", Box(2)}));
    EXPECT_EQ(flash.Finish(), 4) << flash.Out() << flash.Err();
    std::string out = flash.Out();
    EXPECT_TRUE(std::regex_search(out, std::regex("Using 3 lines \\(.*\\) at 115200 baud"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("  " + Box(1) +
                                                  "  failed +Download Failed CheckSum/Timeout: "
                                                  "Please check your serial connection  exit 4")))
        << out;
    for (int k : {0, 2}) {
        EXPECT_TRUE(std::regex_search(out, std::regex("  " + Box(k) + "  ok +Success: "))) << k;
    }
    EXPECT_FALSE(PacketFilesLeft());
    boxes->Signal(SIGTERM);
    ASSERT_EQ(boxes->Finish(), 0);
    // The series (5 records) reached both good boxes, byte for byte the same count.
    std::smatch first;
    std::string summary = boxes->Out();
    ASSERT_TRUE(std::regex_search(
        summary, first,
        std::regex("box 0: 1 session\\(s\\), 5 record\\(s\\), 0 rejected, ([0-9]+) bytes")))
        << summary;
    EXPECT_NE(summary.find("box 2: 1 session(s), 5 record(s), 0 rejected, " + first[1].str()),
              std::string::npos)
        << summary;
}

// Ctrl+C with one line burning and one still waiting for its box: both end,
// the burning one says its box goes on, and nothing is left.
TEST_F(StationTest, InterruptEndsEveryLineInItsPhase) {
    auto boxes = Boxes(1, {"--burn-ms", "12000"});
    SilentLine waiting;
    CliProcess flash(Flash({"--device", Box(0), "--device", waiting.Device()}));
    ASSERT_TRUE(flash.WaitForOutput(Box(0) + ": (step 3/3)")) << flash.Out();
    flash.Signal(SIGINT);
    EXPECT_EQ(flash.Finish(10s), 130) << flash.Out() << flash.Err();
    EXPECT_NE(flash.Err().find(Box(0) + ": The box goes on erasing and burning by itself"),
              std::string::npos)
        << flash.Err();
    EXPECT_EQ(flash.Err().find(waiting.Device() + ": The box goes on"), std::string::npos);
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_TRUE(testing::PortReleased(waiting.Device()));
}

// A station: box after box on one line, each logged as it ends; a kill
// loses nothing that was logged.
TEST_F(StationTest, RepeatLogsEveryBoxAndAKillLosesNone) {
    auto boxes = Boxes(1);
    std::string log = m_home / "results.jsonl";
    {
        CliProcess station(Flash({"--device", Box(0), "--repeat", "--count", "2", "--log", log}));
        EXPECT_EQ(station.Finish(), 0) << station.Out() << station.Err();
        EXPECT_NE(station.Out().find("2 boxes: 2 ok, 0 failed"), std::string::npos)
            << station.Out();
    }
    CliProcess station(Flash({"--device", Box(0), "--repeat", "--log", log}));
    auto logged = [&log] {
        std::string text = TempDir::ReadFile(log);
        return std::count(text.begin(), text.end(), '\n');
    };
    for (int i = 0; i < 6000 && logged() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    station.Signal(SIGKILL);
    station.Finish();
    std::ifstream lines(log);
    std::string line;
    std::regex entry(R"(\{"schema":1,"start":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{12}Z",.*)"
                     R"("verdict":"ok","caption":"Success",)"
                     R"("message":"Successful to update flash! STB has restarted ","exit":0\})");
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, entry)) << line;
        ++count;
    }
    EXPECT_GE(count, 3);
}

// Mended: under --repeat an adapter pulled out between boxes counted as a
// failed box. It is no box: the slot says the adapter went, waits for it
// to come back under the same name, and goes on.
TEST_F(StationTest, AdapterPulledOutAndPluggedInAgainIsNoBox) {
    std::string log = m_home / "results.jsonl";
    std::string socket = m_home / "adapter";
    auto plugIn = [&socket] {
        auto box = std::make_unique<sim::BoxEmulator>(sim::BoxOptions{});
        std::string error;
        EXPECT_TRUE(box->OpenPty(&error)) << error;
        std::filesystem::remove(socket);
        std::filesystem::create_symlink(box->DevicePath(), socket);
        box->Start();
        return box;
    };
    auto box = plugIn();
    CliProcess station(Flash({"--device", socket, "--repeat", "--count", "2", "--log", log}));
    for (int i = 0; i < 3000 && TempDir::ReadFile(log).empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    box.reset();  // pulled out: the line hangs up, the name goes
    std::filesystem::remove(socket);
    std::this_thread::sleep_for(2500ms);
    box = plugIn();
    EXPECT_EQ(station.Finish(), 0) << station.Out() << station.Err();
    std::string logged = TempDir::ReadFile(log);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 2) << logged;
    EXPECT_EQ(logged.find("\"verdict\":\"failed\""), std::string::npos) << logged;
    std::string err = station.Err();
    std::size_t gone = err.find("adapter gone: " + socket);
    EXPECT_NE(gone, std::string::npos) << err;
    EXPECT_EQ(err.find("adapter gone", gone + 1), std::string::npos) << "said once";
}

// Boxes without power until their reset command names them: each is woken
// by its own, once; a command that fails ends the update at once, as a port
// that will not open, and the box sees nothing.
TEST_F(StationTest, ResetCommandsStartTheBoxes) {
    std::string resets = m_home.Write("resets", "");
    CliProcess flash(Flash({"--simulate", "--boxes", "2", "--wait-reset", resets, "--reset-command",
                            "echo {device} >> " + resets}));
    EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
    std::string named = TempDir::ReadFile(resets);
    EXPECT_EQ(std::count(named.begin(), named.end(), '\n'), 2) << named;
    EXPECT_NE(named.find("/dev/"), std::string::npos);

    // A box that cannot be started, or named, is not flashed: it says why.
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"--reset-command", "echo no power; exit 3"},
         "the reset command echo no power; exit 3 exited with 3"},
        {{"--box-id-command", "exit 1"}, "the box identity command exit 1 exited with 1"},
        {{"--box-id-command", "true"}, "the box identity command true printed nothing"},
    };
    for (const auto& [options, reason] : failures) {
        TempDir dump;
        std::vector<std::string> arguments = {"--simulate", "--dump", dump.Folder()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        CliProcess failing(Flash(arguments));
        EXPECT_EQ(failing.Finish(10s), 2) << failing.Err();
        EXPECT_NE(failing.Err().find(reason), std::string::npos) << failing.Err();
        EXPECT_TRUE(std::filesystem::is_empty(dump.Folder())) << reason;
        EXPECT_FALSE(PacketFilesLeft());
    }
}

// Counts the lines of a file as it grows, until there are at least count.
long WaitForLines(const std::string& path, long count) {
    auto lines = [&path] {
        std::string text = TempDir::ReadFile(path);
        return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
    };
    for (int i = 0; i < 3000 && lines() < count; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return lines();
}

// A station that powers its boxes tries a failing box the times it was
// asked to, logs it once with every try, and powers it no more until the
// operator names its slot: the box is spent, not a new one each time.
TEST_F(StationTest, RetriedBoxIsOneRecordAndHeldUntilReleased) {
    std::string resets = m_home.Write("resets", "");
    std::string log = m_home / "results.jsonl";
    std::string input = m_home / "input";
    ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
    CliProcess station(
        Flash({"--simulate", "--repeat", "--retries", "2", "--reject-record", "3", "--wait-reset",
               resets, "--reset-command", "echo {device} >> " + resets, "--log", log,
               "--box-id-command", "echo SN-0042", "--operator", "ana", "--lot", "L7"}),
        [input] { ::dup2(::open(input.c_str(), O_RDWR), STDIN_FILENO); });
    ASSERT_EQ(WaitForLines(log, 1), 1) << station.Err();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(WaitForLines(resets, 0), 3) << "no fourth reset of a spent box";
    std::string record = TempDir::ReadFile(log);
    for (const char* field : {R"("box":"SN-0042","operator":"ana","lot":"L7")", R"("attempts":3)",
                              R"("verdict":"failed","cause":"record_rejected")"}) {
        EXPECT_NE(record.find(field), std::string::npos) << field << "\n" << record;
    }
    EXPECT_NE(station.Err().find("held: replace the box"), std::string::npos) << station.Err();
    // A new box is in: the operator types the slot's number.
    int typing = ::open(input.c_str(), O_WRONLY);
    ASSERT_EQ(::write(typing, "1\n", 2), 2);
    ::close(typing);
    EXPECT_EQ(WaitForLines(resets, 4), 4);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Finish(), 143) << station.Err();
    EXPECT_FALSE(PacketFilesLeft());

    // A box that fails once and then goes through is one good box of two tries.
    std::string once = m_home / "once.jsonl";
    CliProcess retried(Flash({"--simulate", "--repeat", "--count", "1", "--retries", "1",
                              "--reject-record", "3", "--faulty-sessions", "1", "--log", once}));
    EXPECT_EQ(retried.Finish(), 0) << retried.Out() << retried.Err();
    std::string good = TempDir::ReadFile(once);
    EXPECT_EQ(std::count(good.begin(), good.end(), '\n'), 1) << good;
    EXPECT_NE(good.find(R"("attempts":2,"tries":[{"cause":"record_rejected")"), std::string::npos)
        << good;
    EXPECT_NE(good.find(R"("verdict":"ok")"), std::string::npos) << good;
}

// A station stopped after a box failed ends with the signal's code, and its
// summary counts the box it cancelled apart from the one that failed.
TEST_F(StationTest, StoppedStationExitsWithItsSignal) {
    auto boxes = Boxes(2, {"--on", "0", "--reject-record", "3", "--burn-ms", "12000"});
    std::string log = m_home / "results.jsonl";
    CliProcess station(Flash({"--device", Box(0), "--device", Box(1), "--repeat", "--log", log}));
    ASSERT_GE(WaitForLines(log, 1), 1) << station.Err();
    ASSERT_TRUE(station.WaitForOutput(Box(1) + ": (step 3/3)")) << station.Out();
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Finish(), 143) << station.Out() << station.Err();
    EXPECT_TRUE(std::regex_search(
        station.Out(), std::regex("  " + Box(1) + " +1 boxes: 0 ok, 0 failed, 1 cancelled")))
        << station.Out();
    EXPECT_TRUE(
        std::regex_search(station.Out(), std::regex("  " + Box(0) + " +[0-9]+ boxes: 0 ok")))
        << station.Out();
    boxes->Signal(SIGTERM);
    boxes->Finish();
}

// Traces that fit a day: only the box that failed keeps its trace, and its
// record names it; the good boxes' records name none.
TEST_F(StationTest, TraceKeepFailedKeepsOnlyTheFailedBoxsTrace) {
    auto boxes = Boxes(4, {"--on", "3", "--reject-record", "3"});
    std::string log = m_home / "results.jsonl";
    std::string traces = m_home / "traces";
    std::filesystem::create_directory(traces);
    CliProcess flash(
        Flash({"--device", Box(0), "--device", Box(1), "--device", Box(2), "--device", Box(3),
               "--trace-dir", traces, "--trace-keep", "failed", "--log", log}));
    EXPECT_EQ(flash.Finish(), 4) << flash.Out() << flash.Err();
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(traces)) {
        kept.push_back(entry.path().string());
    }
    ASSERT_EQ(kept.size(), 1u);
    std::ifstream lines(log);
    int good = 0;
    for (std::string line; std::getline(lines, line);) {
        bool failed = line.find(R"("verdict":"failed")") != std::string::npos;
        good += failed ? 0 : 1;
        EXPECT_EQ(line.find(R"("trace":")" + kept.front() + "\"") != std::string::npos, failed)
            << line;
        EXPECT_EQ(line.find(R"("trace")") != std::string::npos, failed) << line;
    }
    EXPECT_EQ(good, 3);
    boxes->Signal(SIGTERM);
    boxes->Finish();
}

// A station whose output goes to a journal says a line when a box starts
// and one with its verdict, not each status of each box.
TEST_F(StationTest, PipedStationWritesFewLinesABox) {
    auto boxes = Boxes(2, {"--on", "1", "--reject-record", "3"});
    std::string log = m_home / "results.jsonl";
    CliProcess station({"flash", "--settings", m_home / "quillon.INI", "--boot-folder",
                        m_boot.Folder(), "--device", Box(0), "--device", Box(1), "--repeat",
                        "--count", "6", "--log", log});
    EXPECT_EQ(station.Finish(), 4) << station.Out() << station.Err();
    const std::string all = station.Out() + station.Err();
    const long records = WaitForLines(log, 6);
    const long lines = static_cast<long>(std::count(all.begin(), all.end(), '\n'));
    // A line a box starts and one a verdict; the first line and the summary.
    EXPECT_LE(lines, 2 * records + 4) << all;
    EXPECT_TRUE(std::regex_search(all, std::regex(": box started\n"))) << all;
    EXPECT_TRUE(std::regex_search(all, std::regex(": box ok, [0-9.]+ s\n"))) << all;
    EXPECT_TRUE(std::regex_search(
        all, std::regex(": box failed, record_rejected: [^\n]*record 0003[^\n]*, [0-9.]+ s\n")))
        << all;
    boxes->Signal(SIGTERM);
    boxes->Finish();
}

}  // namespace
}  // namespace quillon
