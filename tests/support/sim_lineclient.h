#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <vector>

// The client end of a serial line for tests that want to see the raw bytes and when they
// came: opens a device path (a pty slave) raw and non-blocking, without Qt.
class SimLineClient {
public:
    using Clock = std::chrono::steady_clock;
    struct Arrival {
        QByteArray bytes;
        Clock::time_point at;
    };

    SimLineClient() = default;
    ~SimLineClient();
    SimLineClient(const SimLineClient &) = delete;
    SimLineClient &operator=(const SimLineClient &) = delete;

    bool open(const QString &path);
    void close();
    bool isOpen() const { return fd >= 0; }

    // Writes all bytes; remembers when the write began.
    bool write(const QByteArray &bytes);
    Clock::time_point lastWriteAt() const { return writtenAt; }

    // What arrives within timeoutMs; returns early once at least stopAfterBytes arrived
    // (a negative count waits out the whole time). Stops at a hang-up.
    std::vector<Arrival> collect(int timeoutMs, int stopAfterBytes = -1);
    static QByteArray joined(const std::vector<Arrival> &arrivals);

    // Whether the line hung up (seen by poll or by a read of 0 bytes or EIO) within timeoutMs.
    bool waitForHangUp(int timeoutMs);

private:
    int fd = -1;
    bool hungUp = false;
    Clock::time_point writtenAt{};
};
