#include "settings/app_settings.h"

#include <cctype>
#include <cstdlib>
#include <optional>

#include "initfiles/boot_folder.h"
#include "platform/file.h"
#include "platform/ini_file.h"
#include "platform/program_path.h"

namespace quillon {

namespace {

// Texts that are not paths keep the buffer of the classic reader.
constexpr std::size_t kTextBuffer = 260;

// "COM" in any case, then the number.
bool IsPortKey(const std::string& key) {
    return key.size() >= 4 && std::toupper(static_cast<unsigned char>(key[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(key[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(key[2])) == 'M';
}

// "COM3" as 3; 0 for any other key.
int PortOfKey(const std::string& key) {
    if (!IsPortKey(key)) {
        return 0;
    }
    char* end = nullptr;
    long number = std::strtol(key.c_str() + 3, &end, 10);
    return *end == '\0' && number > 0 && number < 1000 ? static_cast<int>(number) : 0;
}

}  // namespace

void AppSettings::ReadStation(const IniDocument& ini) {
    auto text = [&](const char* key) {
        if (std::string problem = ini.Problem("STATION", key); !problem.empty()) {
            m_problems[key] = problem;
        }
        return ini.Find("STATION", key).value_or(std::string());
    };
    m_station = Station{};
    m_station.name = text("Name");
    m_station.ports = text("Ports");
    m_station.log = text("Log");
    m_station.traceDir = text("TraceDir");
    m_station.expectSeries = text("ExpectSeries");
    m_station.resetCommand = text("ResetCommand");
    m_station.metrics = text("Metrics");
    if (std::string timeout = text("ResetTimeout"); !timeout.empty()) {
        m_station.resetTimeout = std::strtod(timeout.c_str(), nullptr);
    }
    m_station.boxIdCommand = text("BoxIdCommand");
    m_station.retries = text("Retries");
    m_station.operatorName = text("Operator");
    m_station.lot = text("Lot");
    m_station.sound = text("Sound");
    m_station.traceKeep = text("TraceKeep");
    m_station.traceDirMax = text("TraceDirMax");
    for (const char* key : kStationCommandKeys) {
        text(key);  // for its problem: the face that runs it asks
    }
    for (const auto& [key, value] : ini.Section("RESET")) {
        if (int port = PortOfKey(key); port > 0 && !value.empty()) {
            m_station.resetCommands[port] = value;
            if (std::string problem = ini.Problem("RESET", key); !problem.empty()) {
                m_problems["[RESET] COM" + std::to_string(port)] = problem;
            }
        }
    }
    for (const auto& [key, value] : ini.Section("SLOTS")) {
        if (int port = PortOfKey(key); port > 0 && !value.empty()) {
            ReadSlotName(port, value);
        }
    }
}

// "A01 | left front": a short label, then the name; a name alone, as files
// before labels have it, is the name.
void AppSettings::ReadSlotName(int port, const std::string& value) {
    const std::string bar = " | ";
    std::size_t at = value.find(bar);
    if (at == std::string::npos) {
        m_station.slotNames[port] = value;
        return;
    }
    std::string label = value.substr(0, at);
    std::string name = value.substr(at + bar.size());
    if (!label.empty()) {
        m_station.slotLabels[port] = label;
    }
    if (!name.empty()) {
        m_station.slotNames[port] = name;
    }
}

void AppSettings::ReadPorts(const IniDocument& ini) {
    m_ports.clear();
    for (const auto& [key, device] : ini.Section("PORTS")) {
        int number = PortOfKey(key);
        if (number > 0 && !device.empty()) {
            m_ports.emplace(number, device);
            if (std::string problem = ini.Problem("PORTS", key); !problem.empty()) {
                m_problems["COM" + std::to_string(number)] = problem;
            }
        }
    }
}

AppSettings::AppSettings()
    : AppSettings(FindSettingsFile(quillon::ProgramFolder(), UserConfigFolder()),
                  quillon::ProgramFolder()) {}

std::string AppSettings::FindSettingsFile(const std::string& programFolder,
                                          const std::string& userFolder) {
    std::string beside = programFolder + kSettingsFileName;
    if (userFolder.empty() || PathExists(beside)) {
        return beside;
    }
    return userFolder + "quillon/" + kSettingsFileName;
}

AppSettings::AppSettings(std::string settingsPath, std::string programFolder)
    : m_settingsPath(std::move(settingsPath)), m_programFolder(std::move(programFolder)) {}

void AppSettings::LoadFields() {
    IniDocument ini(m_settingsPath);
    m_problems.clear();
    m_warnings.clear();
    const std::string& folder = m_programFolder;
    std::string folderWithoutSeparator =
        folder.empty() ? folder : folder.substr(0, folder.size() - 1);
    std::string project = folder + "BUILD/BUILD.PRJ";
    // Paths whole: one cut to a buffer names another folder, whose files
    // would then go to the box.
    auto path = [&](const char* section, const char* key, const std::string& fallback) {
        if (std::string problem = ini.Problem(section, key); !problem.empty()) {
            m_problems[key] = problem;
        }
        return ini.Find(section, key).value_or(fallback);
    };
    auto text = [&](const char* section, const char* key, const std::string& fallback) {
        return ini.Find(section, key).value_or(fallback).substr(0, kTextBuffer - 1);
    };
    auto number = [&](const char* section, const char* key, std::uint32_t fallback) {
        if (std::string problem = ini.Problem(section, key); !problem.empty()) {
            m_problems[key] = problem;
        }
        std::optional<std::string> value = ini.Find(section, key);
        return value ? IniParseInt(*value) : fallback;
    };
    // An existing folder named without its trailing separator would make the
    // build look for "<folder>c_bus.txt"; the separator is added here.
    m_pathToBootFiles = NormalizeBootFolder(path("BOOT", "PathToBootFiles", folder));
    m_pathToFlashSec = path("COMMON", "PathToFlashSec", folder);
    m_timerTime = static_cast<std::int32_t>(number("COMMON", "TimerTime", 1024));
    m_pathToFdd = path("APP", "PathToFdd", folderWithoutSeparator);
    m_lastDevice = static_cast<std::int32_t>(number("COMMON", "LastDevice", 1));
    m_lastSpeed = static_cast<std::int32_t>(number("COMMON", "LastSpeed", 115200));
    m_lastLptAddr = static_cast<std::int32_t>(number("COMMON", "LastLptAddr", 378));
    m_lastExecAddr = number("COMMON", "LastExecAddr", 0x800001A0);
    CheckStartAddress(ini);
    m_compMain = static_cast<std::int32_t>(number("COMMON", "CompMain", 1));
    m_enabFddAddr = static_cast<std::int32_t>(number("COMMON", "EnabFddAddr", 1));
    m_enabOnTop = static_cast<std::int32_t>(number("COMMON", "EnabOnTop", 1));
    m_lastForBuild = path("COMMON", "LastForBuild", project);
    m_lastForCreate = path("COMMON", "LastForCreate", project);
    m_lptAddrStr = text("LPT", "LptAddrStr", "278,378");
    ReadPorts(ini);
    ReadStation(ini);
    if (!ini.ReadWhole()) {
        m_warnings.push_back("warning: " + m_settingsPath +
                             " has lines or a size past what is read (64 KiB a line, 1 MiB in "
                             "all); what lies beyond was passed over");
    }
}

// The start address is the one number whose every bit counts: one past 32
// bits kept modulo 2^32 would send the box to another address.
void AppSettings::CheckStartAddress(const IniDocument& ini) {
    std::optional<std::string> value = ini.Find("COMMON", "LastExecAddr");
    bool fits = true;
    if (value) {
        IniParseInt(*value, &fits);
    }
    if (!fits) {
        m_problems["LastExecAddr"] = "LastExecAddr=" + *value + " in " + m_settingsPath +
                                     " is more than the highest start address, FFFFFFFF";
    }
}

std::string AppSettings::Problem(const std::string& key) const {
    auto found = m_problems.find(key);
    return found == m_problems.end() ? std::string() : found->second;
}

// Loading writes nothing back: the values came from the file, and writing
// them again could only undo what another instance saved in between, or end
// a start-up on a file that cannot be written.
void AppSettings::Load() {
    LoadFields();
}

void AppSettings::Save() const {
    AppSettings stored(m_settingsPath, m_programFolder);
    stored.LoadFields();
    bool changed = m_pathToBootFiles != stored.m_pathToBootFiles ||
                   m_lastDevice != stored.m_lastDevice || m_lastSpeed != stored.m_lastSpeed ||
                   m_lastExecAddr != stored.m_lastExecAddr;
    if (changed) {
        // The user's settings folder may not exist before the first save.
        MakeFolderFor(m_settingsPath);
    }
    // Only what the user changed goes back, so a value the file never held
    // stays a default and every other line stays as it was.
    if (m_pathToBootFiles != stored.m_pathToBootFiles) {
        IniWriteString(m_settingsPath, "BOOT", "PathToBootFiles", m_pathToBootFiles);
    }
    if (m_lastDevice != stored.m_lastDevice) {
        IniWriteString(m_settingsPath, "COMMON", "LastDevice", std::to_string(m_lastDevice));
    }
    if (m_lastSpeed != stored.m_lastSpeed) {
        IniWriteString(m_settingsPath, "COMMON", "LastSpeed", std::to_string(m_lastSpeed));
    }
    if (m_lastExecAddr != stored.m_lastExecAddr) {
        IniWriteString(m_settingsPath, "COMMON", "LastExecAddr", std::to_string(m_lastExecAddr));
    }
}

}  // namespace quillon
