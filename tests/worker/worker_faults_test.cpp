// Faults of the box once it erases and burns, played by a scripted box on a
// line in this process against the real worker: the emulator has no option
// to fall silent or to be unplugged half way through its reports.

#include "tests/worker/worker_test.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;

const std::string kCheck = "Please check your serial connection";

class BurnFaults : public testing::WorkerTest {
protected:
    void SetUp() override {
        m_dir.Write("c_bus.txt", "1234\n");
        m_dir.Write("init_uploads.txt", "80000000\nload.bin\n");
        m_dir.Write("load.bin", std::string(500, 'l'));
        StartWorker();
        // Handshake file, then 0002-0004, then the execute command.
        Handshake();
        for (int record = 1; record <= 4; ++record) {
            ASSERT_FALSE(m_peer.ReadRecord().empty()) << record;
            m_peer.Send({0xAA, 0x06});
        }
        ASSERT_FALSE(m_peer.ReadRecord().empty());
        // Erasing has begun and gone half way.
        m_peer.Send({0x0F, 0x01, 0x0F, 0x0A, 0x00, 0x01, 0x00, 0x02});
        ASSERT_TRUE(m_view.WaitFor("status:(step 2/3) Erasing : 1/2sectors completed"));
    }
};

TEST_F(BurnFaults, BoxFallsSilentHalfWayThrough) {
    EXPECT_EQ(Finish(), static_cast<unsigned>(UpdateOutcome::BurnTimedOut));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Burn Failed|16");
    EXPECT_TRUE(m_view.Saw("button:1"));
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_TRUE(PortReleased());
}

TEST_F(BurnFaults, BoxUnpluggedHalfWayThrough) {
    m_peer.Send({0x0F, 0x0E, 0x00, 0x00, 0x10, 0x00, 0x0F, 0x0C, 0x00, 0x00, 0x08, 0x00});
    ASSERT_TRUE(m_view.WaitFor("status:(step 3/3) Burning : 2048/4096 bytes completed"));
    m_peer.Close();
    // The box had begun to write its flash: as if it had fallen silent.
    EXPECT_EQ(Finish(), static_cast<unsigned>(UpdateOutcome::BurnTimedOut));
    EXPECT_EQ(m_view.Ending(), "box:" + kCheck + "|Burn Failed|16");
    EXPECT_EQ(m_view.Result().cause, Cause::LineLostBurning);
    EXPECT_FALSE(PacketFilesLeft());
}

TEST_F(BurnFaults, NoiseAndCutFramesDoNotEndTheBurn) {
    m_peer.Send({0x55, 0x0F, 0x0C, 0x00});  // cut short: dropped
    std::this_thread::sleep_for(300ms);
    m_peer.Send({0x12, 0x7E, 0xAA, 0x0F, 0x0A, 0x00, 0x02, 0x00, 0x02});
    m_peer.Send({0x0F, 0x0D});
    EXPECT_EQ(Finish(), static_cast<unsigned>(UpdateOutcome::Success));
    EXPECT_TRUE(m_view.Saw("status:(step 2/3) Erasing : 2/2sectors completed"));
    EXPECT_EQ(m_view.Ending(), "box:Successful to update flash! STB has restarted |Success|48");
    EXPECT_FALSE(PacketFilesLeft());
    EXPECT_TRUE(PortReleased());
}

// A USB adapter may hand a report over in two packets some milliseconds apart.
TEST_F(BurnFaults, ReportsSplitAcrossReadsAreWaitedFor) {
    const Bytes pieces[] = {{0x0F}, {0x0A, 0x00}, {0x02, 0x00, 0x02}, {0x0F}, {0x0D}};
    for (const Bytes& piece : pieces) {
        m_peer.Send(piece);
        std::this_thread::sleep_for(15ms);
    }
    EXPECT_EQ(Finish(), static_cast<unsigned>(UpdateOutcome::Success));
    EXPECT_TRUE(m_view.Saw("status:(step 2/3) Erasing : 2/2sectors completed"));
}

// Found by fuzz/line_fuzz.cpp: a burnt count past the total put the bar at
// 75 + 25 * burnt / total, far beyond 100 (a terminal's bar then asked for a
// string of negative length), and past the int range the cast was undefined.
TEST_F(BurnFaults, CountsPastTheirTotalKeepTheBarInItsBand) {
    m_peer.Send({0x0F, 0x0A, 0x00, 0x05, 0x00, 0x02});  // 5 of 2 sectors
    m_peer.Send({0x0F, 0x0E, 0x00, 0x00, 0x00, 0x10});  // 16 bytes to burn
    m_peer.Send({0x0F, 0x0C, 0x0F, 0xFF, 0xFF, 0xFF});  // 268435455 of them burnt
    ASSERT_TRUE(m_view.WaitFor("status:(step 3/3) Burning : 268435455/16 bytes completed"));
    m_peer.Send({0x0F, 0x0E, 0xFF, 0xFF, 0xFF, 0xF0});  // a total of -16
    m_peer.Send({0x0F, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x0F, 0x0D});
    EXPECT_EQ(Finish(), static_cast<unsigned>(UpdateOutcome::Success));
    EXPECT_TRUE(m_view.Saw("status:(step 2/3) Erasing : 5/2sectors completed"));
    EXPECT_TRUE(m_view.Saw("status:(step 3/3) Burning : 1/-16 bytes completed"));
    auto positions = m_view.Distinct("pos:");
    EXPECT_EQ(std::vector<std::string>(positions.end() - 5, positions.end()),
              (std::vector<std::string>{"62", "75", "100", "75", "0"}));
}

}  // namespace
}  // namespace quillon
