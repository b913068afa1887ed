#include <unistd.h>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <climits>
#include <condition_variable>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/settings_dialog.h"
#include "app/updater_dialog.h"
#include "modal_helpers.h"
#include "settings/app_settings.h"
#include "tests/temp_dir.h"

using quillon::AppSettings;
using quillon::UpdaterDialog;
using quillon::testing::MessageBoxAnswerer;
using quillon::testing::TempDir;
using quillon::testing::WhenModal;

namespace {

const QString kQuestion =
    "To interrupt this operation may cause STB flash crashed, \ndo you want exiting?";

// Once the update's last step has stopped the lamp, queues a look from the
// window's thread, behind whatever the update posts after: it notes whether
// the window's state and its System Setting command agree there.
class WatchedDialog : public quillon::testing::ExitRecording<UpdaterDialog> {
public:
    using ExitRecording::ExitRecording;
    void StopBusy(unsigned timerId) override {
        UpdaterDialog::StopBusy(timerId);
        QMetaObject::invokeMethod(
            this,
            [this] {
                const bool enabled = findChild<QAction*>("actionSystemSetting")->isEnabled();
                lookedAtEnd.push_back(enabled == !IsUpdateRunning());
            },
            Qt::QueuedConnection);
    }
    std::vector<bool> lookedAtEnd;
};

// A window on a settings file of the test's own, whose exits are recorded
// instead of ending the test program.
struct Window {
    explicit Window(const std::string& ini = "") {
        temp.Write(quillon::kSettingsFileName, ini);
        dialog.emplace(AppSettings(SettingsPath(), temp.Folder()));
        dialog->onExit = [this](int code) { exits.push_back(code); };
    }
    std::string SettingsPath() const { return temp / quillon::kSettingsFileName; }
    int Lamp() const { return dialog->findChild<QLabel*>("stateLamp")->property("iconId").toInt(); }
    bool StatusHidden() const { return dialog->findChild<QLabel*>("statusText")->isHidden(); }
    QString Serial() const { return dialog->findChild<QLabel*>("serialLabel")->text(); }

    TempDir temp;
    std::vector<int> exits;
    std::optional<WatchedDialog> dialog;
};

// A port number that names no device: an update ends at once, with a message.
const std::string kMissingPort = "[PORTS]\nCOM1=/nonexistent/quillon-port\n";

// Holds the window's update lock from a thread of its own, as a worker does.
class LockHolder {
public:
    explicit LockHolder(std::timed_mutex& mutex) {
        m_thread = std::thread([this, &mutex] {
            std::unique_lock held(mutex);
            std::unique_lock lock(m_state);
            m_locked = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_release; });
        });
        std::unique_lock lock(m_state);
        m_changed.wait(lock, [this] { return m_locked; });
    }
    ~LockHolder() {
        {
            std::lock_guard lock(m_state);
            m_release = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_state;
    std::condition_variable m_changed;
    bool m_locked = false;
    bool m_release = false;
    std::thread m_thread;
};

}  // namespace

class UpdaterDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formHoldsTheTemplatesTexts();
    void serialLabelShowsThePort_data();
    void serialLabelShowsThePort();
    void lampAlternatesWhileBusy();
    void blinkingHidesAndShowsTheStatusLine();
    void otherTimerIdsChangeNothing();
    void workerCallsAreDoneWhenTheyReturn();
    void closingWithoutAnUpdateAsksNothing();
    void closingDuringAnUpdateAsksFirst();
    void systemSettingOkChangesTheLabelCancelKeepsAll();
    void systemSettingComesBackWithTheWorkersEnd();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void labelsShowTheWorkersLongestTexts_data();
    void labelsShowTheWorkersLongestTexts();
    void exitButtonKeepsTheChosenPort();
};

void UpdaterDialogTest::formHoldsTheTemplatesTexts() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    QCOMPARE(d.windowTitle(), QStringLiteral("Quillon"));
    QCOMPARE(d.findChild<QPushButton*>("updateButton")->text(), QStringLiteral("Update"));
    QVERIFY(d.findChild<QPushButton*>("exitButton")->isDefault());
    QVERIFY(d.findChild<QLabel*>("bootFolderLabel")->isHidden());
    QCOMPARE(d.findChild<QAction*>("actionSystemSetting")->text(),
             QStringLiteral("System Setting(&S)"));
    QCOMPARE(d.findChild<QAction*>("actionExit")->text(), QStringLiteral("Exit(&E)"));
    QCOMPARE(d.findChild<QAction*>("actionAbout")->text(), QStringLiteral("About..."));
    QCOMPARE(w.Lamp(), 137);
    QVERIFY(!d.findChild<QLabel*>("stateLamp")->pixmap().isNull());
    // Defaults of a missing file: port 1, 115200 bit/s, 0x800001A0, the program folder.
    QCOMPARE(d.Request().comPort, 1);
    QCOMPARE(d.Request().baudRate, 115200);
    QCOMPARE(d.Request().startAddress, 0x800001A0u);
    QCOMPARE(d.Request().bootFolder, w.temp.Folder());
}

