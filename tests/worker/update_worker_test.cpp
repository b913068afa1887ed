#include "engine/update_worker.h"

#include <filesystem>
#include <fstream>

#include "engine/packet_series.h"
#include "platform/program_path.h"
#include "tests/worker/worker_test.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::TempDir;

const Bytes kAccepted{0xAA, 0x06};
const Bytes kRejected{0xAA, 0x11};
const std::string kCheck = "Please check your serial connection";

unsigned Outcome(UpdateOutcome outcome) {
    return static_cast<unsigned>(outcome);
}

class UpdateWorkerTest : public testing::WorkerTest {
protected:
    void SetUp() override {
        // One bus group and three uploads: files 0001 (direct bus), 0002 (bus
        // again), 0003-0005 (uploads), 0006 (execute address).
        m_dir.Write("c_bus.txt", "1234\n5678\n");
        m_dir.Write("init_uploads.txt", "80000000\na.bin\nb.bin\nc.bin\n");
        m_dir.Write("a.bin", std::string(3000, 'a'));
        m_dir.Write("b.bin", "b");
        m_dir.Write("c.bin", "");
    }

    // Answers the handshake file and the download series; returns the execute record.
    Bytes ServeDownload(int files = 6, bool readExec = true) {
        Handshake();
        for (int i = 1; i <= files; ++i) {
            Bytes record = m_peer.ReadRecord();
            EXPECT_FALSE(record.empty()) << "file " << i;
            m_peer.Send(kAccepted);
        }
        return readExec ? m_peer.ReadRecord() : Bytes{};
    }
};

TEST_F(UpdateWorkerTest, WholeUpdateShowsEveryStepAndCleansUp) {
    StartWorker();
    Bytes exec = ServeDownload();
    ASSERT_EQ(exec.size(), 12u);
    EXPECT_EQ(exec[1], 0x09);
    EXPECT_EQ(Bytes(exec.begin() + 4, exec.begin() + 8), (Bytes{0x80, 0x00, 0x01, 0xA0}));
    m_peer.Send({0x0F, 0x01, 0x0F, 0x0A, 0x00, 0x0A, 0x00, 0x28});
    m_peer.Send({0x0F, 0x0E, 0x00, 0x40, 0x00, 0x00, 0x0F, 0x0C, 0xF0, 0x10, 0x00, 0x00});
    m_peer.Send({0x0F, 0x0D});
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Success));

    EXPECT_EQ(
        m_view.Distinct("status:"),
        (std::vector<std::string>{
            "Waiting connection,Press reset button...", "Now preparing...", "Downloading 0001/0006",
            "(step 1/3) Downloading 0002/0006", "(step 1/3) Downloading 0003/0006",
            "(step 1/3) Downloading 0004/0006", "(step 1/3) Downloading 0005/0006",
            "(step 1/3) Downloading 0006/0006", "Download finish. now preparing burning !",
            "Erasing...", "(step 2/3) Erasing : 10/40sectors completed",
            // the high nibble of the burnt count is dropped
            "(step 3/3) Burning : 1048576/4194304 bytes completed", "Burning finished!"}));
    EXPECT_EQ(m_view.Distinct("pos:"),
              (std::vector<std::string>{"0", "16", "25", "33", "41", "50", "56", "81", "0"}));
    auto events = m_view.Events();
    EXPECT_EQ(events.front(), "button:0");
    EXPECT_EQ(events[1], "busy:start1");
    EXPECT_EQ(std::vector<std::string>(events.end() - 6, events.end()),
              (std::vector<std::string>{
                  "pos:0", "blink:0", "busy:stop1", "status:Burning finished!",
                  "box:Successful to update flash! STB has restarted |Success|48", "button:1"}));
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_TRUE(PortReleased());
}

TEST_F(UpdateWorkerTest, PortThatDoesNotOpen) {
    m_view.device = m_dir / "no-such-device";
    StartWorker();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::PortOpenFailed));
    EXPECT_EQ(m_view.Ending(), "app:Failed to open serial port!");
    auto events = m_view.Events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"button:1", "busy:stop1"}));
}

