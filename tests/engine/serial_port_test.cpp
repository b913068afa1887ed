#include "engine/serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stop_token>
#include <thread>
#include <vector>

#include "tests/engine/pty_pair.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::TempDir;
using Bytes = std::vector<unsigned char>;

constexpr int kBaud = 115200;

std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>(i * 7 + i / 256);
    }
    return text;
}

Bytes AsBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A port whose waits can be counted.
class CountingPort : public SerialPort {
public:
    using SerialPort::PauseCount;
    using SerialPort::ReadCount;
};

class WaitStatusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_port.Open(m_box.SlavePath(), kBaud), 1); }

    PtyPair m_box;
    CountingPort m_port;
};

TEST_F(WaitStatusTest, NoInputGivesNoReplyAfter102ReadsAndPauses) {
    EXPECT_EQ(m_port.WaitStatus(), 0xFF);
    EXPECT_EQ(m_port.ReadCount(), 102);
    EXPECT_EQ(m_port.PauseCount(), 102);
}

TEST_F(WaitStatusTest, SkipsBytesBeforeTheSyncAndDrainsTheRest) {
    m_box.SendAndSettle({0x12, 0xAA, 0x01, 0x33, 0x44});
    EXPECT_EQ(m_port.WaitStatus(), 0x01);
    unsigned char byte = 0;
    EXPECT_EQ(m_port.Read(&byte, 1), 0);
}

TEST_F(WaitStatusTest, NoiseWithoutSyncEndsAtOnce) {
    m_box.SendAndSettle({0x55, 0x55});
    EXPECT_EQ(m_port.WaitStatus(), 0xFF);
    EXPECT_EQ(m_port.PauseCount(), 0);
}

TEST_F(WaitStatusTest, CodeThatComesLateIsStillTaken) {
    m_box.SendAndSettle({0xAA});
    std::jthread late([this] {
        std::this_thread::sleep_for(500ms);
        m_box.Send({0x06});
    });
    EXPECT_EQ(m_port.WaitStatus(), 0x06);
}

TEST_F(WaitStatusTest, SecondSyncByteIsTheCode) {
    m_box.SendAndSettle({0xAA, 0xAA});
    EXPECT_EQ(m_port.WaitStatus(), 0xAA);
}

// The reply is read the moment it arrives: the pause it lands in ends early.
TEST_F(WaitStatusTest, ReplyDuringAPauseEndsThePause) {
    std::jthread reply([this] {
        std::this_thread::sleep_for(200ms);
        m_box.Send({0xAA, 0x01});
    });
    EXPECT_EQ(m_port.WaitStatus(), 0x01);
    EXPECT_LT(m_port.PauseCount(), 102);
}

TEST_F(WaitStatusTest, StopRequestEndsTheWait) {
    std::stop_source stop;
    m_port.SetStopToken(stop.get_token());
    std::jthread stopper([&stop] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    EXPECT_EQ(m_port.WaitStatus(), 0xFF);
    EXPECT_LT(m_port.PauseCount(), 102);
    unsigned char byte = 0x42;
    EXPECT_EQ(m_port.Write(&byte, 1), 0);
}

TEST_F(WaitStatusTest, HangUpEndsTheWaitAndIsReported) {
    std::jthread unplug([this] {
        std::this_thread::sleep_for(100ms);
        m_box.CloseMaster();
    });
    EXPECT_EQ(m_port.WaitStatus(), 0xFF);
    EXPECT_LT(m_port.PauseCount(), 102);
    EXPECT_TRUE(m_port.IsLineGone());
}

// At 9600 baud 2 KiB need over two seconds on the line; the box's reply
// after 1.6 s is in time, though the plain one-second wait would be over.
TEST(SerialPortLineTime, WaitCountsFromWhenTheLineIsIdle) {
    PtyPair box;
    SerialPort port;
    ASSERT_EQ(port.Open(box.SlavePath(), 9600), 1);
    std::string data = Pattern(2048);
    ASSERT_EQ(port.Write(data.data(), static_cast<int>(data.size())), 2048);
    std::jthread reply([&box] {
        std::this_thread::sleep_for(1600ms);
        box.Receive(10);
        box.Send({0xAA, 0x06});
    });
    EXPECT_EQ(port.WaitStatus(), 0x06);
}

class SendFilePieceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_port.Open(m_box.SlavePath(), kBaud), 1); }

    std::vector<int> SendAll(const std::string& path) {
        std::vector<int> results;
        for (int i = 0; i < 10; ++i) {
            results.push_back(m_port.SendFilePiece(path));
            if (results.back() <= 0) {
                break;
            }
        }
        return results;
    }

    TempDir m_dir;
    PtyPair m_box;
    SerialPort m_port;
};

TEST_F(SendFilePieceTest, SendsAFileInPiecesAndStartsOver) {
    std::string content = Pattern(2500);
    std::string path = m_dir.Write("0002", content);
    EXPECT_EQ(SendAll(path), (std::vector<int>{1024, 2048, 2500, -1}));
    EXPECT_EQ(m_port.Offset(), 0);
    EXPECT_EQ(m_box.Receive(), AsBytes(content));
    EXPECT_EQ(m_port.SendFilePiece(path), 1024);
}

TEST_F(SendFilePieceTest, WholePiecesEndWithAnEmptyRead) {
    std::string path = m_dir.Write("0002", Pattern(2048));
    EXPECT_EQ(SendAll(path), (std::vector<int>{1024, 2048, -1}));
}

