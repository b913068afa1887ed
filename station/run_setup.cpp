#include "station/run_setup.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "initfiles/boot_folder.h"
#include "platform/program_path.h"
#include "quillon/version.h"
#include "settings/app_settings.h"
#include "settings/port_numbers.h"
#include "settings/start_address.h"
#include "station/exit_codes.h"
#include "station/slot_labels.h"
#include "station/station_metrics.h"

namespace quillon {

namespace {

// The settings give the update a value it cannot use: the update then
// fails as a port that will not open, naming the key.
void NoteProblem(const AppSettings& settings, const std::string& key, UpdateRequest& request) {
    std::string problem = settings.Problem(key);
    if (!problem.empty() && request.refusal.empty()) {
        request.refusal = problem;
    }
}

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", seconds);
    return text;
}

bool Fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// Within [kShortestTimeLimit, most], NaN refused.
bool TimeLimitInRange(double seconds, double most) {
    return seconds >= kShortestTimeLimit && seconds <= most;
}

bool MakeRequest(const RunOptions& options, const AppSettings& settings, UpdateRequest& request,
                 std::string& error) {
    request.bootFolder = settings.m_pathToBootFiles;
    request.startAddress = settings.m_lastExecAddr;
    request.baudRate = settings.m_lastSpeed;
    request.comPort = settings.m_lastDevice;
    if (options.bootFolder) {
        request.bootFolder = NormalizeBootFolder(*options.bootFolder);
    } else {
        NoteProblem(settings, "PathToBootFiles", request);
    }
    if (!options.startAddress.empty()) {
        auto address = ParseStartAddress(options.startAddress, AddressText::Whole);
        if (!address) {
            return Fail(error, "--start-address: not a hexadecimal address of at most 32 bits: " +
                                   options.startAddress);
        }
        request.startAddress = *address;
    } else {
        NoteProblem(settings, "LastExecAddr", request);
    }
    if (options.baud > 0) {
        request.baudRate = options.baud;
    } else {
        NoteProblem(settings, "LastSpeed", request);
    }
    request.projectPath = options.project;
    request.imagePath = options.image;
    if (options.waitTimeout != 0) {
        if (!TimeLimitInRange(options.waitTimeout, kLongestWaitTimeout)) {
            return Fail(error, "--wait-timeout: must be 0 (no limit) or from " +
                                   FormatSeconds(kShortestTimeLimit) + " to " +
                                   FormatSeconds(kLongestWaitTimeout) + " seconds, not " +
                                   FormatSeconds(options.waitTimeout));
        }
        request.waitLimit = Milliseconds(options.waitTimeout);
    }
    return true;
}

SlotSpec PortSlot(int number, const AppSettings& settings) {
    std::string device = DeviceForPort(number, settings.m_ports);
    auto name = settings.m_station.slotNames.find(number);
    auto reset = settings.m_station.resetCommands.find(number);
    auto label = settings.m_station.slotLabels.find(number);
    return {name != settings.m_station.slotNames.end() ? name->second : device, device, number,
            reset != settings.m_station.resetCommands.end() ? reset->second : std::string(),
            label != settings.m_station.slotLabels.end() ? label->second : std::string()};
}

bool AddPortSlots(const std::string& list, const char* what, const AppSettings& settings,
                  std::vector<SlotSpec>& slots, std::string& error) {
    std::vector<int> numbers;
    if (!ParsePortList(list, numbers)) {
        return Fail(error, std::string(what) + ": " + list +
                               " is no list of port numbers from 1 to 999 (such as 1-8,12)");
    }
    for (int number : numbers) {
        slots.push_back(PortSlot(number, settings));
    }
    return true;
}

// Each --device, each number of each --port list; else a station's ports;
// else the settings' port.
bool MakeSlots(const RunOptions& options, const AppSettings& settings, RunSetup& setup,
               std::string& error) {
    std::vector<SlotSpec>& slots = setup.config.slots;
    UpdateRequest& request = setup.config.request;
    for (const std::string& device : options.devices) {
        slots.push_back({device, device, 0, {}, {}});
    }
    for (const std::string& list : options.ports) {
        if (!AddPortSlots(list, "--port", settings, slots, error)) {
            return false;
        }
    }
    // One port named by number is the port of a single update.
    if (options.ports.size() == 1 && options.devices.empty() && slots.size() == 1) {
        request.comPort = slots.front().port;
    }
    if (slots.empty() && options.station && !settings.m_station.ports.empty() &&
        !AddPortSlots(settings.m_station.ports, "[STATION] Ports", settings, slots, error)) {
        return false;
    }
    if (slots.empty()) {
        NoteProblem(settings, "LastDevice", request);
        slots.push_back(PortSlot(request.comPort, settings));
    }
    for (const SlotSpec& slot : slots) {
        if (slot.port > 0) {
            NoteProblem(settings, "COM" + std::to_string(slot.port), request);
            NoteProblem(settings, "[RESET] COM" + std::to_string(slot.port), request);
        }
    }
    return true;
}

// How a station tries and names its boxes: the options', else the
// settings'. They guard every update, so they apply to a single one too.
bool TakeBoxKeys(const RunOptions& options, const AppSettings::Station& keys, StationConfig& config,
                 std::string& error) {
    auto pick = [](const std::string& option, const std::string& key) {
        return !option.empty() ? option : key;
    };
    config.boxIdCommand = pick(options.boxIdCommand, keys.boxIdCommand);
    config.operatorName = pick(options.operatorName, keys.operatorName);
    config.lot = pick(options.lot, keys.lot);
    if (options.retries) {
        config.retries = *options.retries;
    } else if (!keys.retries.empty()) {
        char* end = nullptr;
        long retries = std::strtol(keys.retries.c_str(), &end, 10);
        if (*end != '\0' || retries < 0 || retries > kMostRetries) {
            return Fail(error, "[STATION] Retries must be a whole number from 0 to " +
                                   std::to_string(kMostRetries) + ", not " + keys.retries);
        }
        config.retries = static_cast<int>(retries);
    }
    if (config.retries < 0 || config.retries > kMostRetries) {
        return Fail(error, "--retries: a whole number from 0 to " + std::to_string(kMostRetries));
    }
    return true;
}

// Which traces stay, and how much of them: the options', else the settings'.
bool TakeTraceKeys(const RunOptions& options, const AppSettings::Station& keys,
                   StationConfig& config, std::string& error) {
    bool fromOption = !options.traceKeep.empty();
    std::string keep = fromOption ? options.traceKeep : keys.traceKeep;
    if (!keep.empty() && keep != "all" && keep != "failed") {
        return Fail(error, std::string(fromOption ? "--trace-keep" : "[STATION] TraceKeep") +
                               ": all or failed, not " + keep);
    }
    config.traceKeepFailed = keep == "failed";
    fromOption = !options.traceDirMax.empty();
    std::string most = fromOption ? options.traceDirMax : keys.traceDirMax;
    if (most.empty()) {
        return true;
    }
    std::optional<std::uint64_t> bytes = ParseByteSize(most);
    if (!bytes) {
        return Fail(error, std::string(fromOption ? "--trace-dir-max" : "[STATION] TraceDirMax") +
                               ": a size such as 500M or 2G, not " + most);
    }
    config.traceDirMax = *bytes;
    return true;
}

// A station's files and checks: the options', else the settings'.
bool TakeStationKeys(const RunOptions& options, const AppSettings& settings, StationConfig& config,
                     std::string& error) {
    // A guard written in the settings file guards every update, a single
    // one too; an option given wins over it.
    const AppSettings::Station& keys = settings.m_station;
    auto pick = [](const std::string& option, const std::string& key) {
        return !option.empty() ? option : key;
    };
    config.logPath = pick(options.log, keys.log);
    config.traceDir = pick(options.traceDir, keys.traceDir);
    if (!TakeTraceKeys(options, keys, config, error)) {
        return false;
    }
    config.request.expectedSeries = pick(options.expectSeries, keys.expectSeries);
    if (!config.request.expectedSeries.empty() && !IsSeriesPrefix(config.request.expectedSeries)) {
        return Fail(error, "the expected series must be 8 to 64 hexadecimal digits, not " +
                               config.request.expectedSeries);
    }
    config.resetCommand = pick(options.resetCommand, keys.resetCommand);
    // A command cut short would run another one: no update starts on it.
    for (std::string_view key : kStationCommandKeys) {
        bool overridden = (key == "ResetCommand" && !options.resetCommand.empty()) ||
                          (key == "BoxIdCommand" && !options.boxIdCommand.empty());
        if (!overridden) {
            NoteProblem(settings, std::string(key), config.request);
        }
    }
    double timeout = options.resetTimeout.value_or(keys.resetTimeout);
    if (!TimeLimitInRange(timeout, kLongestResetTimeout)) {
        return Fail(
            error,
            std::string(options.resetTimeout ? "--reset-timeout" : "[STATION] ResetTimeout") +
                ": the reset command's time limit must be from " +
                FormatSeconds(kShortestTimeLimit) + " to " + FormatSeconds(kLongestResetTimeout) +
                " seconds, not " + FormatSeconds(timeout));
    }
    config.resetTimeout = Milliseconds(timeout);
    config.stationName = keys.name.empty() ? HostName() : keys.name;
    return TakeBoxKeys(options, keys, config, error);
}

// The option's endpoint, else a station's key. A build without an exporter
// refuses the option and passes over the key, saying so.
bool TakeMetrics(const RunOptions& options, const AppSettings& settings, RunSetup& setup,
                 std::string& error) {
    bool fromOption = !options.metrics.empty();
    std::string text = fromOption        ? options.metrics
                       : options.station ? settings.m_station.metrics
                                         : "";
    if (text.empty()) {
        return true;
    }
    std::string name = fromOption ? "--metrics" : "[STATION] Metrics";
    if (!StationMetricsBuilt()) {
        if (fromOption) {
            return Fail(error, name + ": this build serves no metrics (Linux only)");
        }
        setup.warnings.push_back("warning: " + name +
                                 " is passed over: this build serves no metrics (Linux only)");
        return true;
    }
    setup.config.metrics = ParseMetricsEndpoint(text, name, error);
    return setup.config.metrics.has_value();
}

bool TakeSound(const AppSettings::Station& keys, RunSetup& setup, std::string& error) {
    const std::string& sound = keys.sound;
    if (sound.empty() || sound == "failures") {
        setup.sound = SoundOn::Failures;
    } else if (sound == "off") {
        setup.sound = SoundOn::Never;
    } else if (sound == "all") {
        setup.sound = SoundOn::Every;
    } else {
        return Fail(error, "[STATION] Sound: off, failures or all, not " + sound);
    }
    return true;
}

bool CheckBoxCount(const RunOptions& options, std::string& error) {
    if (options.boxes < 1 || options.boxes > kMostEmulatedBoxes) {
        return Fail(error, "--boxes: a whole number from 1 to " +
                               std::to_string(kMostEmulatedBoxes) + ", not " +
                               std::to_string(options.boxes));
    }
    if (options.boxes > 1 && !options.simulate) {
        return Fail(error, "--boxes goes with --simulate");
    }
    return true;
}

}  // namespace

