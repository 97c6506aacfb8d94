#pragma once

class QCoreApplication;

// Makes SIGTERM and SIGINT end the application's event loop the way closing the last window
// does, so that main() returns and every destructor runs (the window closes its serial port)
// instead of the process dying on the default handler. Call once, after the application
// object exists. Returns false when the handlers could not be installed, which is always the
// case on systems without POSIX signals.
bool quitOnTerminationSignals(QCoreApplication &application);