TEST_F(UpdateWorkerTest, MissingBusFile) {
    std::filesystem::remove(m_dir / "c_bus.txt");
    StartWorker();
    Handshake();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::BadInput));
    EXPECT_EQ(m_view.Ending(), "app:Invalid CBUS file (BOOT)!");
    EXPECT_TRUE(m_view.Saw("blink:0"));
}

TEST_F(UpdateWorkerTest, MissingUploadListFailsTheBuild) {
    std::filesystem::remove(m_dir / "init_uploads.txt");
    StartWorker();
    Handshake();
    m_peer.ReadRecord();
    m_peer.Send(kAccepted);
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::BadInput));
    EXPECT_EQ(m_view.Ending(), "app:Invalid input file (BOOT)!");
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(UpdateWorkerTest, HandshakeRejected) {
    StartWorker();
    Handshake();
    m_peer.ReadRecord();
    m_peer.Send(kRejected);
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::ConnectionFailed));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Connect Failed|16");
}

TEST_F(UpdateWorkerTest, HandshakeAskedAgainWhileTheBoxSaysNoVerdict) {
    StartWorker();
    Handshake();
    m_peer.ReadRecord();
    m_peer.Send({0xAA, 0x00});
    std::this_thread::sleep_for(50ms);
    m_peer.Send({0xAA, 0x00});
    std::this_thread::sleep_for(50ms);
    m_peer.Send(kRejected);
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::ConnectionFailed));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Connect Failed|16");
}

TEST_F(UpdateWorkerTest, NoVerdictOnTheHandshakeGoesOn) {
    StartWorker();
    Handshake();
    m_peer.ReadRecord();  // and no answer: the wait runs out and the build follows
    for (int i = 2; i <= 6; ++i) {
        ASSERT_FALSE(m_peer.ReadRecord().empty());
        m_peer.Send(kAccepted);
    }
    ASSERT_FALSE(m_peer.ReadRecord().empty());
    m_peer.Send({0x0F, 0x0F});
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::BoxReportedFailure));
    EXPECT_EQ(m_view.Ending(), "box:Failed to update flash! Please check your setting |Failed|16");
}

TEST_F(UpdateWorkerTest, RejectedOrUnansweredFile) {
    StartWorker();
    Handshake();
    m_peer.ReadRecord();
    m_peer.Send(kAccepted);
    m_peer.ReadRecord();
    m_peer.Send(kRejected);
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::ConnectionFailed));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Download Failed CheckSum/Timeout|16");
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(UpdateWorkerTest, UnpluggedDuringTheDownload) {
    StartWorker();
    Handshake();
    m_peer.ReadRecord();
    m_peer.Send(kAccepted);
    std::this_thread::sleep_for(100ms);  // the reply is read before the line goes
    m_peer.Close();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::ConnectionFailed));
    std::string ending = m_view.Ending();
    EXPECT_TRUE(ending == "box:" + kCheck + "|Download |16" ||
                ending == "box:" + kCheck + "|Download Failed CheckSum/Timeout|16")
        << ending;
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(UpdateWorkerTest, ExecuteCommandThatCannotBeWritten) {
    // A boot folder without its separator names files "<folder>c_bus.txt";
    // the execute command then goes to "<folder>/0001", in no directory.
    std::string prefix = m_dir / "boot";
    m_dir.Write("bootc_bus.txt", "1234\n");
    m_dir.Write("bootinit_uploads.txt", "80000000\n");
    m_view.bootFolder = prefix;
    StartWorker();
    ServeDownload(3, false);
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::BadInput));
    EXPECT_EQ(m_view.Ending(), "box:Failed to make init file |failed|16");
}

