#include "platform/serial_devices.h"

#include <windows.h>
// windows.h first: setupapi.h takes its types from it.
#include <setupapi.h>

#include <cctype>
#include <cwchar>
#include <initializer_list>

#include "platform/support_win32.h"

namespace quillon {

namespace {

const char* const kDevicePrefix = "\\\\.\\COM";

// The device classes serial ports are found in: ports, and modems, which
// some USB adapters register as.
const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kModemClass = {
    0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// SetupAPI, loaded only while ports are listed: it brings user32 along,
// after which a console program no longer hears of logging off or shutting
// down, so nothing an update does loads it.
class SetupApi {
public:
    SetupApi()
        : m_module(::LoadLibraryExW(L"setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        if (m_module != nullptr) {
            Find(classDevices, "SetupDiGetClassDevsW");
            Find(enumDevice, "SetupDiEnumDeviceInfo");
            Find(openDeviceKey, "SetupDiOpenDevRegKey");
            Find(property, "SetupDiGetDeviceRegistryPropertyW");
            Find(destroyList, "SetupDiDestroyDeviceInfoList");
        }
    }
    SetupApi(const SetupApi&) = delete;
    SetupApi& operator=(const SetupApi&) = delete;
    ~SetupApi() {
        if (m_module != nullptr) {
            ::FreeLibrary(m_module);
        }
    }

    bool Usable() const {
        return classDevices && enumDevice && openDeviceKey && property && destroyList;
    }

    decltype(&SetupDiGetClassDevsW) classDevices = nullptr;
    decltype(&SetupDiEnumDeviceInfo) enumDevice = nullptr;
    decltype(&SetupDiOpenDevRegKey) openDeviceKey = nullptr;
    decltype(&SetupDiGetDeviceRegistryPropertyW) property = nullptr;
    decltype(&SetupDiDestroyDeviceInfoList) destroyList = nullptr;

private:
    template <typename Function>
    void Find(Function& function, const char* name) {
        function = reinterpret_cast<Function>(
            reinterpret_cast<void (*)()>(::GetProcAddress(m_module, name)));
    }

    HMODULE m_module;
};

// "COM5", as the device's own key names it.
std::string PortNameOf(const SetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA& device) {
    HKEY key = api.openDeviceKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    LONG result =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? detail::Utf8(name, std::wcslen(name))
                                                     : std::string();
}

std::string FriendlyNameOf(const SetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA& device) {
    wchar_t name[256] = {};
    DWORD type = 0;
    if (!api.property(devices, &device, SPDRP_FRIENDLYNAME, &type, reinterpret_cast<BYTE*>(name),
                      sizeof name - sizeof(wchar_t), nullptr) ||
        type != REG_SZ) {
        return {};
    }
    return detail::Utf8(name, std::wcslen(name));
}

// The names Device Manager shows ("USB Serial Port (COM5)"), by port name.
std::map<std::string, std::string> FriendlyNames() {
    std::map<std::string, std::string> names;
    SetupApi api;
    if (!api.Usable()) {
        return names;
    }
    for (const GUID& deviceClass : {kPortsClass, kModemClass}) {
        HDEVINFO devices = api.classDevices(&deviceClass, nullptr, nullptr, DIGCF_PRESENT);
        if (devices == INVALID_HANDLE_VALUE) {
            continue;
        }
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; api.enumDevice(devices, index, &device); ++index) {
            std::string port = PortNameOf(api, devices, device);
            std::string name = FriendlyNameOf(api, devices, device);
            if (!port.empty() && !name.empty()) {
                names[port] = name;
            }
        }
        api.destroyList(devices);
    }
    return names;
}

}  // namespace

// Every port that a driver has made, as the system's device map lists
// them, with the name Device Manager shows, else the driver's own.
std::map<std::string, SerialDeviceInfo> FindSerialDevices() {
    std::map<std::string, SerialDeviceInfo> found;
    std::map<std::string, std::string> names = FriendlyNames();
    for (const auto& [device, driver] : detail::SerialCommPorts()) {
        auto named = names.find(device.substr(4));
        found[device].usb = named != names.end() ? named->second : driver;
    }
    return found;
}

std::string DeviceBehind(const std::string& path) {
    return path.empty() ? std::string() : detail::PortDevicePath(path);
}

// From the device map alone: a station describes each port it opens, and
// must not load SetupAPI (see above).
SerialDeviceInfo DescribeSerialDevice(const std::string& device) {
    std::map<std::string, std::string> ports = detail::SerialCommPorts();
    auto named = ports.find(detail::PortDevicePath(device));
    SerialDeviceInfo info;
    if (named != ports.end()) {
        info.usb = named->second;
    }
    return info;
}

// A port is there while the system has a device of its name.
bool SerialDevicePresent(const std::string& device) {
    std::string name = device.compare(0, 4, "\\\\.\\") == 0 ? device.substr(4) : device;
    wchar_t target[1024];
    return ::QueryDosDeviceW(detail::Wide(name).c_str(), target, 1024) != 0;
}

// COM10 and above open only by their device name, so every port goes by it.
std::string DefaultPortDevice(int port) {
    return port < 1 ? std::string() : kDevicePrefix + std::to_string(port);
}

int DefaultPortNumber(const std::string& device) {
    std::string name = device;
    if (name.compare(0, 4, "\\\\.\\") == 0) {
        name.erase(0, 4);
    }
    if (name.size() < 4 || name.size() > 6 ||
        std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M' ||
        name.find_first_not_of("0123456789", 3) != std::string::npos) {
        return 0;
    }
    return std::stoi(name.substr(3));
}

}  // namespace quillon
