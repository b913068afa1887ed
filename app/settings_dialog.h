#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "settings/port_numbers.h"

namespace Ui {
class SettingsDialog;
}

namespace quillon {

// The selectable rates; position i of the rate list always holds kBaudRates[i].
inline constexpr std::array<int, 9> kBaudRates{9600,   14400,  19200,  38400, 57600,
                                               115200, 230400, 460800, 921600};

// System Setting: the user picks the COM port. The boot folder, the rate and
// the start address pass through hidden controls and come back unchanged.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // The devices the ports name, shown as the port list's tooltips.
    void SetPorts(PortMap ports) { m_ports = std::move(ports); }

    // Fills the controls from the members, then runs the dialog.
    int DoModal();

    // Set by the caller before DoModal, read back after it returned Accepted.
    int m_baudRate = 0;
    int m_comPort = 0;
    std::uint32_t m_startAddress = 0;
    std::string m_bootFolder;
    std::string m_startAddressText;

public Q_SLOTS:
    void OnBrowse();

protected:
    void accept() override;  // OnOK

private:
    void OnInitDialog();
    void FillRateList();
    void FillPortList();
    void UpdateData(bool save);

    std::unique_ptr<Ui::SettingsDialog> m_ui;
    PortMap m_ports;
};

// The leading hexadecimal number of text, after blanks and an optional 0x;

}  // namespace quillon
