#include "app/updater_dialog.h"

#include <QCloseEvent>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "app/about_dialog.h"
#include "app/label_fit.h"
#include "app/settings_dialog.h"
#include "app/updater_app.h"
#include "platform/file.h"
#include "platform/interrupts.h"
#include "station/run_setup.h"
#include "station/station.h"
#include "ui_updater_dialog.h"

// The icons live in a static library; nothing references its resource
// initialiser, so it is called by hand.
static void InitQuillonResources() {
    Q_INIT_RESOURCE(resources);
}

namespace quillon {

using namespace std::chrono_literals;

namespace {

constexpr int kLampIcons[] = {135, 136, 137};  // by m_lampState
constexpr int kLampIdle = 2;

// The widest status texts an update makes, as it says them.
QStringList WidestStatusTextList() {
    QStringList texts;
    for (const std::string& text : WidestStatusTexts()) {
        texts << QString::fromStdString(text);
    }
    return texts;
}

// Icon 132. A title bar shows it at 16 or 32 px, where the full drawing
// blurs into a grey blob: those sizes have drawings of their own, on the
// pixel grid; larger ones come from the full drawing.
QIcon WindowIcon() {
    const std::pair<const char*, int> images[] = {{":/icons/132-16.svg", 16},
                                                  {":/icons/132-32.svg", 32},
                                                  {":/icons/132.svg", 48},
                                                  {":/icons/132.svg", 64},
                                                  {":/icons/132.svg", 128}};
    QIcon icon;
    for (const auto& [file, size] : images) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QSvgRenderer(QString::fromLatin1(file)).render(&painter);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

const char* const kInterruptQuestion =
    "To interrupt this operation may cause STB flash crashed, \ndo you want exiting?";

QMessageBox::Icon IconForType(unsigned type) {
    switch (type & 0xF0) {
        case MB_ICONHAND_OK:
            return QMessageBox::Critical;
        case MB_ICONEXCLAMATION_OK:
            return QMessageBox::Warning;
        case 0x40:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

UpdaterDialog::UpdaterDialog(QWidget* parent) : UpdaterDialog(AppSettings(), parent) {}

UpdaterDialog::UpdaterDialog(AppSettings settings, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::UpdaterDialog>()),
      m_events(
          [this] {
              QMetaObject::invokeMethod(
                  this, [this] { TakeEvents(); }, Qt::QueuedConnection);
          },
          true) {
    InitQuillonResources();
    m_ui->setupUi(this);
    FitTexts();
    // A dialog has no menu bar of its own: the layout puts the form's bar
    // above the client area, which keeps the template's fixed size.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_ui->menuBar);
    layout->addWidget(m_ui->clientArea);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(WindowIcon());
    ShowLampIcon();
    ConnectCommands();
    OnInitDialog(std::move(settings));
}

UpdaterDialog::~UpdaterDialog() {
    FinishWorker();
    m_events.Close();
}

void UpdaterDialog::FitTexts() {
    // The status line and the serial label take the width their widest
    // texts need; what lies under them grows along, and "Exit" keeps its
    // place at the right end.
    Ui::UpdaterDialog& ui = *m_ui;
    const int dx = std::max(
        ExtraWidthFor(*ui.statusText, WidestStatusTextList()),
        ExtraWidthFor(*ui.serialLabel, {QStringLiteral("Serial setting : COM-##########")}));
    for (QWidget* widget :
         std::initializer_list<QWidget*>{ui.statusText, ui.serialLabel, ui.bootFolderLabel,
                                         ui.progress, ui.stateGroup, ui.clientArea}) {
        Widen(*widget, dx);
    }
    Shift(*ui.exitButton, dx);
}

void UpdaterDialog::ExitProgram(int code) {
    std::exit(code);
}

void UpdaterDialog::ConnectCommands() {
    connect(m_ui->updateButton, &QPushButton::clicked, this, &UpdaterDialog::OnUpdate);
    connect(m_ui->exitButton, &QPushButton::clicked, this, &UpdaterDialog::OnOK);
    connect(m_ui->actionSystemSetting, &QAction::triggered, this, &UpdaterDialog::OnSystemSetting);
    connect(m_ui->actionExit, &QAction::triggered, this, &UpdaterDialog::OnMenuExit);
    connect(m_ui->actionAbout, &QAction::triggered, this, &UpdaterDialog::OnAbout);
    connect(&m_lampTimer, &QTimer::timeout, this, [this] { OnTimer(kBusyTimerId); });
}

void UpdaterDialog::OnInitDialog(AppSettings settings) {
    settings.Load();
    m_bootFolder = settings.m_pathToBootFiles;
    m_baudRate = settings.m_lastSpeed;
    m_comPort = settings.m_lastDevice;
    m_startAddress = settings.m_lastExecAddr;
    m_ports = settings.m_ports;
    // The keys an update uses: the first that cannot be used is its reason.
    for (const std::string& key : {std::string("PathToBootFiles"), std::string("LastExecAddr"),
                                   std::string("LastSpeed"), std::string("LastDevice")}) {
        if (m_settingsProblem.empty()) {
            m_settingsProblem = settings.Problem(key);
        }
    }
    for (const auto& [number, device] : m_ports) {
        if (std::string problem = settings.Problem("COM" + std::to_string(number));
            !problem.empty()) {
            m_portProblems[number] = problem;
        }
    }
    m_settingsPath = settings.SettingsPath();
    m_programFolder = settings.ProgramFolder();
    m_settings = std::move(settings);
    UpdateSerialLabel();
}

// --- what an update does on the window ---

void UpdaterDialog::TakeEvents() {
    m_events.Drain([this](std::size_t, const SlotEvent& event) {
        std::visit(Overloaded{
                       [this](const NoteEvent& e) { AddDetail(e.text); },
                       [](const BoxEndedEvent&) {},
                       [this](const auto& e) { On(UpdateEvent(e)); },
                   },
                   event);
    });
}

void UpdaterDialog::EnableUpdateButton(bool enable) {
    m_ui->updateButton->setEnabled(enable);
}

void UpdaterDialog::StartBusy(unsigned timerId) {
    (void)timerId;  // one lamp timer, whose ticks are told as kBusyTimerId
    m_lampState = 0;
    ShowLampIcon();
    m_lampTimer.start(1000);
}

void UpdaterDialog::StopBusy(unsigned timerId) {
    (void)timerId;  // one lamp timer: whichever id started it, this stops it
    m_lampState = kLampIdle;
    ShowLampIcon();
    m_lampTimer.stop();
}

void UpdaterDialog::SetStatusText(const std::string& text) {
    m_ui->statusText->setText(QString::fromStdString(text));
}

void UpdaterDialog::SetStatusBlink(bool on) {
    m_statusBlink = on;
    if (!on) {
        m_ui->statusText->setVisible(true);
    }
}

void UpdaterDialog::SetProgressRange(int low, int high) {
    m_ui->progress->setRange(low, high);
}

void UpdaterDialog::SetProgressPos(int pos) {
    m_ui->progress->setValue(pos);
}

void UpdaterDialog::AppMessageBox(const std::string& text) {
    ShowWorkerMessageBox(QString::fromStdString(text), UpdaterApp::Title(), QMessageBox::Warning);
}

void UpdaterDialog::WindowMessageBox(const std::string& text, const std::string& caption,
                                     unsigned type) {
    ShowWorkerMessageBox(QString::fromStdString(text), QString::fromStdString(caption),
                         IconForType(type));
}

void UpdaterDialog::AddDetail(const std::string& line) {
    if (!line.empty()) {
        m_details << QString::fromStdString(line);
    }
}

void UpdaterDialog::ShowWorkerMessageBox(const QString& text, const QString& caption, int icon) {
    // The message keeps its words; the reason behind it goes into the
    // details, and only into this box.
    const QString details = m_details.join(QLatin1Char('\n'));
    m_details.clear();
    ShowMessageBox(text, caption, icon, QMessageBox::Ok, details);
}

int UpdaterDialog::ShowMessageBox(const QString& text, const QString& caption, int icon,
                                  int buttons, const QString& details) {
    if (m_closing) {
        return QMessageBox::NoButton;
    }
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), caption, text,
                    static_cast<QMessageBox::StandardButtons>(buttons), this);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    return box.exec();
}

// --- lamp and status line ---

void UpdaterDialog::ShowLampIcon() {
    const int icon = kLampIcons[m_lampState];
    m_ui->stateLamp->setPixmap(
        QIcon(QStringLiteral(":/icons/%1.svg").arg(icon)).pixmap(QSize(32, 32)));
    m_ui->stateLamp->setProperty("iconId", icon);
}

void UpdaterDialog::OnTimer(unsigned timerId) {
    if (timerId != kBusyTimerId) {
        return;
    }
    m_lampState = m_lampState == 0 ? 1 : 0;
    ShowLampIcon();
    if (m_statusBlink) {
        m_statusVisible = !m_statusVisible;
        m_ui->statusText->setVisible(m_statusVisible);
    }
}

void UpdaterDialog::UpdateSerialLabel() {
    m_ui->serialLabel->setText(QString::asprintf("Serial setting : COM%1d", m_comPort));
}

// --- commands ---

void UpdaterDialog::OnUpdate() {
    // One update at a time: a second click before the worker has disabled the
    // button would otherwise queue a whole second update behind the lock.
    if (m_closing || m_updateRunning.exchange(true)) {
        return;
    }
    FinishWorker();  // the last update's station, already past its end
    m_details.clear();
    m_ui->actionSystemSetting->setEnabled(false);
    StationConfig config;
    std::string error;
    if (MakeOneSlotSetup(m_settings, Request(), config, error) != 0) {
        ShowMessageBox(QString::fromStdString(error), UpdaterApp::Title(), QMessageBox::Warning,
                       QMessageBox::Ok);
        OnWorkerEnded();
        return;
    }
    config.updateLock = &m_updateMutex;
    config.inputsMetByUpdate = true;
    m_station = std::make_unique<Station>(std::move(config));
    if (!m_station->Prepare()) {
        ShowRefusal(m_station->Refused());
        m_station.reset();
        OnWorkerEnded();
        return;
    }
    // What the inputs hold that the box may not expect waits for this
    // update's box.
    for (const std::string& warning : m_station->Facts().warnings) {
        AddDetail(warning);
    }
    m_station->Start(&m_events, [this] {
        // The end is handed to the window's thread, which alone changes
        // "running" and the command together: seen from there, the two can
        // never disagree, whichever thread runs first.
        QMetaObject::invokeMethod(
            this, [this] { OnWorkerEnded(); }, Qt::QueuedConnection);
    });
}

// As an update that fails before it sends anything: the application's box,
// with why in its details (both identities, for a series not expected).
void UpdaterDialog::ShowRefusal(const BoxRecord& refused) {
    AddDetail(refused.reason);
    ShowWorkerMessageBox(QString::fromStdString(refused.message), UpdaterApp::Title(),
                         QMessageBox::Warning);
}

UpdateRequest UpdaterDialog::Request() const {
    UpdateRequest request;
    request.bootFolder = m_bootFolder;
    request.startAddress = m_startAddress;
    request.baudRate = m_baudRate;
    request.comPort = m_comPort;
    request.device = DeviceForPort(m_comPort, m_ports);
    auto portProblem = m_portProblems.find(m_comPort);
    request.refusal = !m_settingsProblem.empty()            ? m_settingsProblem
                      : portProblem != m_portProblems.end() ? portProblem->second
                                                            : std::string();
    return request;
}

void UpdaterDialog::OnWorkerEnded() {
    if (m_station && m_station->Done()) {
        m_station->Join();
        m_station.reset();
    }
    m_updateRunning = m_station != nullptr;
    m_ui->actionSystemSetting->setEnabled(!m_updateRunning);
}

void UpdaterDialog::OnSystemSetting() {
    if (m_updateRunning) {
        return;
    }
    SettingsDialog settings(this);
    settings.m_baudRate = m_baudRate;
    settings.m_comPort = m_comPort;
    settings.m_bootFolder = m_bootFolder;
    settings.m_startAddress = m_startAddress;
    settings.SetPorts(m_ports);
    if (settings.DoModal() != QDialog::Accepted) {
        return;
    }
    m_baudRate = settings.m_baudRate;
    m_comPort = settings.m_comPort;
    m_bootFolder = settings.m_bootFolder;
    m_startAddress = settings.m_startAddress;
    UpdateSerialLabel();
}

void UpdaterDialog::OnAbout() {
    AboutDialog about(this);
    about.exec();
}

// --- closing ---

void UpdaterDialog::OnClose() {
    if (MayEnd()) {
        EndProgram(false);
    }
}

void UpdaterDialog::OnMenuExit() {
    OnClose();
}

void UpdaterDialog::OnOK() {
    // The choices are kept only when the program really ends: "No" to the
    // question leaves the window, and the file, as they were.
    if (MayEnd()) {
        EndProgram(true);
    }
}

void UpdaterDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnClose();
}

void UpdaterDialog::reject() {
    OnClose();
}

void UpdaterDialog::accept() {
    OnOK();
}

bool UpdaterDialog::MayEnd() {
    if (m_updateMutex.try_lock_for(50ms)) {
        // Free: no update runs. The test only looks, so the lock goes back.
        m_updateMutex.unlock();
        return true;
    }
    return AskInterrupt();
}

void UpdaterDialog::EndOnSignal(int signal) {
    m_closing = true;
    m_events.Close();  // an update waiting for a box to be closed goes on
    FinishWorker();
    ExitProgram(InterruptWatch::ExitCodeFor(signal));
}

void UpdaterDialog::EndProgram(bool saveWorkingValues) {
    FinishWorker();
    if (saveWorkingValues) {
        SaveWorkingValues();
    }
    ExitProgram(0);
}

bool UpdaterDialog::AskInterrupt() {
    return ShowMessageBox(QString::fromLatin1(kInterruptQuestion), QStringLiteral("Warning"),
                          QMessageBox::Critical,
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void UpdaterDialog::SaveWorkingValues() {
    AppSettings record(m_settingsPath, m_programFolder);
    record.m_pathToBootFiles = m_bootFolder;
    record.m_lastDevice = m_comPort;
    record.m_lastSpeed = m_baudRate;
    record.m_lastExecAddr = m_startAddress;
    try {
        record.Save();
    } catch (const FileError& error) {
        // Leaving still works; the user learns that the choices were not kept.
        ShowMessageBox(
            QStringLiteral("Failed to save the settings to %1: %2")
                .arg(QString::fromStdString(error.Path()), QString::fromStdString(error.Reason())),
            UpdaterApp::Title(), QMessageBox::Warning, QMessageBox::Ok);
    }
}

void UpdaterDialog::FinishWorker() {
    if (!m_station) {
        return;
    }
    m_closing = true;
    m_station->Stop();
    // The update may be waiting for this thread to carry out one of its
    // steps; those are served here, and so is the end it posts, which may
    // itself let go of the station meanwhile.
    while (m_station && !m_station->Done()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        TakeEvents();
        std::this_thread::sleep_for(2ms);
    }
    if (m_station) {
        m_station->Join();
        TakeEvents();
        m_station.reset();
    }
    m_updateRunning = false;
    m_closing = false;
}

}  // namespace quillon
