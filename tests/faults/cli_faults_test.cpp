// The fault matrix of docs/reliability.md, through the built quillon-cli as
// a user runs it: the box emulator on a pseudo-terminal, real file systems,
// real signals. Each fault must end with its message and exit code, in
// bounded time, with no packet file left behind.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>

#include "tests/cleanup_checks.h"
#include "tests/faults/cli_process.h"
#include "tests/faults/small_file_system.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::CliProcess;
using testing::SilentLine;
using testing::SmallFileSystem;
using testing::TempDir;

const std::string kCheck = "Please check your serial connection";
const std::string kCancelled = "Cancelled: Update cancelled; packet files removed, port released";
constexpr uid_t kNobody = 65534;

class CliFaults : public ::testing::Test {
protected:
    void SetUp() override {
        // Files 0001 and 0002 (the bus group twice), 0003 (the upload),
        // 0004 (the execute address); the execute command is record 5.
        m_boot.Write("c_bus.txt", "1234\n5678\n");
        m_boot.Write("init_uploads.txt", "80000000\nload.bin\n");
        m_boot.Write("load.bin", Upload());
    }

    static std::string Upload() {
        std::string bytes(3000, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7 + 1);
        }
        return bytes;
    }

    std::vector<std::string> FlashArguments(std::vector<std::string> extra,
                                            const std::string& boot = "") const {
        std::vector<std::string> arguments = {"flash",
                                              "--progress",
                                              "plain",
                                              "--settings",
                                              m_home / "quillon.INI",
                                              "--boot-folder",
                                              boot.empty() ? m_boot.Folder() : boot};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    bool PacketFilesLeft() const { return testing::PacketFilesIn(m_boot.Folder()); }

    TempDir m_boot;
    TempDir m_home;
};

