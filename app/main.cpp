#include <QApplication>

#include "app/mainwindow.h"
#include "app/quitonsignal.h"

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    // Logout, shutdown or Ctrl-C: leave the event loop, so the window is destroyed and closes
    // the port rather than the process ending in the middle of it.
    if (!quitOnTerminationSignals(application))
        qWarning("cannot install handlers for SIGTERM and SIGINT");
    MainWindow window;
    window.show();
    return application.exec();
}
