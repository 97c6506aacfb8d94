#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QSerialPort;

// The one path to the RS-485 bus. The QSerialPort belongs to the thread that created this
// object (the GUI thread) and is touched only there. The worker thread calls sendData(),
// clearRxBuffer() and rxBufferSnapshot(); sendData() hands the write to the owner thread and
// returns once the frame has been written and flushed.
class Serial : public QObject {
    Q_OBJECT

public:
    Serial();
    ~Serial() override;

    bool openPort(const QString &portName, int baudRate);
    void closePort();
    // Returns 1 when the frame was written, 0 when the write failed (port closed, released
    // after a fatal error, or the hand-off was refused because the owner is shutting down).
    int sendData(const QByteArray &frame);
    QStringList availablePortNames() const;

    // Worker side of a transaction.
    void clearRxBuffer();
    QByteArray rxBufferSnapshot() const;

    // Main loop side: the frames of the last job, emptied as they are taken.
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

public slots:
    void readData();

private slots:
    void writeHandedOffFrames();

private:
    struct HandedOffFrame;

    int writeNow(const QByteArray &frame);
    int handOffToOwner(const QByteArray &frame);
    void releaseAfterFatalError(int errorCode);

    const std::thread::id ownerThread;

    mutable std::mutex bufferMutex;
    QByteArray rxBuffer;
    QByteArray sentFrame;
    QByteArray receivedFrame;

    std::mutex handoffMutex;
    std::condition_variable handoffFinished;
    std::deque<std::shared_ptr<HandedOffFrame>> handedOffFrames;
    bool handoffRefused = false;

    // Owner thread only.
    bool releaseQueued = false;
    unsigned openGeneration = 0;
};
