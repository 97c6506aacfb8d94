#include "support/sim_lineclient.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimLineClient::~SimLineClient() {
    close();
}

bool SimLineClient::open(const QString &path) {
    close();
    fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
    // Bytes the simulator wrote before this client came are not this test's.
    tcflush(fd, TCIFLUSH);
    hungUp = false;
    return true;
}

void SimLineClient::close() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool SimLineClient::write(const QByteArray &bytes) {
    // Taken before the call: the peer cannot have read anything earlier than this.
    writtenAt = Clock::now();
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (written > 0) {
            done += int(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}

std::vector<SimLineClient::Arrival> SimLineClient::collect(int timeoutMs, int stopAfterBytes) {
    std::vector<Arrival> arrivals;
    int total = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd >= 0 && !hungUp) {
        if (stopAfterBytes >= 0 && total >= stopAfterBytes)
            break;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, int(left)) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            arrivals.push_back({QByteArray(buffer, int(got)), Clock::now()});
            total += int(got);
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            hungUp = true;
        }
    }
    return arrivals;
}

QByteArray SimLineClient::joined(const std::vector<Arrival> &arrivals) {
    QByteArray all;
    for (const auto &arrival : arrivals)
        all += arrival.bytes;
    return all;
}

bool SimLineClient::waitForHangUp(int timeoutMs) {
    collect(timeoutMs);
    return hungUp;
}
