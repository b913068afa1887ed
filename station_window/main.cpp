#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/interrupts.h"
#include "quillon/version.h"
#include "station/exit_codes.h"
#include "station_window/station_options.h"
#include "station_window/station_window.h"

namespace {

const char* const kProgram = "quillon-station";

// --help and --version are answered without a display, so that they work
// in a terminal (and a manual page can be made from them).
bool AsksForInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--help", "-h", "-?", "--help-all", "--version", "-v"}) {
            if (std::strcmp(argv[i], option) == 0) {
                return true;
            }
        }
    }
    return false;
}

int AnswerInformation(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(kProgram);
    QCoreApplication::setApplicationVersion(quillon::kVersion);
    quillon::StationCommand command = quillon::ParseStationCommand(core.arguments());
    if (command.action == quillon::StationCommand::Action::Wrong) {
        std::fprintf(stderr, "%s: %s\n", kProgram, qPrintable(command.text));
        return quillon::kExitUsage;
    }
    if (command.action == quillon::StationCommand::Action::Version) {
        std::printf("%s %s\n", kProgram, quillon::kVersion);
    } else {
        std::printf("%s", qPrintable(command.text));
    }
    return 0;
}

// Said on the terminal, for scripts, and in a box, for the person at the
// bench who started the program from a menu.
int Fail(int code, const QString& text, const QString& reason = {}) {
    std::fprintf(stderr, "%s: %s%s%s\n", kProgram, qPrintable(text), reason.isEmpty() ? "" : ": ",
                 qPrintable(reason));
    QMessageBox box(QMessageBox::Critical, kProgram, text, QMessageBox::Ok);
    box.setInformativeText(reason);
    box.exec();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // A packet file past a file size limit must fail its write (EFBIG) and
    // end the update with a message, not kill the program (SIGXFSZ).
    quillon::IgnoreFatalWriteSignals();
    if (AsksForInformation(argc, argv)) {
        return AnswerInformation(argc, argv);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgram);
    QApplication::setApplicationVersion(quillon::kVersion);
    quillon::StationCommand command = quillon::ParseStationCommand(QApplication::arguments());
    if (command.action != quillon::StationCommand::Action::Run) {
        return Fail(quillon::kExitUsage, command.text);
    }
    quillon::RunSetup setup;
    std::string error;
    if (int refused = quillon::MakeRunSetup(command.options, setup, error); refused != 0) {
        return Fail(refused, QString::fromStdString(error));
    }
    // Ctrl+C or a termination request in the terminal that started it ends
    // every slot cleanly, as closing the window does.
    quillon::InterruptWatch interrupts;
    auto window = std::make_unique<quillon::StationWindow>(std::move(setup));
    if (!window->Begin()) {
        // The window and all it holds (the emulated boxes, the station) go
        // before the person reads why: a corrected start is not refused
        // while the message is open.
        quillon::BoxRecord refused = window->Refused();
        int code = window->RefusalExit();
        window.reset();
        return Fail(code, QString::fromStdString(refused.message),
                    QString::fromStdString(refused.reason));
    }
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&window, &interrupts] {
        if (int signal = interrupts.Received(); signal != 0) {
            window->EndOnSignal(signal);
        }
    });
    watch.start(200);
    window->resize(window->screen()->availableGeometry().size() * 0.9);
    window->show();
    return QApplication::exec();
}
