#include "initfiles/packet_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "initfiles/wire.h"
#include "tests/initfiles/record_bytes.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::Hex;
using testing::TempDir;

class PacketFileTest : public ::testing::Test {
protected:
    // Writes one record through the writer's calling order and returns its bytes.
    template <typename Payload>
    std::string Make(int code, Payload payload) {
        PacketFile packet;
        EXPECT_TRUE(packet.Open(m_dir / "0001", File::Mode::CreateFresh));
        packet.WriteHeader(code);
        payload(packet);
        packet.PatchLength();
        packet.AppendChecksum();
        packet.Close();
        return m_dir.Read("0001");
    }

    TempDir m_dir;
};

TEST_F(PacketFileTest, ByteExamples) {
    EXPECT_EQ(Hex(Make(CMD_END, [](PacketFile&) {})), "AA 26 00 04 FF FF FF 2C");
    EXPECT_EQ(Hex(Make(CMD_EXEC_ADDRESS, [](PacketFile& p) { p.WriteDwordBE(0x1000); })),
              "AA 09 00 08 00 00 10 00 FF FF FF 35");
    EXPECT_EQ(Hex(Make(CMD_CBUS,
                       [](PacketFile& p) {
                           p.WriteWordBE(0x1234);
                           p.WriteWordBE(0x000F);
                       })),
              "AA 03 00 08 12 34 00 0F FF FF FE F6");
    EXPECT_EQ(Hex(Make(CMD_BLOCK_HEADER,
                       [](PacketFile& p) {
                           p.WriteWordBE(0);
                           p.WriteWordBE(1);
                       })),
              "AA 24 00 08 00 00 00 01 FF FF FF 29");
    EXPECT_EQ(Hex(Make(CMD_BLOCK_COUNT, [](PacketFile& p) { p.WriteWordBE(3); })),
              "AA 21 00 06 00 03 FF FF FF 2C");
}

TEST_F(PacketFileTest, AppendFileCopiesWholeSourceOrNothing) {
    m_dir.Write("empty.bin", "");
    bool opened = false;
    EXPECT_EQ(
        Hex(Make(CMD_UPLOAD, [&](PacketFile& p) { opened = p.AppendFile(m_dir / "empty.bin"); })),
        "AA 05 00 04 FF FF FF 4D");
    EXPECT_TRUE(opened);
    Make(CMD_UPLOAD, [&](PacketFile& p) { opened = p.AppendFile(m_dir / "missing.bin"); });
    EXPECT_FALSE(opened);

    // Larger than the copy buffer, with every byte value, so the checksum
    // read-back in chunks must add up to the byte-by-byte sum.
    std::string source;
    for (int i = 0; i < 65536; ++i) {
        source += static_cast<char>((i * 7) & 0xFF);
    }
    m_dir.Write("big.bin", source);
    std::string record =
        Make(CMD_UPLOAD, [&](PacketFile& p) { EXPECT_TRUE(p.AppendFile(m_dir / "big.bin")); });
    ASSERT_EQ(record.size(), 8u + source.size());
    EXPECT_EQ(record.substr(2, 2), std::string("\x00\x04", 2));  // 65540 modulo 65536
    EXPECT_EQ(record.substr(4, source.size()), source);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 < record.size(); ++i) {
        sum += static_cast<unsigned char>(record[i]);
    }
    EXPECT_EQ(ReadDwordBE(reinterpret_cast<const std::uint8_t*>(record.data()) + record.size() - 4),
              0u - sum);
}

TEST_F(PacketFileTest, OpenReplacesWhatHadTheName) {
    m_dir.Write("0001", std::string(100, 'x'));
    EXPECT_EQ(Make(CMD_END, [](PacketFile&) {}).size(), 8u);
}

// The sum is taken eight bytes at a time in rounds: every length around
// the word and round edges, all bytes 0xFF (the largest lanes) and a
// pattern, must give the byte-by-byte sum.
TEST(PacketRecordTest, ChecksumIsTheNegatedByteSumAtEveryLength) {
    std::vector<std::uint8_t> full(3000, 0xFF);
    std::vector<std::uint8_t> pattern(3000);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
    }
    for (const auto* bytes : {&full, &pattern}) {
        std::uint32_t sum = 0;
        for (std::size_t n = 0; n <= bytes->size(); ++n) {
            ASSERT_EQ(RecordChecksum(bytes->data(), n), 0u - sum) << "length " << n;
            if (n < bytes->size()) {
                sum += (*bytes)[n];
            }
        }
    }
}

TEST(PacketRecordTest, ChecksFraming) {
    std::string good = testing::Record(CMD_CBUS, testing::Words({0x1234, 0x000F}));
    auto check = [](const std::string& bytes) {
        return CheckRecord(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    };
    RecordCheck ok = check(good);
    EXPECT_TRUE(ok.Ok());
    EXPECT_EQ(ok.code, CMD_CBUS);
    EXPECT_EQ(ok.lengthField, 8);
    EXPECT_EQ(ok.payloadSize, 4u);
    EXPECT_STREQ(CommandName(ok.code), "CMD_CBUS");

    std::string badSync = good;
    badSync[0] = '\xAB';
    EXPECT_FALSE(check(badSync).syncOk);
    std::string badSum = good;
    badSum[5] ^= 1;
    EXPECT_FALSE(check(badSum).checksumOk);
    EXPECT_FALSE(check(good + '\0').lengthOk);
    EXPECT_FALSE(check(good.substr(0, 7)).complete);
    EXPECT_EQ(CommandName(0x77), nullptr);
}

}  // namespace
}  // namespace quillon