// Each fault of the box or the line ends with its exit code and message,
// and says why: its cause in the record, its reason (naming the record where
// one is involved) on stderr and in the record alike.
TEST_F(CliFaults, BoxFaultsEndWithTheirCodeMessageAndCause) {
    struct Case {
        std::vector<std::string> options;
        int exitCode;
        std::string lastLine;
        std::string cause;
        std::string reason;  // a part of it
    };
    const std::string download = "Download Failed CheckSum/Timeout: " + kCheck;
    const Case cases[] = {
        {{"--reject-record", "3"}, 4, download, "record_rejected", "rejected record 0003"},
        {{"--silent-record", "3"}, 4, download, "no_reply", "no reply to record 0003"},
        // unplugged right after the handshake file
        {{"--hang-up-after", "1"}, 4, "Connect Failed: " + kCheck, "line_lost", "record 0001"},
        // unplugged after the execute command: the flash may be half written
        {{"--hang-up-after", "5"},
         5,
         "Burn Failed: " + kCheck,
         "line_lost_erasing",
         "after the execute command"},
        {{"--silent-after-exec"},
         5,
         "Burn Failed: " + kCheck,
         "silent_erasing",
         "did not begin to erase"},
        {{"--report-failure"},
         6,
         "Failed: Failed to update flash! Please check your setting ",
         "box_reported_failure",
         "reported that the update failed"},
        // silent about the handshake file: by design the update goes on
        {{"--no-handshake-verdict"},
         0,
         "Success: Successful to update flash! STB has restarted ",
         "",
         ""},
        // noise before every reply and report, cut progress frames
        {{"--noise", "40", "--partial-frames"},
         0,
         "Success: Successful to update flash! STB has restarted ",
         "",
         ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = c.options;
        const std::string log = m_home / ("log-" + c.options[0].substr(2) + c.options.back());
        options.insert(options.begin(), {"--simulate", "--log", log});
        CliProcess flash(FlashArguments(options));
        EXPECT_EQ(flash.Finish(), c.exitCode) << c.options[0] << "\n" << flash.Out() << flash.Err();
        EXPECT_EQ(flash.LastLine(), c.lastLine) << c.options[0];
        EXPECT_FALSE(PacketFilesLeft()) << c.options[0];
        std::ifstream file(log);
        std::string record((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
        if (c.cause.empty()) {
            EXPECT_EQ(record.find("\"cause\""), std::string::npos) << record;
            continue;
        }
        EXPECT_NE(record.find("\"cause\":\"" + c.cause + "\""), std::string::npos) << record;
        EXPECT_NE(record.find(c.reason), std::string::npos) << record;
        EXPECT_NE(flash.Err().find(c.reason), std::string::npos) << flash.Err();
    }
}

// A driver that refuses the line settings: the port is refused, as a port
// that will not open, before a byte goes out on a line set up otherwise.
TEST_F(CliFaults, LineSettingsTheDriverRefusesAreNoPort) {
    SilentLine line;
    CliProcess flash(FlashArguments({"--device", line.Device()}), [] {
        ::setenv("LD_PRELOAD", REFUSING_DRIVER, 1);
        ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    });
    EXPECT_EQ(flash.Finish(), 2) << flash.Err();
    EXPECT_NE(flash.Err().find("the driver refuses the line settings"), std::string::npos)
        << flash.Err();
    EXPECT_EQ(line.Written(), 0);
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(CliFaults, SilentOrUnpluggedWhileWaitingForTheBootLoader) {
    {
        // Silent: the wait is for ever by design, unless a limit is given.
        SilentLine line;
        CliProcess flash(FlashArguments({"--device", line.Device(), "--wait-timeout", "0.5"}));
        EXPECT_EQ(flash.Finish(), 4) << flash.Out() << flash.Err();
        EXPECT_EQ(flash.LastLine(), "Connect Failed: " + kCheck);
    }
    SilentLine line;
    CliProcess flash(FlashArguments({"--device", line.Device()}));
    ASSERT_TRUE(flash.WaitForOutput("Waiting connection,Press reset button..."));
    line.Unplug();
    EXPECT_EQ(flash.Finish(), 4) << flash.Out() << flash.Err();
    EXPECT_EQ(flash.LastLine(), "Connect Failed: " + kCheck);
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(CliFaults, PortBusyOrForbidden) {
    SilentLine line;
    {
        // Held by another program: its exclusive lock.
        int holder = ::open(line.Device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        CliProcess flash(FlashArguments({"--device", line.Device()}));
        EXPECT_EQ(flash.Finish(), 2);
        ::close(holder);
        EXPECT_EQ(flash.LastLine(), "quillon: Failed to open serial port!");
        EXPECT_NE(flash.Err().find("Device or resource busy"), std::string::npos) << flash.Err();
        EXPECT_NE(flash.Err().find("hint: " + line.Device() + " is held by process"),
                  std::string::npos)
            << flash.Err();
    }
    {
        // No access for the user: root is made an ordinary user for the run,
        // who may use the boot folder but not the port; only root may open it.
        ASSERT_EQ(::chmod(m_boot.Folder().c_str(), 0777), 0);
        ASSERT_EQ(::chmod(line.Device().c_str(), 0), 0);
        CliProcess flash(FlashArguments({"--device", line.Device()}), [] {
            if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
                ::_exit(CliProcess::kNotStarted);
            }
        });
        int code = flash.Finish();
        if (code == CliProcess::kNotStarted) {
            GTEST_SKIP() << "the program cannot be run by an ordinary user from here";
        }
        EXPECT_EQ(code, 2) << flash.Err();
        EXPECT_EQ(flash.LastLine(), "quillon: Failed to open serial port!");
        EXPECT_NE(flash.Err().find("Permission denied"), std::string::npos) << flash.Err();
        EXPECT_NE(flash.Err().find("hint: only root can open " + line.Device() + " (mode 0000"),
                  std::string::npos)
            << flash.Err();
    }
}

// Mended: a packet file past the file size limit killed the tool with
// SIGXFSZ, leaving the series on disk without a word.
TEST_F(CliFaults, FileSizeLimitWhileWritingPacketFiles) {
    CliProcess flash(FlashArguments({"--simulate"}), [] {
        rlimit limit{2048, 2048};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_DFL);
    });
    EXPECT_EQ(flash.Finish(), 3) << "signal " << flash.TermSignal();
    EXPECT_EQ(flash.LastLine(), "quillon: Invalid input file (BOOT)!");
    EXPECT_NE(flash.Err().find("cannot write " + m_boot.Folder() + "0003: File too large\n"),
              std::string::npos)
        << flash.Err();
    EXPECT_FALSE(PacketFilesLeft());
}

// A real full file system, where the system lets the test mount one.
TEST_F(CliFaults, DiskFullWhileWritingPacketFiles) {
    // Eight pages: the inputs take five, the first packet files two.
    SmallFileSystem disk(m_home / "disk", "size=32k");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "mounting a small file system needs CAP_SYS_ADMIN";
    }
    std::string boot = m_home / "disk/";
    std::filesystem::copy(m_boot / "c_bus.txt", boot);
    std::filesystem::copy(m_boot / "init_uploads.txt", boot);
    // The upload fits, its packet file no longer does.
    m_home.Write("disk/load.bin", std::string(9000, 'u'));
    CliProcess flash(FlashArguments({"--simulate"}, boot));
    EXPECT_EQ(flash.Finish(), 3) << flash.Out() << flash.Err();
    EXPECT_EQ(flash.LastLine(), "quillon: Invalid input file (BOOT)!");
    EXPECT_NE(flash.Err().find("cannot write " + boot + "0003: No space left on device\n"),
              std::string::npos)
        << flash.Err();
    EXPECT_FALSE(testing::PacketFilesIn(boot));
}

TEST_F(CliFaults, ReadOnlyBootFolder) {
    std::optional<SmallFileSystem> readOnly;
    if (::geteuid() == 0) {
        // Root writes through any mode bits: a read-only mount it is.
        readOnly.emplace(m_boot.Folder(), m_boot.Folder(), true);
        if (!readOnly->Mounted()) {
            GTEST_SKIP() << "a read-only bind mount needs CAP_SYS_ADMIN";
        }
    } else {
        ASSERT_EQ(::chmod(m_boot.Folder().c_str(), 0555), 0);
    }
    CliProcess flash(FlashArguments({"--simulate"}));
    EXPECT_EQ(flash.Finish(), 3);
    EXPECT_EQ(flash.LastLine(), "quillon: Invalid CBUS file (BOOT)!");
    EXPECT_NE(flash.Err().find("cannot write in " + m_boot.Folder() + ": "), std::string::npos)
        << flash.Err();
    EXPECT_FALSE(PacketFilesLeft());
    if (::geteuid() != 0) {
        ::chmod(m_boot.Folder().c_str(), 0755);
    }
}

// The box takes bytes at 9600 baud, so the download of the upload's packet
// lasts seconds: long enough to pull files away under it.
TEST_F(CliFaults, UploadThatVanishesAfterTheBuildIsSentAsBuilt) {
    TempDir dump;
    CliProcess flash(FlashArguments({"--simulate", "--baud", "9600", "--dump", dump.Folder()}));
    ASSERT_TRUE(flash.WaitForOutput("(step 1/3) Downloading 0002/0004"));
    std::filesystem::remove(m_boot / "load.bin");
    EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
    std::string record = dump.Read("record-0003");
    ASSERT_EQ(record.size(), 4 + Upload().size() + 4);
    EXPECT_EQ(record.substr(4, Upload().size()), Upload());
    EXPECT_FALSE(PacketFilesLeft());
}

// What a box receives is the series that was measured: a packet file
// removed, or swapped for another record, after the build reaches no box,
// in a single update as in a station's series built beforehand.
TEST_F(CliFaults, PacketFilesSwappedDuringTheDownloadAreSentAsBuilt) {
    for (const std::vector<std::string>& station :
         {std::vector<std::string>{}, std::vector<std::string>{"--repeat", "--count", "1"}}) {
        TempDir dump;
        std::vector<std::string> options = {"--simulate", "--baud", "9600", "--dump",
                                            dump.Folder()};
        options.insert(options.end(), station.begin(), station.end());
        CliProcess flash(FlashArguments(options));
        ASSERT_TRUE(flash.WaitForOutput("(step 1/3) Downloading 0002/0004"));
        const std::string built = TempDir::ReadFile(m_boot / "0003");
        std::filesystem::remove(m_boot / "0004");
        m_boot.Write("0003.new", std::string(built.size(), 'x'));
        std::filesystem::rename(m_boot / "0003.new", m_boot / "0003");
        EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
        EXPECT_EQ(dump.Read("record-0003"), built);
        EXPECT_FALSE(PacketFilesLeft());
    }
}

// A series of hundreds of files is held open only in part: a process may
// have no more than its limit of descriptors, which a full build of
// thousands of blocks would pass.
TEST_F(CliFaults, LongSeriesStaysWithinTheDescriptorLimit) {
    std::string list = "80000000\n";
    for (int i = 0; i < 200; ++i) {
        list += "small.bin\n";
    }
    m_boot.Write("small.bin", "small");
    m_boot.Write("init_uploads.txt", list);
    CliProcess flash(FlashArguments({"--simulate", "--sector-size", "1048576"}), [] {
        rlimit few{120, 120};
        ::setrlimit(RLIMIT_NOFILE, &few);
    });
    EXPECT_EQ(flash.Finish(), 0) << flash.Err();
    EXPECT_FALSE(PacketFilesLeft());
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

TEST_F(CliFaults, HugeOrBinaryBusFile) {
    {
        // Two million values in one group: refused as soon as the group
        // outgrows a record, not after reading them all.
        std::string values;
        values.reserve(4'000'000);
        for (int i = 0; i < 2'000'000; ++i) {
            values += "1\n";
        }
        m_boot.Write("c_bus.txt", values);
        CliProcess flash(FlashArguments({"--simulate"}));
        EXPECT_EQ(flash.Finish(), 3);
        EXPECT_EQ(flash.LastLine(), "quillon: Invalid CBUS file (BOOT)!");
        EXPECT_NE(flash.Err().find("a group of more than 32765 values"), std::string::npos)
            << flash.Err();
        EXPECT_FALSE(PacketFilesLeft());
    }
    {
        // Binary noise: whatever lines start with hexadecimal digits are
        // values, and the update goes through with what they make.
        m_boot.Write("c_bus.txt", RandomBytes(16384, 7));
        CliProcess flash(FlashArguments({"--simulate"}));
        EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
        EXPECT_EQ(flash.LastLine(), "Success: Successful to update flash! STB has restarted ");
        EXPECT_FALSE(PacketFilesLeft());
    }
}

TEST_F(CliFaults, SettingsFileWithGarbageAndVeryLongLines) {
    std::string settings =
        RandomBytes(65536, 11) + "\n[BOOT]\nPathToBootFiles=" + std::string(1 << 20, 'x') +
        "\n[COMMON]\nLastSpeed=" + std::string(100000, '9') + "\n" + RandomBytes(4096, 13);
    m_home.Write("quillon.INI", settings);
    CliProcess flash(FlashArguments({"--simulate", "--baud", "115200"}));
    EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
    EXPECT_EQ(flash.LastLine(), "Success: Successful to update flash! STB has restarted ");
    EXPECT_EQ(m_home.Read("quillon.INI"), settings);  // read, never rewritten
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(CliFaults, CtrlCInEachPhase) {
    struct Phase {
        const char* name;
        std::vector<std::string> options;
        std::string shown;  // the status that says the phase is under way
        int signal;
    };
    SilentLine line;
    const Phase phases[] = {
        {"waiting", {"--device", line.Device()}, "Waiting connection", SIGINT},
        {"handshake", {"--simulate", "--silent-record", "1"}, "Now preparing...", SIGINT},
        {"download", {"--simulate", "--baud", "9600"}, "(step 1/3) Downloading 0003/0004", SIGINT},
        // Reports come well within the two seconds of silence the tool allows.
        {"erase",
         {"--simulate", "--erase-ms", "30000", "--sector-size", "64"},
         "(step 2/3)",
         SIGINT},
        {"burn", {"--simulate", "--burn-ms", "12000"}, "(step 3/3)", SIGINT},
        {"burn, terminated", {"--simulate", "--burn-ms", "12000"}, "(step 3/3)", SIGTERM},
        // Closing the terminal, losing the session, Ctrl+\.
        {"download, hung up",
         {"--simulate", "--baud", "9600"},
         "(step 1/3) Downloading 0003/0004",
         SIGHUP},
        {"download, quit",
         {"--simulate", "--baud", "9600"},
         "(step 1/3) Downloading 0003/0004",
         SIGQUIT},
    };
    for (const Phase& phase : phases) {
        CliProcess flash(FlashArguments(phase.options));
        ASSERT_TRUE(flash.WaitForOutput(phase.shown)) << phase.name << "\n" << flash.Out();
        flash.Signal(phase.signal);
        EXPECT_EQ(flash.Finish(10s), 128 + phase.signal) << phase.name << "\n"
                                                         << flash.Out() << flash.Err();
        EXPECT_EQ(flash.LastLine(), kCancelled) << phase.name;
        EXPECT_FALSE(PacketFilesLeft()) << phase.name;
        bool boxGoesOn = phase.shown == "(step 2/3)" || phase.shown == "(step 3/3)";
        EXPECT_EQ(
            flash.Err().find("The box goes on erasing and burning by itself") != std::string::npos,
            boxGoesOn)
            << phase.name << "\n"
            << flash.Err();
    }
}

// A pipe whose reader never reads, filled to the brim before the tool starts.
class FullPipe {
public:
    FullPipe() {
        if (::pipe2(m_ends, O_CLOEXEC) != 0) {
            return;
        }
        ::fcntl(m_ends[1], F_SETFL, O_NONBLOCK);
        char block[4096] = {};
        while (::write(m_ends[1], block, sizeof block) > 0) {
        }
        ::fcntl(m_ends[1], F_SETFL, 0);
    }
    ~FullPipe() {
        ::close(m_ends[0]);
        ::close(m_ends[1]);
    }
    int WriteEnd() const { return m_ends[1]; }

private:
    int m_ends[2] = {-1, -1};
};

TEST_F(CliFaults, OutputThatIsClosedOrNeverReadNeverHoldsTheUpdate) {
    {
        // The reader leaves after the first bytes, as `| head -1` does.
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        CliProcess flash(FlashArguments({"--simulate", "--baud", "9600"}),
                         [&ends] { ::dup2(ends[1], STDOUT_FILENO); });
        ::close(ends[1]);
        char byte = 0;
        EXPECT_EQ(::read(ends[0], &byte, 1), 1);
        ::close(ends[0]);
        EXPECT_EQ(flash.Finish(), 0) << "signal " << flash.TermSignal() << "\n" << flash.Err();
        EXPECT_FALSE(PacketFilesLeft());
    }
    // Nobody reads: the update goes on, and a termination request ends it.
    FullPipe pipe;
    int out = pipe.WriteEnd();
    CliProcess flash(FlashArguments({"--simulate", "--baud", "9600"}),
                     [out] { ::dup2(out, STDOUT_FILENO); });
    std::this_thread::sleep_for(1s);
    flash.Signal(SIGTERM);
    EXPECT_EQ(flash.Finish(10s), 128 + SIGTERM) << flash.Err();
    EXPECT_FALSE(PacketFilesLeft());
}

// The box in a process of its own keeps reporting while the tool is stopped
// (Ctrl+Z, then fg): what it said is read, not taken for silence.
TEST_F(CliFaults, StallOfTheToolIsNotSilenceOfTheBox) {
    std::string link = m_home / "box";
    CliProcess box({"box", "--link", link, "--erase-ms", "600", "--sector-size", "512"});
    ASSERT_TRUE(box.WaitForOutput("/dev/"));
    CliProcess flash(FlashArguments({"--device", link}));
    ASSERT_TRUE(flash.WaitForOutput("(step 2/3)")) << flash.Out() << flash.Err();
    flash.Signal(SIGSTOP);
    std::this_thread::sleep_for(3s);
    flash.Signal(SIGCONT);
    EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
    EXPECT_EQ(flash.LastLine(), "Success: Successful to update flash! STB has restarted ");
    box.Signal(SIGTERM);
    EXPECT_EQ(box.Finish(), 0);
}

std::string UucpContent(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// As on systems where an open port cannot be opened twice: a terminal
// program that holds the port without a lock, or whose lock file names it.
TEST_F(CliFaults, PortUsedWithoutALockOrNamedByALockFile) {
    SilentLine line;
    {
        int holder = ::open(line.Device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        CliProcess flash(FlashArguments({"--device", line.Device()}));
        EXPECT_EQ(flash.Finish(), 2) << flash.Out();
        ::close(holder);
        EXPECT_NE(flash.Err().find("hint: " + line.Device() + " is held by process " +
                                   std::to_string(::getpid())),
                  std::string::npos)
            << flash.Err();
    }
    std::string lock = "/var/lock/LCK.." + std::filesystem::path(line.Device()).filename().string();
    if (::access("/var/lock", W_OK) != 0) {
        GTEST_SKIP() << "/var/lock is not writable here";
    }
    std::ofstream(lock) << UucpContent(::getpid());
    {
        CliProcess flash(FlashArguments({"--device", line.Device()}));
        EXPECT_EQ(flash.Finish(), 2) << flash.Out();
        EXPECT_NE(
            flash.Err().find("hint: " + lock + " says that process " + std::to_string(::getpid())),
            std::string::npos)
            << flash.Err();
    }
    // Left by a process that has ended: taken over, held, removed at the end.
    pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    std::ofstream(lock) << UucpContent(gone);
    CliProcess flash(FlashArguments({"--device", line.Device(), "--wait-timeout", "1"}));
    ASSERT_TRUE(flash.WaitForOutput("Waiting connection"));
    EXPECT_EQ(TempDir::ReadFile(lock), UucpContent(flash.Pid()));
    EXPECT_EQ(flash.Finish(), 4) << flash.Err();
    EXPECT_FALSE(std::filesystem::exists(lock));
}

TEST_F(CliFaults, OneUpdateAtATimeOnABootFolder) {
    CliProcess first(FlashArguments({"--simulate", "--baud", "9600"}));
    ASSERT_TRUE(first.WaitForOutput("(step 1/3)"));
    CliProcess second(FlashArguments({"--simulate"}));
    EXPECT_EQ(second.Finish(5s), 3);
    EXPECT_EQ(second.LastLine(), "quillon: boot folder " + m_boot.Folder() +
                                     " is in use by another update (pid " +
                                     std::to_string(first.Pid()) + ")");
    CliProcess pack({"pack", "--boot-folder", m_boot.Folder()});
    EXPECT_EQ(pack.Finish(5s), 3);
    EXPECT_EQ(first.Finish(), 0) << first.Out() << first.Err();
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_FALSE(std::filesystem::exists(m_boot / ".quillon.lock"));
}

TEST_F(CliFaults, WhatAKilledRunLeftIsRemovedByTheNext) {
    m_boot.Write("init_uploads.txt", "80000000\nload.bin\nload.bin\nload.bin\n");
    {
        CliProcess killed(FlashArguments({"--simulate", "--baud", "9600"}));
        ASSERT_TRUE(killed.WaitForOutput("(step 1/3) Downloading 0002/0006"));
        killed.Signal(SIGKILL);
        killed.Finish();
    }
    ASSERT_TRUE(std::filesystem::exists(m_boot / "0006"));
    m_boot.Write("init_uploads.txt", "80000000\nload.bin\n");  // a shorter series
    CliProcess next(FlashArguments({"--simulate"}));
    EXPECT_EQ(next.Finish(), 0) << next.Out() << next.Err();
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(CliFaults, LongPathsAreUsedWholeOrRefusedAtOnce) {
    std::string deep = m_home.Folder();
    while (deep.size() < 600) {
        deep += std::string(60, 'd') + "/";
    }
    std::filesystem::create_directories(deep);
    for (const char* name : {"c_bus.txt", "init_uploads.txt", "load.bin"}) {
        std::filesystem::copy(m_boot / name, deep + name);
    }
    CliProcess flash(FlashArguments({"--simulate"}, deep));
    EXPECT_EQ(flash.Finish(), 0) << flash.Out() << flash.Err();
    EXPECT_FALSE(testing::PacketFilesIn(deep));

    std::string beyond = m_home.Folder();
    while (beyond.size() < 5000) {
        beyond += std::string(60, 'x') + "/";
    }
    CliProcess refused(FlashArguments({"--simulate"}, beyond));
    EXPECT_EQ(refused.Finish(5s), 3);
    EXPECT_NE(refused.Err().find(beyond + ": File name too long"), std::string::npos);
}

TEST_F(CliFaults, TraceOrPackThatCannotWriteSaysSoAndLeavesNoCutFile) {
    // Room for the packet files, not for the whole trace.
    const std::string trace = m_home / "trace.txt";
    CliProcess flash(FlashArguments({"--simulate", "--trace", trace}), [] {
        rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(flash.Finish(), 0) << flash.Err();
    const std::string warning = "warning: the trace " + trace + " is cut short: File too large";
    std::size_t at = flash.Err().find(warning);
    EXPECT_NE(at, std::string::npos) << flash.Err();
    EXPECT_EQ(flash.Err().find(warning, at + 1), std::string::npos) << "said once";

    CliProcess pack({"pack", "--boot-folder", m_boot.Folder()}, [] {
        rlimit limit{2048, 2048};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(pack.Finish(), 3) << pack.Err();
    EXPECT_TRUE(std::filesystem::exists(m_boot / "0002"));
    EXPECT_FALSE(std::filesystem::exists(m_boot / "0003")) << "the record that did not fit";
}

}  // namespace
}  // namespace quillon
