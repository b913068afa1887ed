#include <gtest/gtest.h>

#include <chrono>

#include "sim/box_emulator.h"
#include "tests/sim/box_client.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::BoxClient;
using testing::Payload;
using testing::Record;

// 64 KiB through a box that takes bytes no faster than 9600 baud allows:
// the pieces wait on a full pty and the replies come long after the last
// write returned, so only waits that follow the line get through.
TEST(PacedExchange, SixtyFourKibibytesAt9600Baud) {
    sim::BoxOptions options;
    options.baud = 9600;
    options.eraseTime = 20ms;
    options.burnTime = 20ms;
    sim::BoxEmulator box(options);
    std::string error;
    ASSERT_TRUE(box.OpenPty(&error)) << error;
    box.Start();

    BoxClient client(box.DevicePath(), 9600);
    ASSERT_TRUE(client.Connect());
    EXPECT_EQ(client.SendAndWait(Record(0x03, {0x12, 0x34})), 0x06);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(client.SendAndWait(Record(0x05, Payload(16384 - 8))), 0x06) << "file " << i;
    }
    EXPECT_EQ(client.SendAndWait(Record(0x09, {0, 0, 0x10, 0})), 0x06);
    EXPECT_EQ(client.Send(Record(0x09, {0, 0, 0x10, 0})), -1);
    auto reports = client.FollowBurn();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().code, 0x0D);
    ASSERT_TRUE(box.WaitFinished(60s));
    EXPECT_EQ(box.Summary().rejected, 0);
}

}  // namespace
}  // namespace quillon
