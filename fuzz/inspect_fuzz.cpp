// Any bytes as a packet file through `quillon-cli inspect` (its loading,
// record check and decoding), and as line traffic through the trace's
// record and frame decoding.
#include <chrono>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "fuzz/fuzz_support.h"
#include "initfiles/wire.h"
#include "station/trace_file.h"

namespace {

using quillon::fuzz::Require;
using quillon::fuzz::ScratchFolder;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchFolder& folder = ScratchFolder::ForThisRun();
    std::string path =
        folder.Write("record", std::string(reinterpret_cast<const char*>(data), size));

    quillon::RecordCheck check = quillon::CheckRecord(data, size);
    if (check.Ok()) {
        Require(quillon::RecordSizeFor(check.lengthField) == size,
                "a well-formed record is as long as its length field says");
        Require(quillon::RecordChecksum(data, size - 4) == check.storedChecksum,
                "a well-formed record carries its checksum");
    }

    // The command's report goes nowhere; only its exit code is kept.
    std::ostringstream sink;
    std::streambuf* out = std::cout.rdbuf(sink.rdbuf());
    std::streambuf* err = std::cerr.rdbuf(sink.rdbuf());
    int exitCode = -1;
    CLI::App app;
    quillon::cli::AddInspectCommand(app, exitCode);
    std::vector<std::string> arguments = {path, "inspect"};  // parsed from the back
    app.parse(arguments);
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
    if (exitCode == 0) {
        Require(check.Ok() && check.codeKnown, "inspect passes only a record the box accepts");
    }
    Require(exitCode >= 0 && exitCode <= 2, "inspect ends with one of its exit codes");

    quillon::TraceWriter trace;  // not opened: decoding only
    trace.OnSent(data, size, std::chrono::steady_clock::now());
    trace.OnReceived(data, size, std::chrono::steady_clock::now());
    std::vector<std::uint8_t> frame(data, data + (size < 8 ? size : 8));
    quillon::DescribeBoxFrame(frame);
    return 0;
}
