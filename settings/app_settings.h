#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "settings/port_numbers.h"

namespace quillon {

class IniDocument;

// The program's settings, read from the INI file beside the window program.
class AppSettings {
public:
    // The settings file the programs use (see FindSettingsFile).
    AppSettings();
    // A settings file elsewhere; programFolder stands in for the program's own.
    AppSettings(std::string settingsPath, std::string programFolder);

    // Fills every field from the settings file, each missing key with its default.
    void Load();
    // Writes back the working values (boot folder, port, rate, start address) that
    // differ from what the file yields now, key by key; creates the file only then.
    // Throws FileError when the file cannot be written.
    void Save() const;

    const std::string& SettingsPath() const { return m_settingsPath; }

    // quillon.INI beside the program when it is there (a portable copy),
    // else in the user's folder (userFolder/quillon/), where it is also
    // written when neither exists yet: an installed program must not write
    // beside itself in /usr/bin.
    static std::string FindSettingsFile(const std::string& programFolder,
                                        const std::string& userFolder);
    const std::string& ProgramFolder() const { return m_programFolder; }

    std::string m_pathToFlashSec;
    std::string m_pathToBootFiles;
    std::string m_pathToFdd;
    std::uint32_t m_lastExecAddr = 0x800001A0;
    std::int32_t m_timerTime = 1024;
    std::int32_t m_lastDevice = 1;
    std::int32_t m_lastSpeed = 115200;
    std::string m_lastForBuild;
    std::string m_lastForCreate;
    std::int32_t m_lastLptAddr = 378;
    std::int32_t m_compMain = 1;
    std::int32_t m_enabFddAddr = 1;
    std::int32_t m_enabOnTop = 1;
    std::string m_lptAddrStr;

    // The [PORTS] COMn keys: which device each port number names.
    PortMap m_ports;

    // A station's keys: [STATION], and per port [SLOTS] COMn (its name, or
    // "LABEL | name") and [RESET] COMn (its own reset command). Empty where
    // the file has none.
    struct Station {
        std::string name;
        std::string ports;  // "1-8,12"
        std::string log;
        std::string traceDir;
        std::string expectSeries;
        std::string resetCommand;
        double resetTimeout = 10;  // seconds
        std::string boxIdCommand;
        std::string retries;  // a whole number of tries after the first, as written
        std::string operatorName;
        std::string lot;
        std::string metrics;      // [ADDRESS:]PORT to serve Prometheus metrics on
        std::string sound;        // "off", "failures" or "all", as written
        std::string traceKeep;    // "all" or "failed", as written
        std::string traceDirMax;  // a size, as written ("500M")
        std::map<int, std::string> slotNames;
        std::map<int, std::string> slotLabels;  // the short label a tile shows large
        std::map<int, std::string> resetCommands;
    } m_station;

    // Why the value of a key cannot be used, by key ("LastExecAddr",
    // "COM3", "[RESET] COM3"); empty when it can. Paths are taken whole, never cut to a
    // buffer, so only a line too long to read or a number that needs more
    // than 32 bits where no more is wanted has a problem. An update that
    // would use such a value does not start.
    std::string Problem(const std::string& key) const;
    // What the file holds that was passed over ("only its first MiB was read").
    const std::vector<std::string>& Warnings() const { return m_warnings; }

private:
    void LoadFields();
    void ReadPorts(const IniDocument& ini);
    void ReadStation(const IniDocument& ini);
    void ReadSlotName(int port, const std::string& value);
    void CheckStartAddress(const IniDocument& ini);

    std::map<std::string, std::string> m_problems;
    std::vector<std::string> m_warnings;

    std::string m_settingsPath;
    std::string m_programFolder;
};

// The [STATION] keys whose values run through the shell: one cut short
// would run another command.
constexpr const char* kStationCommandKeys[] = {"ResetCommand", "BoxIdCommand"};

// The window program's name, after which the settings file is named.
constexpr const char* kSettingsFileName = "quillon.INI";

}  // namespace quillon
