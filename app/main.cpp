#include <csignal>

#include "app/updater_app.h"

int main(int argc, char** argv) {
    // A packet file past a file size limit must fail its write (EFBIG) and
    // end the update with a message, not kill the program (SIGXFSZ).
    std::signal(SIGXFSZ, SIG_IGN);
    // The window program takes no options: Qt sees only the program's name,
    // so not even its own options (-style, -platform, ...) are read.
    (void)argc;
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    quillon::UpdaterApp app(qtArgc, qtArgv);
    return app.InitInstance();
}
