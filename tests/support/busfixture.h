#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

class Serial;

// A pseudo-terminal whose master end the test drives by hand; the slave path is what a
// Serial opens. The slave is put in raw mode so no byte is translated on the way.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return path; }

    bool write(const QByteArray &bytes);
    // Everything that arrives at the master end until `count` bytes are there or the time is
    // up, whichever comes first.
    QByteArray read(int count, int timeoutMs);
    // Closes both ends as an unplugged adapter would: the slave's readers see a hang-up.
    void hangUp();

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString path;
};

// Runs job on a thread of its own while the calling thread runs its event loop, as the
// worker and the GUI thread do in the program. Returns false if the job did not end within
// timeoutMs (the thread is still joined).
bool runOnWorker(const std::function<void()> &job, int timeoutMs = 10000);

// Lets the calling thread's event loop run for the given time.
void runEventLoopFor(int milliseconds);

// Runs the calling thread's event loop until done() holds, checked every millisecond; false
// when timeoutMs passed first. Unlike QTest::qWaitFor, which sleeps up to 10 ms between its
// passes, the loop waits in the event dispatcher, so bytes on a port are read as they come,
// as in the program.
bool runEventLoopUntil(const std::function<bool()> &done, int timeoutMs);

// CPU time used by the whole process so far.
std::chrono::nanoseconds processCpuTime();

// A Serial with readyRead wired to readData, as the main window does it.
void wireReadyRead(Serial &serial);
