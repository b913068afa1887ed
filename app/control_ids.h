#pragma once

#include <array>
#include <string_view>

namespace quillon {

// The numeric control and command ids of the dialogs, paired with the
// objectName each widget or action carries in the forms in res/.
struct ControlId {
    int id;
    std::string_view objectName;
};

inline constexpr std::array<ControlId, 14> kControlIds{{
    {1002, "updateButton"},          // main window: "Update"
    {1005, "statusText"},            // main window: the status line
    {1013, "stateLamp"},             // main window: the state lamp
    {1015, "progress"},              // main window: the progress bar
    {1010, "bootFolderLabel"},       // main window: "Boot folder:", never shown
    {1011, "serialLabel"},           // main window: "Serial setting : COMn"
    {1008, "portList"},              // System Setting: COM1 to COM8
    {1009, "rateList"},              // System Setting: the baud rates, hidden
    {1006, "bootFolderEdit"},        // System Setting: the boot folder, hidden
    {1014, "startAddressEdit"},      // System Setting: the start address, hidden
    {1007, "browseButton"},          // System Setting: "Browsing", hidden
    {32771, "actionSystemSetting"},  // menu "Setting": "System Setting(&S)"
    {32772, "actionExit"},           // menu "Setting": "Exit(&E)"
    {32773, "actionAbout"},          // menu "Help": "About..."
}};

// The objectName for an id; empty when the id names no control.
constexpr std::string_view ObjectNameFor(int id) {
    for (const auto& entry : kControlIds) {
        if (entry.id == id) {
            return entry.objectName;
        }
    }
    return {};
}

}  // namespace quillon
