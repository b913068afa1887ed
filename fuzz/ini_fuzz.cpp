// Any settings file through the INI reader and writer: reading never fails,
// and a value written is the value read back.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/file.h"
#include "platform/ini_file.h"

namespace {

using quillon::fuzz::Require;
using quillon::fuzz::ScratchFolder;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchFolder& folder = ScratchFolder::ForThisRun();
    folder.Clear();
    std::string path =
        folder.Write("quillon.INI", std::string(reinterpret_cast<const char*>(data), size));

    std::string boot = quillon::IniGetString(path, "BOOT", "PathToBootFiles", "/d/", 260);
    Require(boot.size() < 260, "a value is cut to its buffer");
    quillon::IniGetInt(path, "COMMON", "LastSpeed", 115200);
    quillon::IniGetInt(path, "common", "lastexecaddr", 0x800001A0);
    quillon::IniGetSection(path, "PORTS");

    try {
        quillon::IniWriteString(path, "COMMON", "LastDevice", "7");
        quillon::IniWriteString(path, "BOOT", "PathToBootFiles", "/media/boot/");
    } catch (const quillon::FileError&) {
        return 0;
    }
    Require(quillon::IniGetInt(path, "COMMON", "LastDevice", 0) == 7,
            "an integer written is read back");
    Require(quillon::IniGetString(path, "BOOT", "PathToBootFiles", "", 260) == "/media/boot/",
            "a text written is read back");
    return 0;
}