void UpdaterDialogTest::serialLabelShowsThePort_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("label");
    QTest::newRow("3") << "[COMMON]\nLastDevice=3\n"
                       << "Serial setting : COM3";
    QTest::newRow("12, wider than the format's width") << "[COMMON]\nLastDevice=12\n"
                                                       << "Serial setting : COM12";
    QTest::newRow("missing") << ""
                             << "Serial setting : COM1";
}

void UpdaterDialogTest::serialLabelShowsThePort() {
    QFETCH(QString, ini);
    QFETCH(QString, label);
    Window w(ini.toStdString());
    QCOMPARE(w.Serial(), label);
}

void UpdaterDialogTest::lampAlternatesWhileBusy() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    d.StartBusy(1);
    QCOMPARE(w.Lamp(), 135);
    std::vector<int> ticks;
    for (int i = 0; i < 3; ++i) {
        d.OnTimer(1);
        ticks.push_back(w.Lamp());
    }
    QCOMPARE(ticks, std::vector<int>({136, 135, 136}));
    d.StopBusy(1);
    QCOMPARE(w.Lamp(), 137);
    // A busy period after an idle one starts again from 135.
    d.StartBusy(1);
    QCOMPARE(w.Lamp(), 135);
    d.StopBusy(1);
}

void UpdaterDialogTest::blinkingHidesAndShowsTheStatusLine() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    d.StartBusy(1);
    d.OnTimer(1);
    QVERIFY2(!w.StatusHidden(), "no blinking without SetStatusBlink");
    d.SetStatusBlink(true);
    d.OnTimer(1);
    QVERIFY(w.StatusHidden());
    d.OnTimer(1);
    QVERIFY(!w.StatusHidden());
    d.OnTimer(1);
    QVERIFY(w.StatusHidden());
    d.StopBusy(1);
    QVERIFY2(w.StatusHidden(), "StopBusy leaves the line as the last tick left it");
    d.SetStatusBlink(false);
    QVERIFY(!w.StatusHidden());
    // The phase carries over: the last tick left it invisible, so the next shows it.
    d.SetStatusBlink(true);
    d.OnTimer(1);
    QVERIFY(!w.StatusHidden());
}

void UpdaterDialogTest::otherTimerIdsChangeNothing() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    d.StartBusy(1);
    d.SetStatusBlink(true);
    d.OnTimer(2);
    d.OnTimer(0);
    QCOMPARE(w.Lamp(), 135);
    QVERIFY(!w.StatusHidden());
    d.StopBusy(1);
}

void UpdaterDialogTest::workerCallsAreDoneWhenTheyReturn() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    std::atomic<bool> done{false};
    int lamp = 0, position = 0;
    QString status;
    bool enabled = true;
    std::thread worker([&] {
        d.StartBusy(1);
        d.SetStatusText("Now preparing...");
        d.SetProgressRange(0, 100);
        d.SetProgressPos(42);
        d.EnableUpdateButton(false);
        // Read back on this thread: each call has completed on the window's thread.
        lamp = w.Lamp();
        status = d.findChild<QLabel*>("statusText")->text();
        position = d.findChild<QProgressBar*>("progress")->value();
        enabled = d.findChild<QPushButton*>("updateButton")->isEnabled();
        d.StopBusy(1);
        done = true;
    });
    QTRY_VERIFY(done.load());
    worker.join();
    QCOMPARE(lamp, 135);
    QCOMPARE(status, QStringLiteral("Now preparing..."));
    QCOMPARE(position, 42);
    QVERIFY(!enabled);
    QCOMPARE(w.Lamp(), 137);
}

void UpdaterDialogTest::closingWithoutAnUpdateAsksNothing() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    MessageBoxAnswerer answerer;
    d.show();
    d.close();
    d.findChild<QAction*>("actionExit")->trigger();
    d.findChild<QPushButton*>("exitButton")->click();
    QTest::keyClick(&d, Qt::Key_Escape);
    QTest::keyClick(&d, Qt::Key_Return);
    QCOMPARE(w.exits, std::vector<int>({0, 0, 0, 0, 0}));
    QCOMPARE(answerer.Seen().size(), std::size_t(0));
    // The test only looked: the lock is free for the next update.
    QVERIFY(d.UpdateMutex().try_lock());
    d.UpdateMutex().unlock();
}

