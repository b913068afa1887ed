#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/update_request.h"
#include "engine/window_steps.h"
#include "settings/app_settings.h"
#include "station/slot_events.h"

class QCloseEvent;

namespace Ui {
class UpdaterDialog;
}

namespace quillon {

class Station;

// The main window: shows the state of an update and starts one on "Update".
// The update runs as a station of one slot, under the settings' station
// keys as every update does; its events come to the window's thread, and
// the update goes on once the window has carried each out.
class UpdaterDialog : public QDialog, public WindowSteps {
    Q_OBJECT

public:
    // Reads its working values from the settings file beside the program.
    explicit UpdaterDialog(QWidget* parent = nullptr);
    // Reads them from the given settings (a file elsewhere, for tests).
    explicit UpdaterDialog(AppSettings settings, QWidget* parent = nullptr);
    ~UpdaterDialog() override;

    // Held by an update from its first step until its message box is closed.
    std::timed_mutex& UpdateMutex() { return m_updateMutex; }

    // What the window does at each step of an update.
    void EnableUpdateButton(bool enable) override;
    void StartBusy(unsigned timerId) override;
    void StopBusy(unsigned timerId) override;
    void SetStatusText(const std::string& text) override;
    void SetStatusBlink(bool on) override;
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int pos) override;
    void AppMessageBox(const std::string& text) override;
    void WindowMessageBox(const std::string& text, const std::string& caption,
                          unsigned type) override;

    // What the next update works with: the working values, taken now.
    UpdateRequest Request() const;

    // True from "Update" until the window's thread has taken the end that the
    // worker posts once it has returned.
    bool IsUpdateRunning() const { return m_updateRunning; }
    // Ends the program at once for a signal, with 128 + its number, once an
    // update under way has let go of its files and port.
    void EndOnSignal(int signal);

protected:
    // Every line for the details of the next message box comes through here.
    void AddDetail(const std::string& line) override;

public Q_SLOTS:
    void OnUpdate();
    void OnSystemSetting();
    void OnAbout();
    void OnTimer(unsigned timerId);
    void OnClose();
    void OnMenuExit();
    void OnOK();

protected:
    // Ends the program once the close test lets it: std::exit.
    virtual void ExitProgram(int code);
    void closeEvent(QCloseEvent* event) override;
    // Enter presses the focused button, "Exit" (OnOK) when no button has the
    // focus; Escape lands here.
    void reject() override;
    void accept() override;

private:
    void OnInitDialog(AppSettings settings);
    void FitTexts();
    void ConnectCommands();
    void ShowLampIcon();
    void UpdateSerialLabel();
    void SaveWorkingValues();
    // The close test: true when no update runs or the user agrees to interrupt it.
    bool MayEnd();
    void EndProgram(bool saveWorkingValues);
    bool AskInterrupt();
    void FinishWorker();
    void OnWorkerEnded();
    // The update's events, on the window's thread.
    void TakeEvents();
    // A run the station refused before any port opened: its box.
    void ShowRefusal(const BoxRecord& refused);
    // One of the worker's message boxes, with the details gathered since the last.
    void ShowWorkerMessageBox(const QString& text, const QString& caption, int icon);
    int ShowMessageBox(const QString& text, const QString& caption, int icon, int buttons,
                       const QString& details = {});

    std::unique_ptr<Ui::UpdaterDialog> m_ui;
    std::timed_mutex m_updateMutex;
    std::string m_bootFolder;
    std::uint32_t m_startAddress = 0;
    int m_baudRate = 0;
    int m_comPort = 0;
    int m_lampState = 2;
    bool m_statusVisible = true;
    bool m_statusBlink = false;

    // Lines for the details of the worker's next message box; only the
    // window's thread touches them, and each update starts with none.
    QStringList m_details;
    PortMap m_ports;
    // Why a value the settings gave cannot be used: the update then does
    // not open its port, and says this.
    std::string m_settingsProblem;
    std::map<int, std::string> m_portProblems;
    std::string m_settingsPath;
    std::string m_programFolder;
    AppSettings m_settings;  // as loaded: its station keys guard every update
    QTimer m_lampTimer;
    // Written on the window's thread only; atomic so that it may be read anywhere.
    std::atomic<bool> m_updateRunning{false};
    // Set once the window is going away: the worker's boxes are then not shown,
    // since nobody is left to answer them.
    std::atomic<bool> m_closing{false};
    // The update's events; its slot waits until the window has carried each out.
    EventQueue m_events;
    std::unique_ptr<Station> m_station;
};

}  // namespace quillon
