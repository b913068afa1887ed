#include "app/app_settings.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "initfiles/boot_folder.h"
#include "platform/ini_file.h"
#include "platform/program_path.h"

namespace quillon {

namespace {

constexpr std::size_t kTextBuffer = 260;

// "COM" in any case, then the number.
bool IsPortKey(const std::string& key) {
    return key.size() >= 4 && std::toupper(static_cast<unsigned char>(key[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(key[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(key[2])) == 'M';
}

PortMap ReadPorts(const std::string& path) {
    PortMap ports;
    for (const auto& [key, device] : IniGetSection(path, "PORTS")) {
        if (!IsPortKey(key)) {
            continue;
        }
        char* end = nullptr;
        long number = std::strtol(key.c_str() + 3, &end, 10);
        if (*end == '\0' && number > 0 && number < 1000 && !device.empty()) {
            ports.emplace(static_cast<int>(number), device);
        }
    }
    return ports;
}

}  // namespace

AppSettings::AppSettings()
    : AppSettings(FindSettingsFile(quillon::ProgramFolder(), UserConfigFolder()),
                  quillon::ProgramFolder()) {}

std::string AppSettings::FindSettingsFile(const std::string& programFolder,
                                          const std::string& userFolder) {
    std::string beside = programFolder + kSettingsFileName;
    std::error_code error;
    if (userFolder.empty() || std::filesystem::exists(beside, error)) {
        return beside;
    }
    return userFolder + "quillon/" + kSettingsFileName;
}

AppSettings::AppSettings(std::string settingsPath, std::string programFolder)
    : m_settingsPath(std::move(settingsPath)), m_programFolder(std::move(programFolder)) {}

void AppSettings::LoadFields() {
    const std::string& ini = m_settingsPath;
    const std::string& folder = m_programFolder;
    std::string folderWithoutSeparator =
        folder.empty() ? folder : folder.substr(0, folder.size() - 1);
    std::string project = folder + "BUILD/BUILD.PRJ";
    auto text = [&ini](const char* section, const char* key, const std::string& fallback) {
        return IniGetString(ini, section, key, fallback, kTextBuffer);
    };
    auto number = [&ini](const char* section, const char* key, std::uint32_t fallback) {
        return static_cast<std::int32_t>(IniGetInt(ini, section, key, fallback));
    };
    // An existing folder named without its trailing separator would make the
    // build look for "<folder>c_bus.txt"; the separator is added here.
    m_pathToBootFiles = NormalizeBootFolder(text("BOOT", "PathToBootFiles", folder));
    m_pathToFlashSec = text("COMMON", "PathToFlashSec", folder);
    m_timerTime = number("COMMON", "TimerTime", 1024);
    m_pathToFdd = text("APP", "PathToFdd", folderWithoutSeparator);
    m_lastDevice = number("COMMON", "LastDevice", 1);
    m_lastSpeed = number("COMMON", "LastSpeed", 115200);
    m_lastLptAddr = number("COMMON", "LastLptAddr", 378);
    m_lastExecAddr = IniGetInt(ini, "COMMON", "LastExecAddr", 0x800001A0);
    m_compMain = number("COMMON", "CompMain", 1);
    m_enabFddAddr = number("COMMON", "EnabFddAddr", 1);
    m_enabOnTop = number("COMMON", "EnabOnTop", 1);
    m_lastForBuild = text("COMMON", "LastForBuild", project);
    m_lastForCreate = text("COMMON", "LastForCreate", project);
    m_lptAddrStr = text("LPT", "LptAddrStr", "278,378");
    m_ports = ReadPorts(ini);
}

void AppSettings::Load() {
    LoadFields();
    Save();
}

void AppSettings::Save() const {
    AppSettings stored(m_settingsPath, m_programFolder);
    stored.LoadFields();
    bool changed = m_pathToBootFiles != stored.m_pathToBootFiles ||
                   m_lastDevice != stored.m_lastDevice || m_lastSpeed != stored.m_lastSpeed ||
                   m_lastExecAddr != stored.m_lastExecAddr;
    if (changed) {
        // The user's settings folder may not exist before the first save.
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(m_settingsPath).parent_path(),
                                            ignored);
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