void UpdaterDialogTest::closingDuringAnUpdateAsksFirst() {
    Window w;
    UpdaterDialog& d = *w.dialog;
    d.show();
    LockHolder update(d.UpdateMutex());
    MessageBoxAnswerer answerer([](const MessageBoxAnswerer::Box&) { return QMessageBox::No; });
    d.close();
    d.findChild<QAction*>("actionExit")->trigger();
    d.findChild<QPushButton*>("exitButton")->click();
    QTest::keyClick(&d, Qt::Key_Escape);
    QVERIFY2(w.exits.empty(), "No keeps the window");
    QCOMPARE(answerer.Seen().size(), std::size_t(4));
    for (const auto& box : answerer.Seen()) {
        QCOMPARE(box.text, kQuestion);
        QCOMPARE(box.caption, QStringLiteral("Warning"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    }
    answerer.SetPolicy([](const MessageBoxAnswerer::Box&) { return QMessageBox::Yes; });
    d.close();
    QCOMPARE(w.exits, std::vector<int>({0}));
}

void UpdaterDialogTest::systemSettingOkChangesTheLabelCancelKeepsAll() {
    Window w("[COMMON]\nLastDevice=3\nLastSpeed=921600\n");
    UpdaterDialog& d = *w.dialog;
    const std::string folder = d.Request().bootFolder;
    QString opened;
    WhenModal<quillon::SettingsDialog>([&](quillon::SettingsDialog* s) {
        auto* ports = s->findChild<QComboBox*>("portList");
        opened = ports->currentText();
        ports->setCurrentIndex(4);
        s->findChild<QPushButton*>("okButton")->click();
    });
    d.findChild<QAction*>("actionSystemSetting")->trigger();
    QCOMPARE(opened, QStringLiteral("COM3"));
    QCOMPARE(w.Serial(), QStringLiteral("Serial setting : COM5"));
    QCOMPARE(d.Request().comPort, 5);
    QCOMPARE(d.Request().baudRate, 921600);
    QCOMPARE(d.Request().startAddress, 0x800001A0u);
    QCOMPARE(d.Request().bootFolder, folder);

    WhenModal<quillon::SettingsDialog>([&](quillon::SettingsDialog* s) {
        s->findChild<QComboBox*>("portList")->setCurrentIndex(0);
        s->findChild<QPushButton*>("cancelButton")->click();
    });
    d.findChild<QAction*>("actionSystemSetting")->trigger();
    QCOMPARE(w.Serial(), QStringLiteral("Serial setting : COM5"));
    QCOMPARE(d.Request().comPort, 5);
}

void UpdaterDialogTest::systemSettingComesBackWithTheWorkersEnd() {
    Window w(kMissingPort);
    UpdaterDialog& d = *w.dialog;
    auto* setting = d.findChild<QAction*>("actionSystemSetting");
    MessageBoxAnswerer answerer;
    d.show();
    // Twice: the command must come back after every update, not only the first.
    for (std::size_t round = 1; round <= 2; ++round) {
        d.findChild<QPushButton*>("updateButton")->click();
        QVERIFY(d.IsUpdateRunning() && !setting->isEnabled());
        QTRY_COMPARE(w.dialog->lookedAtEnd.size(), round);
        QVERIFY2(w.dialog->lookedAtEnd.back(), "running and the command disagreed");
        QTRY_VERIFY(setting->isEnabled());
        QVERIFY(!d.IsUpdateRunning());
    }
    QCOMPARE(answerer.Seen().size(), std::size_t(2));
}

void UpdaterDialogTest::enterPressesTheFocusedButton_data() {
    QTest::addColumn<int>("tabs");  // -1: the focus taken off every button
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<bool>("updates");
    QTest::newRow("Exit, focused at the start")
        << 0 << int(Qt::Key_Return) << "exitButton" << false;
    QTest::newRow("Tab to Update") << 1 << int(Qt::Key_Return) << "updateButton" << true;
    QTest::newRow("Tab to Update, keypad Enter")
        << 1 << int(Qt::Key_Enter) << "updateButton" << true;
    QTest::newRow("Tab around to Exit") << 2 << int(Qt::Key_Return) << "exitButton" << false;
    QTest::newRow("no button: the default, Exit") << -1 << int(Qt::Key_Return) << "" << false;
}

void UpdaterDialogTest::enterPressesTheFocusedButton() {
    QFETCH(int, tabs);
    QFETCH(int, key);
    QFETCH(QString, focused);
    QFETCH(bool, updates);
    Window w(kMissingPort);
    UpdaterDialog& d = *w.dialog;
    MessageBoxAnswerer answerer;
    d.show();
    d.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    for (int i = 0; i < tabs; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    if (tabs < 0) {
        QApplication::focusWidget()->clearFocus();
    }
    QWidget* target = QApplication::focusWidget();
    QCOMPARE(target ? target->objectName() : QString(), focused);
    QTest::keyClick(target ? target : &d, Qt::Key(key));
    if (updates) {
        QVERIFY(w.exits.empty());
        QTRY_COMPARE(answerer.Seen().size(), std::size_t(1));
        QCOMPARE(answerer.Seen().front().text, QStringLiteral("Failed to open serial port!"));
        QTRY_VERIFY(!d.IsUpdateRunning());
    } else {
        QCOMPARE(w.exits, std::vector<int>({0}));
        QVERIFY(answerer.Seen().empty());
    }
}

void UpdaterDialogTest::labelsShowTheWorkersLongestTexts_data() {
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("device");     // LastDevice
    QTest::addColumn<int>("pointSize");  // 0: the font as it is
    const QString burn = "(step 3/3) Burning : 268435455/-2147483648 bytes completed";
    QTest::newRow("burning a 1 MiB image")
        << "(step 3/3) Burning : 652932/1044692 bytes completed" << 1 << 0;
    QTest::newRow("burning, counters at their longest") << burn << 1 << 0;
    QTest::newRow("erasing, counters at their longest")
        << "(step 2/3) Erasing : 65535/65535sectors completed" << 1 << 0;
    QTest::newRow("downloading, ten-digit counts")
        << "(step 1/3) Downloading 2147483647/2147483647" << 1 << 0;
    QTest::newRow("waiting") << "Waiting connection,Press reset button..." << 1 << 0;
    QTest::newRow("port number at its longest") << "" << int(INT_MIN) << 0;
    QTest::newRow("burning, in a larger font") << burn << int(INT_MIN) << 15;
}

void UpdaterDialogTest::labelsShowTheWorkersLongestTexts() {
    QFETCH(QString, status);
    QFETCH(int, device);
    QFETCH(int, pointSize);
    quillon::testing::ApplicationFont font(pointSize);
    Window w("[COMMON]\nLastDevice=" + std::to_string(device) + "\n");
    UpdaterDialog& d = *w.dialog;
    d.show();
    d.SetStatusText(status.toStdString());
    auto geometry = [&d](const char* name) { return d.findChild<QWidget*>(name)->geometry(); };
    for (const char* name : {"statusText", "serialLabel"}) {
        auto* label = d.findChild<QLabel*>(name);
        QVERIFY2(label->width() >= label->sizeHint().width(), name);
        QVERIFY2(geometry("stateGroup").contains(label->geometry()), name);
    }
    // The controls keep their order: the bar under the status line inside
    // the group, "Update" left of "Exit" under it, all inside the window.
    QVERIFY(geometry("stateGroup").contains(geometry("progress")));
    QVERIFY(geometry("progress").top() > geometry("statusText").bottom());
    QVERIFY(geometry("updateButton").right() < geometry("exitButton").left());
    QVERIFY(geometry("exitButton").top() > geometry("stateGroup").bottom());
    const QRect client(QPoint(0, 0), geometry("clientArea").size());
    QVERIFY(client.contains(geometry("stateGroup")) && client.contains(geometry("exitButton")));
    QVERIFY(d.width() >= client.width());
}

void UpdaterDialogTest::exitButtonKeepsTheChosenPort() {
    Window w("[COMMON]\nLastDevice=3\n");
    UpdaterDialog& d = *w.dialog;
    WhenModal<quillon::SettingsDialog>([](quillon::SettingsDialog* s) {
        s->findChild<QComboBox*>("portList")->setCurrentIndex(6);
        s->findChild<QPushButton*>("okButton")->click();
    });
    d.findChild<QAction*>("actionSystemSetting")->trigger();
    auto saved = [&w] {
        AppSettings record(w.SettingsPath(), w.temp.Folder());
        record.Load();
        return record;
    };
    // The close box does not save; "Exit" does, once the program really ends:
    // "No" to the question during an update keeps the file as it was.
    d.close();
    QCOMPARE(saved().m_lastDevice, 3);
    {
        LockHolder update(d.UpdateMutex());
        MessageBoxAnswerer no([](const MessageBoxAnswerer::Box&) { return QMessageBox::No; });
        d.findChild<QPushButton*>("exitButton")->click();
        QCOMPARE(no.Seen().size(), std::size_t(1));
        QCOMPARE(saved().m_lastDevice, 3);
    }
    d.findChild<QPushButton*>("exitButton")->click();
    QCOMPARE(saved().m_lastDevice, 7);
    QCOMPARE(saved().m_lastSpeed, 115200);
    QCOMPARE(w.exits, std::vector<int>({0, 0}));
}

QTEST_MAIN(UpdaterDialogTest)
#include "updater_dialog_test.moc"
