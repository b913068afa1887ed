// What only the Win32 bodies do. These programs carry no manifest, so
// their ANSI code page is the system's, as for any program on Windows
// before 10 1903: update_under_wine.sh runs them again under the Russian
// and Japanese code pages, which cannot hold each other's letters.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/lock_file.h"
#include "platform/process.h"
#include "platform/program_path.h"
#include "platform/support_win32.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

// Whatever the port's state, the protocol's settings go over it, and the
// driver's own limits and characters stay, so that it takes the state.
TEST(Win32LineState, TheProtocolsSettingsOverThePortsOwnState) {
    DCB zeroed{};  // what a port that no program set may report
    DCB left{};    // what a terminal program may leave: 7E2, handshakes of every kind
    left.BaudRate = 9600;
    left.fParity = left.fOutxCtsFlow = left.fOutxDsrFlow = left.fDsrSensitivity = 1;
    left.fOutX = left.fInX = left.fErrorChar = left.fNull = left.fAbortOnError = 1;
    left.fTXContinueOnXoff = 1;
    left.fDtrControl = DTR_CONTROL_HANDSHAKE;
    left.fRtsControl = RTS_CONTROL_TOGGLE;
    left.ByteSize = 7;
    left.Parity = EVENPARITY;
    left.StopBits = TWOSTOPBITS;
    left.XonLim = 2048;
    left.XoffLim = 512;
    left.XonChar = left.XoffChar = 0x11;
    left.ErrorChar = '?';
    left.EofChar = 0x1A;
    left.EvtChar = '\n';
    for (const DCB& before : {zeroed, left}) {
        DCB state = detail::LineState(before, 115200);
        EXPECT_EQ(state.DCBlength, sizeof(DCB));
        EXPECT_EQ(state.BaudRate, 115200u);
        EXPECT_EQ(state.ByteSize, 8);
        EXPECT_EQ(state.Parity, NOPARITY);
        EXPECT_EQ(state.StopBits, ONESTOPBIT);
        EXPECT_EQ(state.fBinary, 1u);
        EXPECT_EQ(state.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_EQ(state.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
        EXPECT_EQ(state.fParity + state.fOutxCtsFlow + state.fOutxDsrFlow + state.fDsrSensitivity +
                      state.fOutX + state.fInX + state.fErrorChar + state.fNull +
                      state.fAbortOnError + state.fTXContinueOnXoff,
                  0u);
        EXPECT_NE(state.XonChar, state.XoffChar);
        EXPECT_EQ(state.XonLim, before.XonLim);
        EXPECT_EQ(state.XoffLim, before.XoffLim);
        EXPECT_EQ(state.EofChar, before.EofChar);
        EXPECT_EQ(state.EvtChar, before.EvtChar);
    }
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(detail::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Folders whose names no single ANSI code page holds, and one past
// MAX_PATH: every step of an update's files works in them, and nothing is
// left behind.
TEST(Win32Names, EveryFileStepInFoldersOfAnyName) {
    TempDir temp;
    std::string deep = temp / std::string(120, 'd');
    std::string deeper = deep + "/" + std::string(120, 'e');
    for (const std::string& folder : {temp / "Прошивка Zoë", temp / "ブート Zoë", deep, deeper}) {
        ASSERT_TRUE(::CreateDirectoryW(detail::WidePath(folder).c_str(), nullptr)) << folder;
    }
    for (const std::string& folder : {temp / "Прошивка Zoë", temp / "ブート Zoë", deeper}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(File::FolderWriteError(folder), 0);
        LockFile lock;
        ASSERT_EQ(lock.TryTake(folder + "/.quillon.lock"), LockFile::Take::Taken);
        File packet;
        ASSERT_TRUE(packet.Open(folder + "/new", File::Mode::CreateFresh));
        packet.Write("\xAA\x03", 2);
        EXPECT_TRUE(packet.IsStillAt(folder + "/new"));
        packet.Close();
        File::Replace(folder + "/new", folder + "/0001");
        File reader;
        ASSERT_TRUE(reader.Open(folder + "/0001", File::Mode::ReadExisting));
        EXPECT_EQ(reader.GetLength(), 2u);
        reader.Close();
        File::Remove(folder + "/0001");
        lock.Release();
        Folder traces;  // a trace made in a folder held open
        ASSERT_TRUE(traces.Open(folder)) << traces.OpenFault().words;
        File trace;
        ASSERT_TRUE(trace.CreateIn(traces, "t.trace"));
        trace.Write("x", 1);
        EXPECT_TRUE(trace.IsStillAt(folder + "/t.trace"));
        trace.Close();
        EXPECT_FALSE(trace.CreateIn(traces, "t.trace"));
        EXPECT_EQ(trace.OpenFault().code, EEXIST);
        EXPECT_EQ(traces.Remove("t.trace"), 0);
        for (const char* name : {"/.quillon.lock", "/new", "/0001", "/t.trace"}) {
            EXPECT_FALSE(Exists(folder + name)) << name;
        }
    }
}

// The system's words come whole in UTF-8, in the user's language, without
// the closing full stop (Western or Japanese).
TEST(Win32Message, Utf8WithoutTheClosingStop) {
    for (DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SEM_TIMEOUT}) {
        std::string message = detail::Win32Message(error);
        SCOPED_TRACE(message);
        ASSERT_FALSE(message.empty());
        EXPECT_NE(::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, message.data(),
                                        static_cast<int>(message.size()), nullptr, 0),
                  0);
        EXPECT_EQ(std::string(" .\r\n").find(message.back()), std::string::npos);
        EXPECT_NE(message.substr(message.size() - 3), "\xE3\x80\x82");  // U+3002
    }
}

// update_under_wine.sh gives this word last, under code pages that hold
// only a part of it; it must come whole. Run without it, there is nothing
// to check.
TEST(Win32Arguments, ComeInUtf8WhateverTheCodePage) {
    const std::string word = "Прошивка ブート Zoë";
    int argc = 0;
    char** argv = nullptr;
    UseUtf8Arguments(argc, argv);
    ASSERT_GE(argc, 1);
    if (std::string(argv[argc - 1]).find("Zo") == std::string::npos) {
        GTEST_SKIP() << "no word given";
    }
    EXPECT_EQ(argv[argc - 1], word);
}

// A slot's name or device goes into the reset command as one word of
// cmd.exe's, or not at all where cmd.exe has no way to quote it.
TEST(Win32ShellCommand, WordsThatCmdCannotQuoteAreRefused) {
    EXPECT_EQ(QuoteForShell("left front! & more"), "\"left front! & more\"");
    EXPECT_EQ(QuoteForShell("\\\\.\\COM5"), "\"\\\\.\\COM5\"");
    for (const std::string& word :
         {std::string("a\"b"), std::string("%PATH%"), std::string("a\rb"), std::string("a\nb"),
          std::string("folder\\"), std::string("a\0b", 3)}) {
        EXPECT_EQ(QuoteForShell(word), std::nullopt) << word;
    }
}

// Through the system's cmd.exe: its lines on either stream, its exit
// status, and one that runs past its time is ended.
TEST(Win32ShellCommand, OutputExitStatusAndTimeLimit) {
    std::vector<std::string> lines;
    auto hear = [&lines](const std::string& line) { lines.push_back(line); };
    CommandResult failed = RunShellCommand("echo one& echo two>&2& exit 3", 10s, {}, hear);
    EXPECT_TRUE(failed.started) << failed.error;
    EXPECT_EQ(failed.Outcome(), "exited with 3");
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));

    CommandResult late = RunShellCommand("for /l %i in (1,0,2) do @rem", 300ms, {}, {});
    EXPECT_TRUE(late.timedOut);
}

}  // namespace
}  // namespace quillon
