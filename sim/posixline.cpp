#include "sim/posixline.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace simposix {

namespace {

struct SpeedEntry {
    int baudRate;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speedFor(int baudRate, speed_t *speed) {
    for (const auto &entry : kSpeeds) {
        if (entry.baudRate == baudRate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

QString errnoText() {
    return QString::fromLocal8Bit(strerror(errno));
}

bool makeRaw(int fd, speed_t speed) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

void setError(QString *error, const QString &text) {
    if (error)
        *error = text;
}

bool openRawPty(int *master, int *slave, QString *slavePath, QString *error) {
    if (openpty(master, slave, nullptr, nullptr, nullptr) != 0) {
        setError(error, QStringLiteral("openpty: %1").arg(errnoText()));
        return false;
    }
    char name[128] = {};
    // Without echo and line editing the slave passes bytes through untouched, which is what
    // a serial client expects before it sets the line up itself.
    const bool ok = ttyname_r(*slave, name, sizeof name) == 0 && makeRaw(*slave, B9600) &&
                    fcntl(*master, F_SETFL, fcntl(*master, F_GETFL) | O_NONBLOCK) == 0 &&
                    fcntl(*master, F_SETFD, FD_CLOEXEC) == 0 &&
                    fcntl(*slave, F_SETFD, FD_CLOEXEC) == 0;
    if (!ok) {
        setError(error, QStringLiteral("pseudo-terminal set-up: %1").arg(errnoText()));
        ::close(*master);
        ::close(*slave);
        *master = *slave = -1;
        return false;
    }
    *slavePath = QString::fromLocal8Bit(name);
    return true;
}

int openSerialDevice(const QString &path, int baudRate, QString *error) {
    speed_t speed;
    if (!speedFor(baudRate, &speed)) {
        setError(error, QStringLiteral("unsupported baud rate %1").arg(baudRate));
        return -1;
    }
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, QStringLiteral("%1: %2").arg(path, errnoText()));
        return -1;
    }
    if (!isatty(fd)) {
        setError(error, QStringLiteral("%1: not a serial device").arg(path));
        ::close(fd);
        return -1;
    }
    if (!makeRaw(fd, speed)) {
        setError(error, QStringLiteral("%1: cannot set the line up: %2").arg(path, errnoText()));
        ::close(fd);
        return -1;
    }
    // Whatever the driver held from before belongs to nobody.
    tcflush(fd, TCIOFLUSH);
    return fd;
}

bool isSupportedBaudRate(int baudRate) {
    speed_t speed;
    return speedFor(baudRate, &speed);
}

bool setLineSpeed(int fd, int baudRate, int when) {
    speed_t speed;
    termios settings{};
    if (!speedFor(baudRate, &speed) || tcgetattr(fd, &settings) != 0)
        return false;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return tcsetattr(fd, when, &settings) == 0;
}

}  // namespace simposix