// A series held for several boxes whose file is rewritten in place after
// its build (its owner can): the records sent are not the series measured,
// and the box never gets the execute command.
TEST_F(UpdateWorkerTest, SeriesRewrittenAfterItsBuildGetsNoExecuteCommand) {
    PacketSeries series;
    ASSERT_TRUE(series.Build(m_dir.Folder(), "", "", 0x800001A0u)) << series.Detail();
    std::fstream(m_dir / "0003", std::ios::in | std::ios::out | std::ios::binary)
        .seekp(10)
        .put('!');
    UpdateRequest request = m_view.Request();
    request.series = &series;
    m_worker = std::jthread([&](std::stop_token stop) {
        m_outcome = static_cast<unsigned>(UpdateWorker::Run(m_view, request, stop));
    });
    Bytes exec = ServeDownload(6, false);
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::BadInput));
    EXPECT_EQ(m_view.Result().cause, Cause::SeriesMismatch);
    EXPECT_TRUE(m_peer.ReadRecord(300ms).empty()) << "no execute command";
}

// Mended: all ones is an address like any other; it once meant "none", and
// the box got the bus record again as its final command.
TEST_F(UpdateWorkerTest, StartAddressOfAllOnesIsSentAsAnAddress) {
    m_view.startAddress = 0xFFFFFFFF;
    StartWorker();
    Bytes last = ServeDownload();
    EXPECT_EQ(last,
              (Bytes{0xAA, 0x09, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB, 0x49}));
    m_peer.Send({0x0F, 0x0D});
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Success));
}

TEST_F(UpdateWorkerTest, FullBuildIsSentFromTheProjectFolder) {
    // No boot folder: the series comes from a project description and an
    // image, and is written in the project's folder, wherever the tool runs.
    TempDir project;
    TempDir personal;
    personal.Write("c_bus.txt", "1234\n");
    personal.Write("init_uploads.txt", "1000\n");
    std::string relative = std::filesystem::relative(personal.Folder(), ProgramFolder()).string();
    project.Write("p.prj",
                  "[General parameters]\nNVMType=N\n[N parameters]\nGPAR 0=16\n"
                  "PersonalFolder=" +
                      relative + "\n");
    project.Write("image.bin", std::string(32, 'i'));
    m_view.bootFolder = "";
    m_view.projectPath = project / "p.prj";
    m_view.imagePath = project / "image.bin";
    StartWorker();
    // 0001 bus, then the build: 0002 bus, 0003 address, 0004 parameters,
    // 0005 block count, 0006-0009 two block pairs, 0010 end.
    Bytes exec = ServeDownload(10);
    ASSERT_EQ(exec.size(), 12u);
    EXPECT_EQ(exec[1], 0x09);
    m_peer.Send({0x0F, 0x0D});
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Success));
    EXPECT_TRUE(m_view.Saw("status:(step 1/3) Downloading 0010/0010"));
    EXPECT_FALSE(testing::PacketFilesIn(project.Folder()));
}

TEST_F(UpdateWorkerTest, ProgressReportsInAnyOrder) {
    StartWorker();
    ServeDownload();
    m_peer.Send({0x0F, 0x0C, 0x00, 0x00, 0x01, 0x00});              // before any total
    m_peer.Send({0x0F, 0x0A, 0x00, 0x01, 0x00, 0x04});              // 1 of 4 sectors
    m_peer.Send({0x0F, 0x0C, 0x00, 0x00, 0x00, 0x02});              // against 4 sectors
    m_peer.Send({0x0F, 0x0E, 0x00, 0x00, 0x00, 0x08});              // nothing shown
    m_peer.Send({0x0F, 0x0C, 0x00, 0x00, 0x00, 0x06, 0x0F, 0x77});  // then an unknown code
    std::this_thread::sleep_for(100ms);
    m_peer.Send({0x0F, 0x0C, 0x00});  // a report cut short: dropped
    std::this_thread::sleep_for(100ms);
    m_peer.Send({0x00, 0x00, 0x09});  // its late bytes are no report
    std::this_thread::sleep_for(100ms);
    m_peer.Send({0x0F, 0x0D});
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Success));
    auto status = m_view.Distinct("status:");
    std::vector<std::string> burn(status.end() - 5, status.end());
    EXPECT_EQ(burn, (std::vector<std::string>{"(step 3/3) Burning : 256/0 bytes completed",
                                              "(step 2/3) Erasing : 1/4sectors completed",
                                              "(step 3/3) Burning : 2/4 bytes completed",
                                              "(step 3/3) Burning : 6/8 bytes completed",
                                              "Burning finished!"}));
    auto pos = m_view.Distinct("pos:");
    EXPECT_EQ(std::vector<std::string>(pos.end() - 5, pos.end()),
              (std::vector<std::string>{"75", "56", "87", "93", "0"}));
}

