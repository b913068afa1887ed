// Closing the window in each phase of an update, answered "Yes": the real
// window on Qt's offscreen platform against a silent port or the box
// emulator. The program may end only once the worker has returned, its
// packet files are gone and the port is free. (Closing while the box
// erases is in tests/app/update_flow_test.cpp.)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QLabel>
#include <QtTest>
#include <filesystem>
#include <optional>

#include "app/updater_dialog.h"
#include "engine/serial_port.h"
#include "settings/app_settings.h"
#include "sim/box_emulator.h"
#include "tests/app/modal_helpers.h"
#include "tests/cleanup_checks.h"
#include "tests/temp_dir.h"

using quillon::AppSettings;
using quillon::UpdaterDialog;
using quillon::testing::MessageBoxAnswerer;
using quillon::testing::TempDir;
using ExitRecordingDialog = quillon::testing::ExitRecording<UpdaterDialog>;

namespace {

// A boot folder whose upload takes seconds at 9600 baud, a window whose
// COM1 is the given device, and a record of how the program would end.
struct Window {
    Window(const std::string& device, int baud) {
        std::filesystem::create_directory(temp / "boot");
        temp.Write("boot/c_bus.txt", "1234\n");
        temp.Write("boot/init_uploads.txt", "80000000\nload.bin\n");
        temp.Write("boot/load.bin", std::string(4000, 'l'));
        temp.Write(quillon::kSettingsFileName,
                   "[BOOT]\nPathToBootFiles=" + temp / "boot/" + "\n[COMMON]\nLastDevice=1\n" +
                       "LastSpeed=" + std::to_string(baud) + "\n[PORTS]\nCOM1=" + device + "\n");
        dialog.emplace(AppSettings(temp / quillon::kSettingsFileName, temp.Folder()));
        dialog->onExit = [this](int code) { exits.push_back(code); };
        dialog->show();
    }
    ~Window() {
        (void)QTest::qWaitFor([this] { return !dialog->IsUpdateRunning(); }, 60000);
    }

    QString Status() const { return dialog->findChild<QLabel*>("statusText")->text(); }
    bool PacketFilesLeft() const { return quillon::testing::PacketFilesIn(temp / "boot"); }

    TempDir temp;
    std::vector<int> exits;
    std::optional<ExitRecordingDialog> dialog;
};

}  // namespace

class WindowCloseTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void closeInEachPhase_data();
    void closeInEachPhase();
};

void WindowCloseTest::closeInEachPhase_data() {
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("burnMs");
    QTest::newRow("waiting for the boot loader") << "Waiting connection" << 0;
    QTest::newRow("downloading") << "(step 1/3) Downloading 0003" << 0;
    // Reports come well within the two seconds of silence the tool allows.
    QTest::newRow("burning") << "(step 3/3)" << 12000;
}

void WindowCloseTest::closeInEachPhase() {
    QFETCH(QString, shown);
    QFETCH(int, burnMs);
    quillon::sim::BoxOptions options;
    options.baud = 9600;
    options.burnTime = std::chrono::milliseconds(burnMs > 0 ? burnMs : 200);
    quillon::sim::BoxEmulator box(options);
    std::string device;
    // No box at all: the other end of a pseudo-terminal that never speaks.
    int silent = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(silent);
    ::unlockpt(silent);
    if (shown.startsWith("Waiting")) {
        device = ::ptsname(silent);
    } else {
        std::string error;
        QVERIFY2(box.OpenPty(&error), error.c_str());
        box.Start();
        device = box.DevicePath();
    }
    Window window(device, 9600);
    MessageBoxAnswerer answerer([](const MessageBoxAnswerer::Box&) { return QMessageBox::Yes; });
    window.dialog->findChild<QPushButton*>("updateButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.Status().startsWith(shown), 30000);

    window.dialog->close();
    // The exit comes only after the worker has returned and cleaned up.
    QCOMPARE(window.exits, std::vector<int>({0}));
    QVERIFY(!window.dialog->IsUpdateRunning());
    QVERIFY(!window.PacketFilesLeft());
    QCOMPARE(answerer.Seen().size(), std::size_t(1));
    QCOMPARE(answerer.Seen().front().caption, QStringLiteral("Warning"));
    quillon::SerialPort port;
    QCOMPARE(port.Open(device, 9600), 1);
    port.Close();
    ::close(silent);
    box.Stop();
}

QTEST_MAIN(WindowCloseTest)
#include "window_close_test.moc"
