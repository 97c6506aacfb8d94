#include "sim/posixline.h"
#include "sim/simulatedsensor.h"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Moves what one side has written to the other, keeping bytes that did not fit yet.
struct Direction {
    int from;
    int to;
    QByteArray pending;
    std::atomic<std::uint64_t> *carried;
};

// Reads what is there; false when the descriptor is finished for good.
bool readInto(int fd, QByteArray &pending) {
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            pending.append(buffer, int(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void writeFrom(Direction &direction) {
    while (!direction.pending.isEmpty()) {
        const ssize_t written =
            ::write(direction.to, direction.pending.constData(), direction.pending.size());
        if (written > 0) {
            direction.pending.remove(0, int(written));
            *direction.carried += std::uint64_t(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        direction.pending.clear();  // the far side is gone: nothing can carry these bytes
    }
}

}  // namespace

PtyBridge::~PtyBridge() {
    close();
}

bool PtyBridge::open(QString *error) {
    if (thread_.joinable()) {
        simposix::setError(error, QStringLiteral("bridge already open"));
        return false;
    }
    if (!simposix::openRawPty(&masterA_, &slaveA_, &pathA_, error))
        return false;
    if (!simposix::openRawPty(&masterB_, &slaveB_, &pathB_, error)) {
        close();
        return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        simposix::setError(error, QStringLiteral("eventfd: %1").arg(strerror(errno)));
        close();
        return false;
    }
    thread_ = std::thread(&PtyBridge::run, this);
    return true;
}

void PtyBridge::close() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        if (::write(wakeFd_, &one, sizeof one) < 0) {
            // Only a counter overflow fails, and then the thread is awake anyway.
        }
        thread_.join();
    }
    for (int *fd : {&masterA_, &slaveA_, &masterB_, &slaveB_, &wakeFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void PtyBridge::run() {
    Direction aToB{masterA_, masterB_, {}, &bytesAtoB_};
    Direction bToA{masterB_, masterA_, {}, &bytesBtoA_};
    for (;;) {
        // Reading stops while a side's bytes wait to be written, so nothing piles up.
        pollfd fds[3] = {
            {masterA_, short(aToB.pending.isEmpty() ? POLLIN : 0), 0},
            {masterB_, short(bToA.pending.isEmpty() ? POLLIN : 0), 0},
            {wakeFd_, POLLIN, 0},
        };
        if (!aToB.pending.isEmpty())
            fds[1].events |= POLLOUT;
        if (!bToA.pending.isEmpty())
            fds[0].events |= POLLOUT;
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[2].revents)
            return;
        // The slave ends held here keep the masters from hanging up when a client closes.
        if ((fds[0].revents & POLLIN) && !readInto(masterA_, aToB.pending))
            return;
        if ((fds[1].revents & POLLIN) && !readInto(masterB_, bToA.pending))
            return;
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLHUP | POLLNVAL))
            return;
        writeFrom(aToB);
        writeFrom(bToA);
    }
}
