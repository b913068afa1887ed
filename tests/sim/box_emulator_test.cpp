#include "sim/box_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "sim/in_process_line.h"
#include "tests/sim/box_client.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using sim::BoxEmulator;
using sim::BoxOptions;
using testing::BoxClient;
using testing::Bytes;
using testing::Payload;
using testing::ProgressReport;
using testing::Record;

constexpr auto kEnough = 20s;  // only a bound against hanging

const Bytes kHandshake = Record(0x03, {0x12, 0x34});
const Bytes kUpload = Record(0x05, Payload(3000));
const Bytes kExec = Record(0x09, {0x00, 0x00, 0x10, 0x00});

BoxOptions Quick() {
    BoxOptions options;
    options.eraseTime = 40ms;
    options.burnTime = 40ms;
    options.bytesPerSector = 1024;
    return options;
}

class BoxEmulatorTest : public ::testing::Test {
protected:
    void Serve(BoxOptions options, bool inProcess = false) {
        m_box = std::make_unique<BoxEmulator>(std::move(options));
        std::string error;
        if (inProcess) {
            m_box->OpenInProcess();
        } else {
            ASSERT_TRUE(m_box->OpenPty(&error)) << error;
        }
        m_box->Start();
        m_client = std::make_unique<BoxClient>(m_box->DevicePath());
        m_client->Port().UseLines(inProcess ? sim::InProcessToolEnd : LineMaker());
        ASSERT_TRUE(m_client->Connect());
    }

    // The series, the last execute command, and what the box reported.
    std::vector<ProgressReport> Update() {
        EXPECT_EQ(m_client->SendAndWait(kHandshake), 0x06);
        EXPECT_EQ(m_client->SendAndWait(kUpload), 0x06);
        EXPECT_EQ(m_client->SendAndWait(kExec), 0x06);
        EXPECT_EQ(m_client->Send(kExec), -1);
        return m_client->FollowBurn();
    }

    std::unique_ptr<BoxEmulator> m_box;
    std::unique_ptr<BoxClient> m_client;
};

// What the box sees of the line (the tool closing and opening it again, a
// hang-up, a stop), on a pty and on a line inside this process alike.
class BoxLineTest : public BoxEmulatorTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Lines, BoxLineTest, ::testing::Bool(),
                         [](const auto& line) { return line.param ? "InProcess" : "Pty"; });

std::vector<std::uint8_t> Codes(const std::vector<ProgressReport>& reports) {
    std::vector<std::uint8_t> codes;
    for (const auto& report : reports) {
        codes.push_back(report.code);
    }
    return codes;
}

TEST_F(BoxEmulatorTest, UpdateIsFollowedByReportsInProportion) {
    Serve(Quick());
    std::vector<ProgressReport> reports = Update();
    std::uint32_t received =
        static_cast<std::uint32_t>(kHandshake.size() + kUpload.size() + 2 * kExec.size());
    std::uint32_t sectors = (received + 1023) / 1024;

    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports.front().code, 0x01);
    EXPECT_EQ(reports.back().code, 0x0D);
    auto erased = std::count_if(reports.begin(), reports.end(),
                                [](const ProgressReport& r) { return r.code == 0x0A; });
    EXPECT_EQ(erased, static_cast<long>(sectors));
    auto lastErase = std::find_if(reports.rbegin(), reports.rend(),
                                  [](const ProgressReport& r) { return r.code == 0x0A; });
    EXPECT_EQ(lastErase->value, (sectors << 16) | sectors);
    auto total = std::find_if(reports.begin(), reports.end(),
                              [](const ProgressReport& r) { return r.code == 0x0E; });
    ASSERT_NE(total, reports.end());
    EXPECT_EQ(total->value, received);
    EXPECT_EQ(reports[reports.size() - 2].code, 0x0C);
    EXPECT_EQ(reports[reports.size() - 2].value, received);

    ASSERT_TRUE(m_box->WaitFinished(kEnough));
    sim::BoxSummary summary = m_box->Summary();
    EXPECT_TRUE(summary.finished);
    EXPECT_EQ(summary.records, 4);
    EXPECT_EQ(summary.rejected, 0);
    EXPECT_EQ(summary.bytes, received);
}

TEST_F(BoxEmulatorTest, BadRecordsAreRejectedAndTheNextOneIsRead) {
    Serve(Quick());
    Bytes corrupted = kUpload;
    corrupted[100] ^= 0x01;
    EXPECT_EQ(m_client->SendAndWait(kHandshake), 0x06);
    EXPECT_EQ(m_client->SendAndWait(corrupted), 0x11);
    EXPECT_EQ(m_client->SendAndWait({0xAA, 0x05, 0x00, 0x02, 0x77, 0x77}), 0x11);
    EXPECT_EQ(m_client->SendAndWait({0x42, 0x05, 0x00, 0x08, 0x77}), 0x11);
    EXPECT_EQ(m_client->SendAndWait(kUpload), 0x06);
    m_client->Disconnect();
    ASSERT_TRUE(m_box->WaitFinished(kEnough));
    EXPECT_EQ(m_box->Summary().rejected, 3);
    EXPECT_FALSE(m_box->Summary().finished);
}

