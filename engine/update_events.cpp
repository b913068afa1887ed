#include "engine/update_events.h"

#include <algorithm>
#include <cctype>

#include "engine/update_request.h"

namespace quillon {

const char* PhaseName(UpdatePhase phase) {
    switch (phase) {
        case UpdatePhase::Starting:
            return "other";
        case UpdatePhase::Waiting:
            return "wait";
        case UpdatePhase::Preparing:
            return "prepare";
        case UpdatePhase::Download:
            return "download";
        case UpdatePhase::Execute:
            return "execute";
        case UpdatePhase::Erase:
            return "erase";
        case UpdatePhase::Burn:
            return "burn";
        case UpdatePhase::Ended:
            return "end";
    }
    return "other";
}

namespace {

struct CauseName {
    Cause cause;
    const char* key;
};

constexpr CauseName kCauseNames[] = {
    {Cause::None, ""},
    {Cause::RecordRejected, "record_rejected"},
    {Cause::NoReply, "no_reply"},
    {Cause::LineLost, "line_lost"},
    {Cause::LineLostErasing, "line_lost_erasing"},
    {Cause::LineLostBurning, "line_lost_burning"},
    {Cause::NoBootLoader, "no_boot_loader"},
    {Cause::SilentErasing, "silent_erasing"},
    {Cause::SilentBurning, "silent_burning"},
    {Cause::LineNoise, "line_noise"},
    {Cause::BoxReportedFailure, "box_reported_failure"},
    {Cause::Cancelled, "cancelled"},
    {Cause::PortOpenFailed, "port_open_failed"},
    {Cause::BootFolder, "boot_folder"},
    {Cause::BootFolderInUse, "boot_folder_in_use"},
    {Cause::PacketFileLost, "packet_file_lost"},
    {Cause::SeriesMismatch, "series_mismatch"},
    {Cause::ResetCommandFailed, "reset_command_failed"},
    {Cause::BoxIdFailed, "box_id_failed"},
};

}  // namespace

const char* CauseKey(Cause cause) {
    for (const CauseName& name : kCauseNames) {
        if (name.cause == cause) {
            return name.key;
        }
    }
    return "";
}

Cause CauseOfKey(const std::string& key) {
    for (const CauseName& name : kCauseNames) {
        if (key == name.key) {
            return name.cause;
        }
    }
    return Cause::None;
}

bool SeriesMatches(const std::string& identity, const std::string& expected) {
    if (expected.empty()) {
        return true;
    }
    return expected.size() <= identity.size() &&
           std::equal(
               expected.begin(), expected.end(), identity.begin(),
               [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace quillon
