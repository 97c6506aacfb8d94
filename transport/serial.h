#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class HangUpWatch;
class QSerialPort;

// The one path to the RS-485 bus. The QSerialPort belongs to the thread that created this
// object (the GUI thread) and is touched only there. The worker thread calls sendData(),
// clearRxBuffer() and closeReplyWindow(); sendData() hands the write to the owner thread and
// returns once the frame has been handed to the OS.
//
// Received bytes go two ways. A transaction's reply window (opened as its request goes out,
// closed when its wait ends) gathers what arrives meanwhile for the master. Every byte also
// goes into the log copy exactly once, which the main loop takes; bytes outside any window
// (unsolicited frames, replies after their wait) reach the log that way and nowhere else.
//
// The port reads only when the owner's event loop serves it, so while that thread is busy,
// bytes wait in the OS. Every hand-off therefore takes what waits before it opens the window:
// those bytes came before the request and belong to no window.
class Serial : public QObject {
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    enum class SendResult { Written, Failed, LineNotQuiet };

    Serial();
    ~Serial() override;

    bool openPort(const QString &portName, int baudRate);
    void closePort();
    // Returns 1 when the frame was written, 0 when the write failed (port closed, released
    // after a fatal error, or the hand-off was refused because the owner is shutting down).
    int sendData(const QByteArray &frame);
    // Like sendData(), but writes nothing and returns LineNotQuiet when a byte arrived after
    // lastByteSeen (a lastByteTime() the caller judged quiet), bytes still waiting in the OS
    // included.
    SendResult sendIfQuiet(const QByteArray &frame, Clock::time_point lastByteSeen);
    QStringList availablePortNames() const;

    // Worker side of a transaction.
    void clearRxBuffer();
    QByteArray rxBufferSnapshot() const;
    // Ends the reply window that sendData() opened and returns what it gathered. Later bytes
    // go to the log copy only.
    QByteArray closeReplyWindow();
    // When the last byte arrived (any byte, in a window or not); the epoch before the first.
    Clock::time_point lastByteTime() const;

    // Main loop side: the frames of the last job, emptied as they are taken. The received
    // copy holds the last reply window's bytes and every byte that arrived outside a window
    // since the last take; the windows of earlier transactions in the same job are dropped.
    QByteArray takeLastSent();
    QByteArray takeLastReceived();
    QByteArray lastSent() const;
    QByteArray lastReceived() const;

    // Refuses every later hand-off and releases a worker waiting for one. Called by the
    // owner before it waits for the worker, so that neither waits for the other.
    void shutdownHandoff();

    QSerialPort *port;
    std::atomic<std::uint32_t> rxByteCount{0};
    std::atomic<std::uint32_t> txByteCount{0};
    std::atomic<bool> isOpen{false};
    std::atomic<std::uint8_t> replyWaitMs{0};

    // Called with the system's list of serial ports whenever it was read. A port that was
    // listed while open and is no longer went away with its device (an adapter pulled): it is
    // released, also where the driver reports no error for it. A port never listed (a
    // pseudo-terminal) is left alone.
    void notePortList(const QStringList &names);

public slots:
    void readData();

signals:
    // The device went away (adapter pulled, line hung up) and the port was closed for it.
    // isOpen stays as the operator left it.
    void portReleased();

private slots:
    void writeHandedOffFrames();

private:
    struct HandedOffFrame;

    SendResult send(const QByteArray &frame, std::optional<Clock::time_point> lastByteSeen);
    SendResult writeNow(const QByteArray &frame, std::optional<Clock::time_point> lastByteSeen);
    SendResult handOffToOwner(const QByteArray &frame,
                              std::optional<Clock::time_point> lastByteSeen);
    void takeWaitingBytes();
    void openReplyWindow();
    void onPortError(int errorCode);
    void resumeReadingLater();
    void releasePort();

    const std::thread::id ownerThread;

    mutable std::mutex bufferMutex;
    QByteArray rxBuffer;
    QByteArray sentFrame;
    QByteArray receivedFrame;
    bool replyWindowOpen = false;
    // Where the last reply window's bytes sit in receivedFrame; -1 when they are not there.
    int windowStartInReceived = -1;
    int windowEndInReceived = -1;
    Clock::time_point lastByteAt{};

    std::mutex handoffMutex;
    std::condition_variable handoffFinished;
    std::deque<std::shared_ptr<HandedOffFrame>> handedOffFrames;
    bool handoffRefused = false;

    // Owner thread only.
    HangUpWatch *hangUpWatch;
    bool releaseQueued = false;
    bool listedWhileOpen = false;
    unsigned openGeneration = 0;
    // Read, write or unconfirmed resource errors since the last byte that arrived, and when
    // the first of them came.
    int errorStreak = 0;
    Clock::time_point errorStreakStart{};
};
