#include "transport/hangupwatch.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

HangUpWatch::HangUpWatch(QObject *parent) : QObject(parent) {}

HangUpWatch::~HangUpWatch() {
    stop();
}

void HangUpWatch::watch([[maybe_unused]] qintptr handle) {
    stop();
#ifdef Q_OS_UNIX
    // A descriptor of our own: one read notifier per descriptor, and Qt's has that one.
    duplicate = handle >= 0 ? ::fcntl(int(handle), F_DUPFD_CLOEXEC, 0) : -1;
    if (duplicate < 0)
        return;
    notifier = new QSocketNotifier(duplicate, QSocketNotifier::Read, this);
    // Fires as well when bytes arrive; Qt's notifier reads them in the same pass of the loop.
    connect(notifier, &QSocketNotifier::activated, this, [this] { check(); });
#endif
}

void HangUpWatch::stop() {
    if (notifier) {
        // Later: stop() may be reached from a slot of hungUp(), inside the notifier's signal.
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }
#ifdef Q_OS_UNIX
    if (duplicate >= 0)
        ::close(duplicate);
#endif
    duplicate = -1;
}

bool HangUpWatch::lineHungUp() const {
#ifdef Q_OS_UNIX
    if (duplicate < 0)
        return false;
    pollfd line{duplicate, POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return false;
#endif
}

void HangUpWatch::check() {
#ifdef Q_OS_UNIX
    if (!lineHungUp())
        return;
    // The hung-up line stays readable: without this the notifier would fire on every pass.
    notifier->setEnabled(false);
    emit hungUp();
#endif
}
