#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "tests/cleanup_checks.h"
#include "tests/cli/cli_run.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::CliRun;
using testing::CliRunner;
using testing::TempDir;

const std::string kCheck = "Please check your serial connection";

class FlashTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_boot.Write("c_bus.txt", "1234\n5678\n\n00FF\n");
        m_boot.Write("init_uploads.txt", "80000000\nload.bin\n");
        m_boot.Write("load.bin", std::string(2500, 'x'));
    }

    // A simulated update of the boot folder with a settings file of the test's own.
    CliRun Flash(const std::string& extra, const std::string& progress = "plain") {
        return m_cli.Run("flash --simulate --progress " + progress + " --settings " +
                         CliRunner::Quote(m_settings) + " --boot-folder " +
                         CliRunner::Quote(m_boot.Folder()) + " " + extra);
    }

    bool PacketFilesLeft() const { return testing::PacketFilesIn(m_boot.Folder()); }

    CliRunner m_cli;
    TempDir m_boot;
    TempDir m_home;
    std::string m_settings = m_home / "quillon.INI";
};

TEST_F(FlashTest, SuccessEndsWithTheBoxMessageAndLeavesNothing) {
    const std::string trace = m_home / "trace.txt";
    CliRun run = Flash("--trace " + CliRunner::Quote(trace));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(CliRunner::LastLine(run.out),
              "Success: Successful to update flash! STB has restarted ");
    EXPECT_NE(run.out.find("Waiting connection,Press reset button...\nNow preparing...\n"
                           "Downloading 0001/0006\n(step 1/3) Downloading 0002/0006\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Erasing...\n"), std::string::npos);
    EXPECT_NE(run.out.find("Burning finished!\n"), std::string::npos);
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_FALSE(std::filesystem::exists(m_settings));  // nothing to write back
    // A clean line: every byte received is decoded once, none called noise.
    std::ifstream lines(trace);
    std::string text((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("= status reply 0x06"), std::string::npos);
    EXPECT_EQ(text.find("not acted on"), std::string::npos) << text;
}

TEST_F(FlashTest, EachFailureHasItsExitCodeAndFinalLine) {
    struct Case {
        const char* options;
        int exitCode;
        std::string lastLine;
    };
    const Case cases[] = {
        {"--reject-record 3", 4, "Download Failed CheckSum/Timeout: " + kCheck},
        {"--reject-record 1", 4, "Connect Failed: " + kCheck},
        {"--hang-up-after 2", 4, "Download : " + kCheck},
        {"--silent-after-exec", 5, "Burn Failed: " + kCheck},
        {"--report-failure", 6, "Failed: Failed to update flash! Please check your setting "},
        {"--noise 3 --partial-frames", 0,
         "Success: Successful to update flash! STB has restarted "},
    };
    for (const Case& c : cases) {
        CliRun run = Flash(c.options);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.options << "\n" << run.out << run.err;
        std::string last = CliRunner::LastLine(run.out);
        if (std::string(c.options) == "--hang-up-after 2") {
            // The hang-up can meet the next piece or the wait for its reply.
            EXPECT_TRUE(last == c.lastLine || last == "Download Failed CheckSum/Timeout: " + kCheck)
                << last;
        } else {
            EXPECT_EQ(last, c.lastLine) << c.options;
        }
        EXPECT_FALSE(PacketFilesLeft()) << c.options;
    }
}

TEST_F(FlashTest, BadInputAndPortFailures) {
    std::filesystem::remove(m_boot / "c_bus.txt");
    CliRun run = Flash("");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(CliRunner::LastLine(run.out), "quillon: Invalid CBUS file (BOOT)!");
    EXPECT_NE(run.err.find("c_bus.txt"), std::string::npos) << run.err;
    m_boot.Write("c_bus.txt", "1234\n");

    run = m_cli.Run("flash --progress plain --settings " + CliRunner::Quote(m_settings) +
                    " --boot-folder " + CliRunner::Quote(m_boot.Folder()) + " --device " +
                    CliRunner::Quote(m_boot / "no-such-port"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(CliRunner::LastLine(run.out), "quillon: Failed to open serial port!");
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("hint: "), std::string::npos) << run.err;

    run = m_cli.Run("flash --start-address xyz --settings " + CliRunner::Quote(m_settings));
    EXPECT_EQ(run.exitCode, 64);
    run = m_cli.Run("flash --progress fancy");
    EXPECT_EQ(run.exitCode, 64);
    run = m_cli.Run("flahs");
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_EQ(run.err, "quillon-cli: unknown command \"flahs\"; did you mean \"flash\"?\n");

    // A rate no serial hardware offers would stretch every wait for ever.
    run = m_cli.Run("flash --baud 1");
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_NE(run.err.find("a whole number from 50 to 12000000, not 1"), std::string::npos)
        << run.err;
    std::ofstream(m_settings) << "[COMMON]\nLastSpeed=1\n";
    run = Flash("");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("baud rate 1 is outside 50 to 12000000"), std::string::npos) << run.err;
}

TEST_F(FlashTest, WaitTimeoutBoundsTheWaitForTheBootLoader) {
    // A port whose box never answers: the other end of a pseudo-terminal.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ::grantpt(master);
    ::unlockpt(master);
    CliRun run = m_cli.Run("flash --progress plain --wait-timeout 0.3 --settings " +
                           CliRunner::Quote(m_settings) + " --boot-folder " +
                           CliRunner::Quote(m_boot.Folder()) + " --device " +
                           CliRunner::Quote(::ptsname(master)));
    ::close(master);
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(CliRunner::LastLine(run.out), "Connect Failed: " + kCheck);
}

// What the update would find wrong only after the box was reset ends the run
// at once; uploads that go empty are said before the wait, where the user
// can still mend them.
TEST_F(FlashTest, SaysWhatItUsesAndChecksBeforeWaiting) {
    CliRun run =
        m_cli.Run("flash --progress plain --settings " + CliRunner::Quote(m_settings) +
                  " --boot-folder /nonexistent --device " + CliRunner::Quote(m_boot / "no-port"));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(CliRunner::LastLine(run.out), "quillon: Invalid CBUS file (BOOT)!");
    EXPECT_NE(run.err.find("boot folder /nonexistent does not exist"), std::string::npos)
        << run.err;

    m_boot.Write("init_uploads.txt", "80000000\nload.bin\nmissing.bin \n");
    run = Flash("");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::regex first(
        "Using /dev/\\S+ \\(the built-in box emulator\\) at 115200 baud, boot folder " +
        m_boot.Folder() + " \\(7 packet files, 2\\.[0-9] KiB, series [0-9a-f]{12}\\)\n.*");
    EXPECT_TRUE(std::regex_search(run.out, first, std::regex_constants::match_continuous))
        << run.out;
    const std::string warning = "warning: " + m_boot.Folder() +
                                "init_uploads.txt line 3: \"missing.bin \" is missing; the box "
                                "gets an empty upload for it\n";
    EXPECT_EQ(run.err, warning) << "said once, before the wait";
}

// In an 80-column terminal every redraw must stay on its line; the bar
// follows the bytes of a large file, and is full once the box has answered.
TEST_F(FlashTest, HumanProgressFitsTheWidthFollowsBytesAndEndsFull) {
    m_boot.Write("load.bin", std::string(60000, 'x'));
    CliRun run = Flash("--baud 230400", "human");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::set<std::string> percentsOfTheLargeFile;
    std::string lastRedraw;
    for (std::size_t at = run.out.find('\r'); at != std::string::npos;) {
        std::size_t next = run.out.find_first_of("\r\n", at + 1);
        std::string redraw = run.out.substr(at + 4, next - at - 4);  // after "\r\033[K"
        EXPECT_LT(redraw.size(), 80u) << redraw;
        std::smatch percent;
        if (redraw.rfind("(step 1/3) Downloading 0005/0006", 0) == 0 &&
            std::regex_search(redraw, percent, std::regex(" ([0-9]+)%"))) {
            percentsOfTheLargeFile.insert(percent[1]);
        }
        lastRedraw = redraw;
        at = run.out.find('\r', at + 1);
    }
    EXPECT_GE(percentsOfTheLargeFile.size(), 3u);
    EXPECT_NE(lastRedraw.find("Burning finished!  [########################] 100%"),
              std::string::npos)
        << lastRedraw;
}

TEST_F(FlashTest, JsonLinesForScripts) {
    CliRun run = Flash("", "jsonl");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::regex object(R"(\{"event":"[a-z]+",.*\})");
    std::size_t lines = 0;
    bool sawDownload = false;
    std::size_t start = 0;
    while (start < run.out.size()) {
        std::size_t end = run.out.find('\n', start);
        std::string line = run.out.substr(start, end - start);
        EXPECT_TRUE(std::regex_match(line, object)) << line;
        sawDownload = sawDownload || line.find("\"phase\":\"download\"") != std::string::npos;
        ++lines;
        start = end + 1;
    }
    EXPECT_GT(lines, 5u);
    EXPECT_TRUE(sawDownload);
    EXPECT_EQ(CliRunner::LastLine(run.out),
              "{\"event\":\"end\",\"caption\":\"Success\",\"message\":\"Successful to update "
              "flash! STB has restarted \",\"detail\":\"\",\"verdict\":\"ok\"}");
}

TEST_F(FlashTest, SettingsGiveTheDefaults) {
    // The boot folder named without its separator still works, and the
    // start address from the settings reaches the box.
    std::string bare = m_boot.Folder().substr(0, m_boot.Folder().size() - 1);
    m_home.Write("quillon.INI",
                 "; ours\n[BOOT]\nPathToBootFiles=" + bare + "\n[COMMON]\nLastExecAddr=4096\n");
    TempDir dump;
    CliRun run =
        m_cli.Run("flash --simulate --progress plain --settings " + CliRunner::Quote(m_settings) +
                  " --dump " + CliRunner::Quote(dump.Folder()));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    std::string exec;
    for (const auto& entry : std::filesystem::directory_iterator(dump.Folder())) {
        std::string bytes = TempDir::ReadFile(entry.path());
        if (bytes.size() == 12 && bytes[1] == 0x09) {
            exec = bytes;
        }
    }
    EXPECT_EQ(exec.substr(4, 4), std::string("\x00\x00\x10\x00", 4));
    EXPECT_EQ(m_home.Read("quillon.INI"),
              "; ours\n[BOOT]\nPathToBootFiles=" + bare + "\n[COMMON]\nLastExecAddr=4096\n");
}

TEST_F(FlashTest, InterruptRemovesPacketFilesAndExits130) {
    std::string out = m_home / "out";
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        // The box never answers the handshake file: the update sits in its wait.
        ::execl(QUILLON_CLI, QUILLON_CLI, "flash", "--simulate", "--silent-record", "1",
                "--progress", "plain", "--settings", m_settings.c_str(), "--boot-folder",
                m_boot.Folder().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 500 && !PacketFilesLeft(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(PacketFilesLeft());
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_EQ(CliRunner::LastLine(TempDir::ReadFile(out)),
              "Cancelled: Update cancelled; packet files removed, port released");
}

}  // namespace
}  // namespace quillon