TEST_F(SendFilePieceTest, EmptyFileIsCompleteAtOnce) {
    EXPECT_EQ(m_port.SendFilePiece(m_dir.Write("0002", "")), -1);
    EXPECT_TRUE(m_box.Receive().empty());
}

// The file stays open between pieces, yet each piece sees what opening the
// file anew would: a file removed fails, one put in its place is read on
// at the offset, one cut short ends.
TEST_F(SendFilePieceTest, FileChangedBetweenPiecesIsSeenAsIfOpenedAnew) {
    std::string path = m_dir.Write("0002", Pattern(3000));
    EXPECT_EQ(m_port.SendFilePiece(path), 1024);
    std::filesystem::remove(path);
    EXPECT_EQ(m_port.SendFilePiece(path), 0);

    EXPECT_EQ(m_port.SendFilePiece(m_dir.Write("0002", Pattern(3000))), 1024);
    std::string other(3000, 'o');
    m_dir.Write("0002.new", other);
    std::filesystem::rename(m_dir / "0002.new", path);
    m_box.Receive();
    EXPECT_EQ(m_port.SendFilePiece(path), 2048);
    EXPECT_EQ(m_box.Receive(), AsBytes(other.substr(1024, 1024)));

    std::filesystem::resize_file(path, 2048);
    EXPECT_EQ(m_port.SendFilePiece(path), -1);
}

TEST_F(SendFilePieceTest, MissingFileFails) {
    EXPECT_EQ(m_port.SendFilePiece(m_dir / "0009"), 0);
    EXPECT_EQ(m_port.Offset(), 0);
}

// A file that opens but cannot be read fails the piece instead of throwing.
TEST_F(SendFilePieceTest, UnreadableFileFails) {
    EXPECT_EQ(m_port.SendFilePiece("/proc/self/mem"), 0);
    EXPECT_EQ(m_port.Offset(), 0);
}

TEST_F(SendFilePieceTest, ShortWriteRestartsTheFile) {
    std::string content = Pattern(2500);
    std::string path = m_dir.Write("0002", content);
    EXPECT_EQ(m_port.SendFilePiece(path), 1024);
    m_box.Receive();

    std::stop_source stop;
    m_port.SetStopToken(stop.get_token());
    stop.request_stop();
    EXPECT_EQ(m_port.SendFilePiece(path), 0);
    EXPECT_EQ(m_port.Offset(), 0);

    m_port.SetStopToken({});
    EXPECT_EQ(m_port.SendFilePiece(path), 1024);
    EXPECT_EQ(m_box.Receive(), AsBytes(content.substr(0, 1024)));
}

TEST_F(SendFilePieceTest, HangUpMidFileFailsThePiece) {
    std::string path = m_dir.Write("0002", Pattern(4096));
    EXPECT_EQ(m_port.SendFilePiece(path), 1024);
    m_box.CloseMaster();
    EXPECT_EQ(m_port.SendFilePiece(path), 0);
    EXPECT_TRUE(m_port.IsLineGone());
    EXPECT_EQ(m_port.Offset(), 0);
}

bool FdIsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(SerialPortOpen, MissingDeviceFailsAndClosesNothing) {
    int other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    {
        SerialPort port;
        EXPECT_EQ(port.Open("/dev/quillon-no-such-port", kBaud), 0);
        EXPECT_EQ(port.OpenFault().words, "No such file or directory");
        EXPECT_FALSE(port.IsLineGone());
        unsigned char byte = 0;
        EXPECT_EQ(port.Write(&byte, 1), 0);
        EXPECT_EQ(port.WaitStatus(), 0xFF);
    }
    EXPECT_TRUE(FdIsOpen(other));
    ::close(other);
}

TEST(SerialPortOpen, PortHeldByAnotherDoesNotOpen) {
    PtyPair box;
    SerialPort holder;
    ASSERT_EQ(holder.Open(box.SlavePath(), kBaud), 1);
    {
        SerialPort second;
        EXPECT_EQ(second.Open(box.SlavePath(), kBaud), 0);
        EXPECT_EQ(second.OpenFault().words, "Device or resource busy");
    }
    unsigned char byte = 0x5A;
    EXPECT_EQ(holder.Write(&byte, 1), 1);
    EXPECT_EQ(box.Receive(), Bytes{0x5A});

    holder.Close();
    SerialPort third;
    EXPECT_EQ(third.Open(box.SlavePath(), kBaud), 1);
}

TEST(SerialPortOpen, PortNumberBelowOneNamesNoDevice) {
    SerialPort port;
    EXPECT_EQ(port.Open(0, kBaud), 0);
}

TEST(SerialPortOpen, SettingsAreRestoredOnClose) {
    PtyPair box(false);
    int slave = ::open(box.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    termios before{};
    ASSERT_EQ(::tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ECHO);
    {
        SerialPort port;
        ASSERT_EQ(port.Open(box.SlavePath(), 250000), 1);
        termios during{};
        ::tcgetattr(slave, &during);
        EXPECT_FALSE(during.c_lflag & ECHO);
    }
    termios after{};
    ::tcgetattr(slave, &after);
    // Left exclusive, the port would refuse every later open but root's.
    int exclusive = 1;
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    ::close(slave);
}

}  // namespace
}  // namespace quillon
