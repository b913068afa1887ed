#include "bench/trace_figure.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quillon::bench {
namespace {

std::optional<DownloadSpan> Find(const std::string& text, std::string* error = nullptr) {
    std::istringstream trace(text);
    return FindDownload(trace, error);
}

// Ready, handshake record and verdict, two files (16 + 4 bytes, 2 + 1
// lines), a reply to each, then the execute command: the span runs from the
// first file's first line to the reply before the execute command.
const char* const kUpdate =
    "  0.100000 < AA 01\n"
    "           = status reply 0x01\n"
    "  0.200000 > AA 03 00 06 12 34 FF FF FE F6\n"
    "           = record CMD_CBUS, length 6, checksum ok\n"
    "  0.210000 < AA\n"
    "  0.210100 < 06\n"
    "           = status reply 0x06\n"
    "  1.000000 > AA 05 00 10 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "  1.000000 > 01 02\n"
    "           = record CMD_UPLOAD, length 16, checksum ok\n"
    "  1.500000 < AA 06\n"
    "           = status reply 0x06\n"
    "  1.600000 > AA 05 00 04\n"
    "           = record CMD_UPLOAD, length 4, checksum BAD\n"
    "  2.000000 < AA\n"
    "  2.000500 < 06\n"
    "           = status reply 0x06\n"
    "  2.100000 > AA 09 00 08 80 00 00 00 FF FF FF 35\n"
    "           = record CMD_EXEC_ADDRESS, length 8, checksum ok\n"
    "  2.300000 < 0F 01\n"
    "           = progress: erasing has begun\n";

TEST(TraceFigure, SpanRunsFromTheFirstFileToTheLastReply) {
    std::string error;
    auto span = Find(kUpdate, &error);
    ASSERT_TRUE(span) << error;
    EXPECT_DOUBLE_EQ(span->start, 1.0);
    EXPECT_DOUBLE_EQ(span->end, 2.0005);
    EXPECT_EQ(span->bytes, 22u);
    EXPECT_EQ(span->replies, 2);
    EXPECT_DOUBLE_EQ(span->LineSeconds(1100), 0.2);
    EXPECT_NEAR(span->Utilisation(1100), 0.2 / 1.0005, 1e-12);
    // The reply read at 1.5 s, the next file written at 1.6 s.
    ASSERT_EQ(span->turnarounds.size(), 1u);
    EXPECT_NEAR(span->TurnaroundQuantile(0.5), 0.1, 1e-9);
}

TEST(TraceFigure, AnExecuteCommandInsideTheSeriesDoesNotEndIt) {
    // The full build sends an execute command among its files; only the
    // last one ends the download.
    std::string trace = kUpdate;
    std::string inner =
        "  1.550000 > AA 09 00 08 80 00 00 00 FF FF FF 35\n"
        "           = record CMD_EXEC_ADDRESS, length 8, checksum ok\n"
        "  1.560000 < AA 06\n"
        "           = status reply 0x06\n";
    trace.insert(trace.find("  1.600000"), inner);
    auto span = Find(trace);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->bytes, 34u);
    EXPECT_EQ(span->replies, 3);
    EXPECT_DOUBLE_EQ(span->end, 2.0005);
}

TEST(TraceFigure, IncompleteTracesAreRefused) {
    std::string error;
    std::string noExec = kUpdate;
    noExec.erase(noExec.find("  2.100000"));
    EXPECT_FALSE(Find(noExec, &error));
    EXPECT_EQ(error, "no final execute command");

    std::string handshakeOnly = kUpdate;
    handshakeOnly.erase(handshakeOnly.find("  1.000000"));
    EXPECT_FALSE(Find(handshakeOnly, &error));
    EXPECT_EQ(error, "no file after the handshake");

    EXPECT_FALSE(Find("", &error));
    EXPECT_FALSE(Find("garbage\n  x.y > AA\n", &error));
}

}  // namespace
}  // namespace quillon::bench
