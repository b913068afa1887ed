#include "app/updater_app.h"

#include <QFileInfo>

#include "app/updater_dialog.h"

namespace quillon {

UpdaterApp::UpdaterApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Set explicitly, not left to Qt's default, so the caption never depends
    // on how Qt reads the program's name.
    setApplicationName(QFileInfo(applicationFilePath()).completeBaseName());
}

int UpdaterApp::InitInstance() {
    UpdaterDialog dialog;
    dialog.exec();
    return 0;
}

QString UpdaterApp::Title() {
    QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()
                          : name;
}

}  // namespace quillon
