#include "app/updater_app.h"

#include <QFileInfo>
#include <thread>

#include "app/updater_dialog.h"
#include "platform/interrupts.h"

namespace quillon {

UpdaterApp::UpdaterApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Set explicitly, not left to Qt's default, so the caption never depends
    // on how Qt reads the program's name.
    setApplicationName(QFileInfo(applicationFilePath()).completeBaseName());
}

int UpdaterApp::InitInstance() {
    UpdaterDialog dialog;
    // A termination request, a lost session or Ctrl+C in the terminal that
    // started the window ends it as the close box would, with no question:
    // an update under way is cancelled, its files removed and its port
    // released, even while a message box is open.
    InterruptWatch interrupts;
    std::jthread watch([&](std::stop_token stop) {
        std::stop_callback wake(stop, [&interrupts] { interrupts.Wake(); });
        while (!stop.stop_requested()) {
            if (int signal = interrupts.Wait(); signal != 0) {
                QMetaObject::invokeMethod(
                    &dialog, [&dialog, signal] { dialog.EndOnSignal(signal); },
                    Qt::QueuedConnection);
                return;
            }
        }
    });
    dialog.exec();
    return 0;
}

QString UpdaterApp::Title() {
    QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                          : name;
}

}  // namespace quillon
