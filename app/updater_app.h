#pragma once

#include <QApplication>
#include <QString>

namespace quillon {

// The application object: runs the main window until one of its close
// paths ends the program.
class UpdaterApp : public QApplication {
    Q_OBJECT

public:
    UpdaterApp(int& argc, char** argv);

    // Runs the main window modally; returns 0 when it ends without a close path.
    int InitInstance();

    // The executable's file name without its extension; the caption of the
    // application message boxes.
    static QString Title();
};

}  // namespace quillon
