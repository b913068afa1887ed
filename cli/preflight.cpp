#include "cli/preflight.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "initfiles/init_file_builder.h"
#include "platform/file.h"

namespace quillon::cli {

namespace {

const char* const kInvalidBus = "Invalid CBUS file (BOOT)!";
const char* const kInvalidInput = "Invalid input file (BOOT)!";

bool Refuse(TerminalView& view, const char* message, const std::string& reason) {
    view.FailureDetail(reason);
    view.AppMessageBox(message);
    return false;
}

std::string Size(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
    }
    return text;
}

}  // namespace

bool CheckInputs(const FlashConfig& config, TerminalView& view, SeriesFacts& facts) {
    const std::string& folder = config.bootFolder;
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        std::string why = error && error != std::errc::no_such_file_or_directory
                              ? ": " + error.message()
                          : std::filesystem::exists(folder, error) ? " is not a folder"
                                                                   : " does not exist";
        return Refuse(view, kInvalidBus, "boot folder " + folder + why);
    }
    InitFileBuilder builder;
    builder.MeasureOnly();
    builder.SetFolder(folder);
    if (!config.projectPath.empty()) {
        builder.SetProjectPaths(config.projectPath, config.imagePath);
    }
    std::string output = builder.OutputFolder();
    if (int refused = File::FolderWriteError(output.empty() ? "." : output); refused != 0) {
        return Refuse(view, kInvalidBus,
                      "cannot write in " + output + ": " + std::strerror(refused));
    }
    try {
        if (!builder.WriteBusConfig()) {
            return Refuse(view, kInvalidBus, builder.LastError());
        }
        if (!builder.Build()) {
            return Refuse(view, kInvalidInput, builder.LastError());
        }
    } catch (const FileError& failure) {
        return Refuse(view, kInvalidInput, failure.what());
    }
    for (const std::string& warning : builder.Warnings()) {
        view.Warning(warning);
    }
    facts.files = builder.FileCount();
    facts.bytes = builder.SeriesBytes();
    return true;
}

std::string UsingLine(const std::string& device, int baud, const FlashConfig& config,
                      const SeriesFacts& facts) {
    std::string inputs = config.bootFolder.empty()
                             ? "project " + config.projectPath + " and image " + config.imagePath
                             : "boot folder " + config.bootFolder;
    return "Using " + device + " at " + std::to_string(baud) + " baud, " + inputs + " (" +
           std::to_string(facts.files) + " packet files, " + Size(facts.bytes) + ")";
}

}  // namespace quillon::cli
