#include <cstdio>
#include <cstring>

#include "app/updater_app.h"
#include "platform/interrupts.h"
#include "quillon/version.h"

namespace {

// Answered before any window exists, so that they work without a display
// (and a manual page can be made from them).
bool AnswerInformationOption(int argc, char** argv) {
    if (argc < 2) {
        return false;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quillon %s\n", quillon::kVersion);
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf(
            "Usage: quillon [--help | --version]\n"
            "Rewrites a set-top box's flash memory over a serial line, in a window.\n"
            "Press \"Update\", then the box's reset button. The port, the rate and the boot\n"
            "folder come from quillon.INI beside the program, else from\n"
            "~/.config/quillon/quillon.INI; System Setting chooses the COM port.\n"
            "For scripts and batches there is quillon-cli.\n");
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnswerInformationOption(argc, argv)) {
        return 0;
    }
    // A packet file past a file size limit must fail its write (EFBIG) and
    // end the update with a message, not kill the program (SIGXFSZ).
    quillon::IgnoreFatalWriteSignals();
    // The window program takes no other options: Qt sees only the program's
    // name, so not even its own options (-style, -platform, ...) are read.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    quillon::UpdaterApp app(qtArgc, qtArgv);
    return app.InitInstance();
}
