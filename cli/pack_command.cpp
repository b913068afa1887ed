#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/packet_series.h"
#include "initfiles/boot_folder.h"
#include "initfiles/wire.h"
#include "platform/file.h"

namespace quillon::cli {

namespace {

enum PackExit {
    kPacked = 0,
    kBusConfigFailed = 1,
    kBuildFailed = 2,
    kFileError = 3,
};

struct PackOptions {
    std::string bootFolder;
    std::string projectPath;
    std::string imagePath;
};

// One line per packet file: name, command, length field, checksum verdict.
void ListRecord(const std::string& name, int code, std::uint16_t lengthField) {
    const char* command = CommandName(static_cast<std::uint8_t>(code));
    // Summed as it was written, so its checksum is right.
    std::cout << name << "  " << (command ? command : "unknown") << "  length " << lengthField
              << "  checksum ok\n";
}

// The files of a failed step that were numbered but not written whole.
void ListUnwritten(const PacketSeries& series, std::uint32_t listed) {
    for (std::uint32_t n = listed + 1; n <= series.Numbered(); ++n) {
        std::string name = series.FileName(n);
        std::vector<std::uint8_t> bytes;
        int openError = 0;
        if (!LoadRecordFile(name, bytes, openError)) {
            std::cout << name << "  (not written: " << std::strerror(openError) << ")\n";
        }
    }
}

int PackSteps(PacketSeries& series, const std::uint32_t& listed);

int Pack(const PackOptions& options) {
    // The files are the point of packing; they stay whatever the outcome.
    PacketSeries series(PacketSeries::Use::Keep);
    series.SetInputs(NormalizeBootFolder(options.bootFolder), options.projectPath,
                     options.imagePath);
    // Held while the files are written, like an update's: the kept files
    // are then the user's, not a dead run's to clean up.
    if (!series.Lock()) {
        std::cerr << series.Message() << '\n';
        return kFileError;
    }
    std::uint32_t listed = 0;
    series.OnRecord([&listed](const std::string& name, int code, std::uint16_t length) {
        ListRecord(name, code, length);
        ++listed;
    });
    int result = PackSteps(series, listed);
    for (const std::string& warning : series.Warnings()) {
        std::cerr << warning << '\n';
    }
    if (result == kPacked) {
        // What every box of this series receives before its execute command.
        std::cout << "series " << series.Identity() << '\n';
    }
    return result;
}

int PackSteps(PacketSeries& series, const std::uint32_t& listed) {
    // As an update does: the bus step alone first, then the whole build
    // numbered on after it.
    for (auto step : {&PacketSeries::WriteBus, &PacketSeries::WriteRest}) {
        (series.*step)();
        const std::optional<StepFailure>& failed = series.Failed();
        ListUnwritten(series, listed);
        if (failed && failed->fileError) {
            std::cerr << failed->reason << '\n';
            return kFileError;
        }
        if (failed) {
            std::cerr << failed->message << '\n' << failed->reason << '\n';
            return failed->step == SeriesStep::Bus ? kBusConfigFailed : kBuildFailed;
        }
    }
    return kPacked;
}

}  // namespace

void AddPackCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<PackOptions>();
    auto* command = app.add_subcommand(
        "pack", "Write the packet series that an update sends before its execute command");
    command
        ->add_option("--boot-folder", options->bootFolder,
                     "Folder with c_bus.txt and init_uploads.txt; the packet files are written "
                     "into it. \"\" selects the full build, with folders from the project file")
        ->required();
    auto* project = command->add_option("--project", options->projectPath,
                                        "Project description of the full build (INI)");
    auto* image =
        command->add_option("--image", options->imagePath, "Flash image of the full build");
    project->needs(image);
    image->needs(project);
    command->footer(
        "Every packet file is listed as: name, command, record length field, checksum;\n"
        "then the series' identity (SHA-256 of the files in order).\n"
        "The files are kept, also after a failure.\n"
        "Exit codes:\n"
        "  0  the series was written\n"
        "  1  the bus step failed (\"Invalid CBUS file (BOOT)!\")\n"
        "  2  the build failed (\"Invalid input file (BOOT)!\")\n"
        "  3  a file could not be read or written, or another update or pack uses the folder\n"
        "  64 the command line was not understood");
    command->callback([options, &exitCode] { exitCode = Pack(*options); });
}

}  // namespace quillon::cli
