// c_bus.txt and init_uploads.txt, as the input makes them, through the
// builder: every packet file it writes must be one well-formed record, and
// none may be left once the builder is gone.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "initfiles/init_file_builder.h"
#include "initfiles/wire.h"
#include "platform/file.h"

namespace {

using quillon::fuzz::Require;
using quillon::fuzz::ScratchFolder;

void CheckSeries(const quillon::InitFileBuilder& builder) {
    for (std::uint32_t n = 1; n <= builder.FileCount(); ++n) {
        std::vector<std::uint8_t> bytes;
        int openError = 0;
        if (!quillon::LoadRecordFile(builder.FileName(n), bytes, openError)) {
            continue;  // the step that failed removed its file
        }
        Require(quillon::CheckRecord(bytes.data(), bytes.size()).Ok(),
                "every packet file is one well-formed record");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchFolder& folder = ScratchFolder::ForThisRun();
    folder.Clear();
    // The input is c_bus.txt, a NUL, then init_uploads.txt; two uploads of
    // known sizes are there for its lines to name.
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\0');
    folder.Write("c_bus.txt", input.substr(0, split));
    folder.Write("init_uploads.txt",
                 split == std::string::npos ? std::string() : input.substr(split + 1));
    folder.Write("a.bin", std::string(300, 'a'));
    folder.Write("b", "");
    {
        quillon::InitFileBuilder builder;
        builder.SetFolder(folder.Path());
        try {
            // As an update does: the bus step alone, then the whole build.
            if (builder.WriteBusConfig()) {
                builder.Build();
            }
        } catch (const quillon::FileError&) {
            // An upload named as an unreadable file: a failed build, no crash.
        }
        CheckSeries(builder);
    }
    Require(folder.Count() == 4, "the builder removes every packet file it wrote");
    return 0;
}