TEST_P(BoxLineTest, ServesOneSessionAfterAnother) {
    Serve(Quick(), GetParam());
    EXPECT_EQ(Codes(Update()).back(), 0x0D);
    m_client->Disconnect();
    ASSERT_TRUE(m_box->WaitFinished(kEnough));

    ASSERT_TRUE(m_client->Connect());
    EXPECT_EQ(Codes(Update()).back(), 0x0D);
    ASSERT_TRUE(m_box->WaitFinished(kEnough));
    EXPECT_EQ(m_box->Summary().sessions, 2);
    EXPECT_EQ(m_box->Summary().records, 8);
}

// A tool that fails a box and opens the line again at once, as a station
// does, finds the box ready every time: the close is never missed.
TEST_P(BoxLineTest, EveryReopeningIsServed) {
    BoxOptions options = Quick();
    options.rejectRecord = 2;
    Serve(options, GetParam());
    for (int round = 0; round < 10; ++round) {
        EXPECT_EQ(m_client->SendAndWait(kHandshake), 0x06);
        EXPECT_EQ(m_client->SendAndWait(kUpload), 0x11);
        m_client->Disconnect();
        ASSERT_TRUE(m_client->Connect()) << "round " << round;
    }
}

TEST_F(BoxEmulatorTest, RecordsAreDumped) {
    testing::TempDir dumps;
    BoxOptions options = Quick();
    options.dumpFolder = dumps.Folder();
    Serve(options);
    Update();
    ASSERT_TRUE(m_box->WaitFinished(kEnough));
    EXPECT_EQ(dumps.Read("record-0001"), std::string(kHandshake.begin(), kHandshake.end()));
    EXPECT_EQ(dumps.Read("record-0002"), std::string(kUpload.begin(), kUpload.end()));
    EXPECT_TRUE(std::filesystem::exists(dumps / "record-0004"));
}

TEST_P(BoxLineTest, StopsPromptlyMidSession) {
    Serve(Quick(), GetParam());
    EXPECT_EQ(m_client->SendAndWait(kHandshake), 0x06);
    m_box->Stop();
    EXPECT_EQ(m_client->Port().WaitStatus(), 0xFF);
    EXPECT_TRUE(m_client->Port().IsLineGone());
}

TEST_F(BoxEmulatorTest, RejectsAndIgnoresTheRecordsAskedFor) {
    BoxOptions options = Quick();
    options.rejectRecord = 2;
    options.silentRecord = 3;
    Serve(options);
    EXPECT_EQ(m_client->SendAndWait(kHandshake), 0x06);
    EXPECT_EQ(m_client->SendAndWait(kUpload), 0x11);
    EXPECT_EQ(m_client->SendAndWait(kUpload), 0xFF);
    EXPECT_EQ(m_client->SendAndWait(kUpload), 0x06);
}

TEST_F(BoxEmulatorTest, HandshakeWithoutVerdict) {
    BoxOptions options = Quick();
    options.noHandshakeVerdict = true;
    Serve(options);
    EXPECT_EQ(m_client->SendAndWait(kHandshake), 0xFF);
    EXPECT_EQ(m_client->SendAndWait(kUpload), 0x06);
}

TEST_F(BoxEmulatorTest, FailureReportAndNoise) {
    BoxOptions options = Quick();
    options.reportFailure = true;
    options.noiseBytes = 3;
    Serve(options);
    std::vector<std::uint8_t> codes = Codes(Update());
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 0x01);
    EXPECT_EQ(codes.back(), 0x0F);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x0D), 0);
}

TEST_F(BoxEmulatorTest, CutFramesAreDroppedByTheReader) {
    BoxOptions options = Quick();
    options.partialFrames = true;
    Serve(options);
    std::vector<std::uint8_t> codes = Codes(Update());
    // Eight burn reports, every other one cut.
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x0C), 4);
    EXPECT_EQ(codes.back(), 0x0D);
}

TEST_F(BoxEmulatorTest, SilentAfterTheExecuteCommand) {
    BoxOptions options = Quick();
    options.silentAfterExec = true;
    Serve(options);
    EXPECT_TRUE(Update().empty());
}

TEST_P(BoxLineTest, HangsUpAfterTheRecordAskedFor) {
    BoxOptions options = Quick();
    options.hangUpAfterRecord = 2;
    Serve(options, GetParam());
    EXPECT_EQ(m_client->SendAndWait(kHandshake), 0x06);
    EXPECT_EQ(m_client->SendAndWait(kUpload), 0xFF);
    EXPECT_TRUE(m_client->Port().IsLineGone());
    EXPECT_EQ(m_client->Send(kUpload), 0);
    ASSERT_TRUE(m_box->WaitFinished(kEnough));
    EXPECT_TRUE(m_box->Summary().hungUp);
}

// Like a boot loader after a reset: a record cut off by silence, or by the
// tool closing the port, is dropped, and the box says it is ready again.
TEST_F(BoxEmulatorTest, CutRecordIsDroppedAndTheBoxIsReadyAgain) {
    Serve(Quick());
    const Bytes half(kUpload.begin(), kUpload.begin() + 100);
    ASSERT_EQ(m_client->Port().Write(half.data(), static_cast<int>(half.size())), 100);
    EXPECT_EQ(m_client->Port().WaitStatus(), 0x01);

    ASSERT_EQ(m_client->Port().Write(half.data(), static_cast<int>(half.size())), 100);
    m_client->Disconnect();
    ASSERT_TRUE(m_client->Connect());
    std::vector<ProgressReport> reports = Update();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().code, 0x0D);
}

}  // namespace
}  // namespace quillon