std::optional<std::uint64_t> ParseByteSize(const std::string& text) {
    std::size_t at = 0;
    std::uint64_t number = 0;
    constexpr std::uint64_t kMost = ~std::uint64_t{0};
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0; ++at) {
        auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (number > (kMost - digit) / 10) {
            return std::nullopt;
        }
        number = number * 10 + digit;
    }
    if (at == 0) {
        return std::nullopt;
    }
    std::string unit = text.substr(at);
    static const std::pair<const char*, int> kUnits[] = {
        {"K", 10}, {"M", 20}, {"G", 30}, {"T", 40}};
    int shift = -1;
    if (unit.empty() || unit == "B") {
        shift = 0;
    }
    for (const auto& [letter, bits] : kUnits) {
        std::string base = letter;
        if (unit == base || unit == base + "B" || unit == base + "iB") {
            shift = bits;
        }
    }
    if (shift < 0 || (shift > 0 && number > (kMost >> shift))) {
        return std::nullopt;
    }
    return number << shift;
}

bool IsSeriesPrefix(const std::string& text) {
    return text.size() >= 8 && text.size() <= 64 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

int MakeRunSetup(const RunOptions& options, RunSetup& setup, std::string& error) {
    if (!CheckBoxCount(options, error)) {
        return kExitUsage;
    }
    AppSettings settings = options.settingsPath.empty()
                               ? AppSettings()
                               : AppSettings(options.settingsPath, AppSettings().ProgramFolder());
    settings.Load();
    setup.warnings = settings.Warnings();
    StationConfig& config = setup.config;
    if (!MakeRequest(options, settings, config.request, error) ||
        !TakeStationKeys(options, settings, config, error) ||
        !TakeMetrics(options, settings, setup, error) ||
        !TakeSound(settings.m_station, setup, error)) {
        return kExitUsage;
    }
    if (options.simulate) {
        setup.boxes = std::make_unique<EmulatedBoxes>();
        if (!setup.boxes->Start(options.boxes, options.box, config.request.baudRate, error)) {
            error = "cannot start the box emulator: " + error;
            return kExitPortOpen;
        }
        for (const std::string& device : setup.boxes->Devices()) {
            config.slots.push_back({device, device, 0, {}, {}});
        }
    } else if (!MakeSlots(options, settings, setup, error)) {
        return kExitUsage;
    }
    FillSlotLabels(config.slots);
    config.repeat = options.station;
    config.count = options.count;
    config.version = kVersion;
    // With one device the update runs as it always has: the handshake, then
    // the build. Several, or box after box, share one build made first.
    config.shareSeries = config.slots.size() > 1 || options.station;
    config.tracePath = options.trace;
    if (!options.trace.empty() && config.shareSeries) {
        error =
            "--trace records one line: give one device, without --repeat (--trace-dir keeps "
            "a trace for each box)";
        return kExitUsage;
    }
    return kExitSuccess;
}

int MakeOneSlotSetup(const AppSettings& settings, const UpdateRequest& request,
                     StationConfig& config, std::string& error) {
    config.request = request;
    if (!TakeStationKeys(RunOptions{}, settings, config, error)) {
        return kExitUsage;
    }
    SlotSpec slot = PortSlot(request.comPort, settings);
    if (!request.device.empty()) {
        slot.device = request.device;
    }
    config.slots = {slot};
    FillSlotLabels(config.slots);
    config.version = kVersion;
    return kExitSuccess;
}

}  // namespace quillon