TEST_F(UpdateWorkerTest, SilentBoxAfterTheExecuteCommand) {
    StartWorker();
    ServeDownload();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::BurnTimedOut));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Burn Failed|16");
}

TEST_F(UpdateWorkerTest, NoiseWithoutReportsIsBoundedLikeSilence) {
    StartWorker();
    ServeDownload();
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        while (!stop && !m_done) {
            m_peer.Send({0x55});
            std::this_thread::sleep_for(2ms);
        }
    });
    unsigned outcome = Finish();
    stop = true;
    noise.join();
    EXPECT_EQ(outcome, Outcome(UpdateOutcome::BurnTimedOut));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Burn Failed|16");
}

TEST_F(UpdateWorkerTest, BoxThatNeverAnswersKeepsWaitingUntilCancelled) {
    StartWorker();
    ASSERT_TRUE(m_view.WaitFor("blink:1"));
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(m_done);
    EXPECT_EQ(m_view.Ending(), "");
    m_worker.request_stop();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Cancelled));
    EXPECT_EQ(m_view.Ending(), "");
    EXPECT_TRUE(PortReleased());
    EXPECT_TRUE(m_view.UpdateMutex().try_lock());
    m_view.UpdateMutex().unlock();
}

TEST_F(UpdateWorkerTest, CancelDuringTheDownloadLeavesNoPacketFile) {
    StartWorker();
    Handshake();
    m_peer.ReadRecord();
    m_peer.Send(kAccepted);
    ASSERT_FALSE(m_peer.ReadRecord().empty());  // file 0002, left unanswered
    ASSERT_TRUE(PacketFilesLeft());
    m_worker.request_stop();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Cancelled));
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_TRUE(PortReleased());
}

TEST_F(UpdateWorkerTest, CancelWhileBurning) {
    StartWorker();
    ServeDownload();
    m_peer.Send({0x0F, 0x01});
    ASSERT_TRUE(m_view.WaitFor("status:Erasing..."));
    m_worker.request_stop();
    EXPECT_EQ(Finish(), Outcome(UpdateOutcome::Cancelled));
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_TRUE(PortReleased());
}

TEST_F(UpdateWorkerTest, SecondWorkerWaitsForTheFirst) {
    StartWorker();
    ASSERT_TRUE(m_view.WaitFor("blink:1"));
    std::atomic<bool> secondDone{false};
    std::jthread second([&](std::stop_token stop) {
        UpdateWorker::Run(m_view.Queue(), m_view.Request(), stop);
        secondDone = true;
    });
    std::this_thread::sleep_for(200ms);
    auto events = m_view.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "button:0"), 1);
    m_worker.request_stop();
    Finish();
    // The first is gone: the second takes the lock and starts its own update.
    for (int i = 0; i < 400 && std::count(events.begin(), events.end(), "button:0") < 2; ++i) {
        std::this_thread::sleep_for(10ms);
        events = m_view.Events();
    }
    EXPECT_EQ(std::count(events.begin(), events.end(), "button:0"), 2);
    second.request_stop();
    second.join();
    EXPECT_TRUE(secondDone);
}

}  // namespace
}  // namespace quillon
