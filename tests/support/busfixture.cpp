#include "support/busfixture.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "transport/serial.h"

PtyPeer::PtyPeer() {
    char name[128] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    termios raw{};
    if (::tcgetattr(slaveFd, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slaveFd, TCSANOW, &raw);
    }
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
}

PtyPeer::~PtyPeer() {
    hangUp();
}

bool PtyPeer::write(const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(masterFd, bytes.constData() + done, bytes.size() - done);
        if (written < 0)
            return false;
        done += written;
    }
    return true;
}

QByteArray PtyPeer::read(int count, int timeoutMs) {
    QByteArray received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd readable{masterFd, POLLIN, 0};
        if (::poll(&readable, 1, int(left.count())) <= 0)
            break;
        char chunk[256];
        const ssize_t got = ::read(masterFd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        received.append(chunk, int(got));
    }
    return received;
}

void PtyPeer::hangUp() {
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (masterFd >= 0)
        ::close(masterFd);
    slaveFd = masterFd = -1;
}

bool runOnWorker(const std::function<void()> &job, int timeoutMs) {
    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        job();
        finished = true;
        // Posted, so it also ends a loop that has not started yet.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    return finished;
}

void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventLoopUntil(const std::function<bool()> &done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

std::chrono::nanoseconds processCpuTime() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

void wireReadyRead(Serial &serial) {
    QObject::connect(serial.port, &QSerialPort::readyRead, &serial, &Serial::readData);
}
