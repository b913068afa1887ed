#include "app/settings_dialog.h"

#include <QFileDialog>

#include "app/label_fit.h"
#include "settings/start_address.h"
#include "ui_settings_dialog.h"

namespace quillon {

namespace {

constexpr int kPortCount = 8;

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SettingsDialog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The port label takes the width its text needs; the list moves along,
    // the box grows by as much and the buttons stay in its middle.
    const int dx = ExtraWidthFor(*m_ui->portLabel, {m_ui->portLabel->text()});
    Widen(*m_ui->portLabel, dx);
    Shift(*m_ui->portList, dx);
    Shift(*m_ui->okButton, dx / 2);
    Shift(*m_ui->cancelButton, dx / 2);
    Widen(*this, dx);
    connect(m_ui->okButton, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &SettingsDialog::reject);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &SettingsDialog::OnBrowse);
}

SettingsDialog::~SettingsDialog() = default;

int SettingsDialog::DoModal() {
    OnInitDialog();
    return exec();
}

void SettingsDialog::OnInitDialog() {
    UpdateData(false);
    FillRateList();
    FillPortList();
    m_startAddressText = QString::number(m_startAddress, 16).toStdString();
    UpdateData(false);
}

void SettingsDialog::FillRateList() {
    // Appended in table order, never sorted: an item's position is its index.
    m_ui->rateList->clear();
    for (int rate : kBaudRates) {
        m_ui->rateList->addItem(QString::number(rate));
    }
    int selected = -1;
    for (std::size_t i = 0; i < kBaudRates.size() && selected < 0; ++i) {
        if (kBaudRates[i] == m_baudRate) {
            selected = static_cast<int>(i);
        }
    }
    m_ui->rateList->setCurrentIndex(selected);
}

void SettingsDialog::FillPortList() {
    m_ui->portList->clear();
    for (int n = 1; n <= kPortCount; ++n) {
        m_ui->portList->addItem(QString::asprintf("COM%1d", n));
        m_ui->portList->setItemData(n - 1, QString::fromStdString(DeviceForPort(n, m_ports)),
                                    Qt::ToolTipRole);
    }
    const bool known = m_comPort >= 1 && m_comPort <= kPortCount;
    m_ui->portList->setCurrentIndex(known ? m_comPort - 1 : -1);
}

void SettingsDialog::UpdateData(bool save) {
    if (save) {
        m_bootFolder = m_ui->bootFolderEdit->text().toStdString();
        m_startAddressText = m_ui->startAddressEdit->text().toStdString();
    } else {
        m_ui->bootFolderEdit->setText(QString::fromStdString(m_bootFolder));
        m_ui->startAddressEdit->setText(QString::fromStdString(m_startAddressText));
    }
}

void SettingsDialog::accept() {
    UpdateData(true);
    // A rate that is none of the nine leaves the list without a selection;
    // the incoming rate then stands.
    const int rate = m_ui->rateList->currentIndex();
    if (rate >= 0 && rate < static_cast<int>(kBaudRates.size())) {
        m_baudRate = kBaudRates[rate];
    }
    m_comPort = m_ui->portList->currentIndex() + 1;
    if (auto address = ParseStartAddress(m_startAddressText, AddressText::Leading)) {
        m_startAddress = *address;
    }
    QDialog::accept();
}

void SettingsDialog::OnBrowse() {
    const QString folder = QFileDialog::getExistingDirectory(
        nullptr, QStringLiteral("Choose directory :"), QString(), QFileDialog::ShowDirsOnly);
    // Cancel, or a place with no file-system path: the boot folder stays.
    if (folder.isEmpty()) {
        return;
    }
    m_bootFolder = folder.toStdString();
    if (m_bootFolder.back() != '/') {
        m_bootFolder += '/';
    }
    UpdateData(false);
}

}  // namespace quillon
