#include "app/quitonsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler writes one byte, the event loop reads it: a signal handler may only make
// async-signal-safe calls, so quitting has to happen on the loop's side.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // Both ends are non-blocking: a full socket already holds a wake-up, so a failed write
    // loses nothing and never hangs the handler.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// SOCK_NONBLOCK and SOCK_CLOEXEC are not everywhere that socketpair() is.
bool makeNonBlockingAndCloseOnExec(int fd) {
    const int statusFlags = ::fcntl(fd, F_GETFL);
    const int descriptorFlags = ::fcntl(fd, F_GETFD);
    return statusFlags >= 0 && descriptorFlags >= 0 &&
           ::fcntl(fd, F_SETFL, statusFlags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, descriptorFlags | FD_CLOEXEC) == 0;
}

}  // namespace

bool quitOnTerminationSignals(QCoreApplication &application) {
    if (signalPipe[0] >= 0)
        return true;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return false;
    if (!makeNonBlockingAndCloseOnExec(ends[0]) || !makeNonBlockingAndCloseOnExec(ends[1])) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    signalPipe[0] = ends[0];
    signalPipe[1] = ends[1];

    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        // Drained, or the notifier would fire on every pass of the loop.
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

#else

// No POSIX signals here: the program ends the way the system ends it.
bool quitOnTerminationSignals(QCoreApplication &) {
    return false;
}

#endif
