#include "transport/serial.h"

#include "transport/hangupwatch.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#include <memory>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

// A copy that shares no storage with the original, so that the threads on either side of a
// lock never touch one reference count.
QByteArray detachedCopy(const QByteArray &bytes) {
    return QByteArray(bytes.constData(), bytes.size());
}

// A hung-up line reports read errors hundreds of thousands of times a second. A healthy one
// may report a single one, when a read notification finds its bytes already taken.
constexpr int kErrorsBeforeHangUp = 10;
constexpr auto kErrorStreakWindow = std::chrono::milliseconds(250);
// A frame is a few bytes and the OS buffer is kilobytes: one flush normally takes it all.
constexpr int kMaxFlushes = 4;

// Asks the driver to pass received bytes on at once. USB adapters otherwise hold them for a
// latency timer (16 ms on FTDI chips), longer than the reply window at high baud rates.
// Pseudo-terminals and drivers without the flag refuse, which changes nothing.
void requestLowLatency([[maybe_unused]] qintptr handle) {
#ifdef Q_OS_LINUX
    const int fd = int(handle);
    serial_struct settings{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return;
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    settings.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &settings);
#endif
}

// The port's file descriptor; -1 where the port has none (a Windows HANDLE is no descriptor).
qintptr portDescriptor([[maybe_unused]] QSerialPort &port) {
#ifdef Q_OS_UNIX
    return port.handle();
#else
    return -1;
#endif
}

}  // namespace

struct Serial::HandedOffFrame {
    QByteArray frame;
    std::optional<Clock::time_point> lastByteSeen;
    // Guarded by handoffMutex.
    bool written = false;
    SendResult result = SendResult::Failed;
};

Serial::Serial()
    : port(new QSerialPort),
      ownerThread(std::this_thread::get_id()),
      hangUpWatch(new HangUpWatch(this)) {
    connect(port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
    // Some Qt versions report a hang-up by read errors, others not at all.
    connect(hangUpWatch, &HangUpWatch::hungUp, this, [this] { releasePort(); });
    connect(port, &QIODevice::aboutToClose, hangUpWatch, &HangUpWatch::stop);
}

Serial::~Serial() {
    shutdownHandoff();
    if (port->isOpen())
        port->close();
    delete port;
}

bool Serial::openPort(const QString &portName, int baudRate) {
    port->setPortName(portName);
    if (!port->open(QIODevice::ReadWrite))
        return false;
    ++openGeneration;
    // A setting the driver refuses leaves the line at whatever it was before: an open port
    // that talks at another rate than the one shown is worse than a failed open.
    const bool settingsTaken =
        port->setBaudRate(baudRate, QSerialPort::AllDirections) &&
        port->setDataBits(QSerialPort::Data8) && port->setParity(QSerialPort::NoParity) &&
        port->setStopBits(QSerialPort::OneStop) && port->setFlowControl(QSerialPort::NoFlowControl);
    if (!settingsTaken) {
        port->close();
        return false;
    }
    requestLowLatency(portDescriptor(*port));
    hangUpWatch->watch(portDescriptor(*port));
    errorStreak = 0;
    listedWhileOpen = false;
    return true;
}

void Serial::closePort() {
    // Already closed when a hang-up released the device.
    if (!port->isOpen())
        return;
    port->clear(QSerialPort::AllDirections);
    port->close();
}

int Serial::sendData(const QByteArray &frame) {
    return send(frame, std::nullopt) == SendResult::Written ? 1 : 0;
}

Serial::SendResult Serial::sendIfQuiet(const QByteArray &frame, Clock::time_point lastByteSeen) {
    return send(frame, lastByteSeen);
}

Serial::SendResult Serial::send(const QByteArray &frame,
                                std::optional<Clock::time_point> lastByteSeen) {
    {
        std::lock_guard<std::mutex> lock(bufferMutex);
        sentFrame = detachedCopy(frame);
    }
    if (std::this_thread::get_id() == ownerThread)
        return writeNow(frame, lastByteSeen);
    return handOffToOwner(frame, lastByteSeen);
}

Serial::SendResult Serial::handOffToOwner(const QByteArray &frame,
                                          std::optional<Clock::time_point> lastByteSeen) {
    // Shared with the owner thread, which may still hold it after this call gave up waiting.
    const auto handoff = std::make_shared<HandedOffFrame>();
    handoff->frame = detachedCopy(frame);
    handoff->lastByteSeen = lastByteSeen;

    std::unique_lock<std::mutex> lock(handoffMutex);
    if (handoffRefused)
        return SendResult::Failed;
    handedOffFrames.push_back(handoff);
    lock.unlock();
    // Posted by name: a queued functor would be freed by whichever thread lets go of it last,
    // through a reference count inside Qt that ThreadSanitizer cannot see.
    QMetaObject::invokeMethod(this, "writeHandedOffFrames", Qt::QueuedConnection);
    lock.lock();
    handoffFinished.wait(lock, [&] { return handoff->written || handoffRefused; });
    return handoff->written ? handoff->result : SendResult::Failed;
}

void Serial::writeHandedOffFrames() {
    for (;;) {
        std::shared_ptr<HandedOffFrame> next;
        {
            std::lock_guard<std::mutex> lock(handoffMutex);
            if (handoffRefused || handedOffFrames.empty())
                return;
            next = std::move(handedOffFrames.front());
            handedOffFrames.pop_front();
        }
        const SendResult result = writeNow(next->frame, next->lastByteSeen);
        std::lock_guard<std::mutex> lock(handoffMutex);
        next->result = result;
        next->written = true;
        handoffFinished.notify_all();
    }
}

Serial::SendResult Serial::writeNow(const QByteArray &frame,
                                    std::optional<Clock::time_point> lastByteSeen) {
    takeWaitingBytes();
    if (lastByteSeen && lastByteTime() > *lastByteSeen)
        return SendResult::LineNotQuiet;
    openReplyWindow();
    if (!port->isOpen() || port->write(frame) == -1)
        return SendResult::Failed;
    // Handed to the OS here, so the caller's reply wait starts with the frame on its way.
    // Nothing waits for the line: waitForBytesWritten() would block this thread for its whole
    // timeout and read the reply itself, behind readData()'s back.
    for (int i = 0; i < kMaxFlushes && port->bytesToWrite() > 0; ++i) {
        if (!port->flush())
            break;
    }
    return SendResult::Written;
}

void Serial::takeWaitingBytes() {
    if (!port->isOpen())
        return;
    // Reads what the OS holds now, without waiting; readyRead hands it to readData(). With
    // nothing there Qt reports a TimeoutError, which is no fault of the line.
    port->waitForReadyRead(0);
    readData();
}

void Serial::openReplyWindow() {
    std::lock_guard<std::mutex> lock(bufferMutex);
    // Only the last transaction of a job is shown; bytes outside its window stay.
    if (windowStartInReceived >= 0)
        receivedFrame.remove(windowStartInReceived, windowEndInReceived - windowStartInReceived);
    rxBuffer.clear();
    replyWindowOpen = true;
    windowStartInReceived = windowEndInReceived = receivedFrame.size();
}

QByteArray Serial::closeReplyWindow() {
    std::lock_guard<std::mutex> lock(bufferMutex);
    replyWindowOpen = false;
    return detachedCopy(rxBuffer);
}

Serial::Clock::time_point Serial::lastByteTime() const {
    std::lock_guard<std::mutex> lock(bufferMutex);
    return lastByteAt;
}

void Serial::shutdownHandoff() {
    std::lock_guard<std::mutex> lock(handoffMutex);
    handoffRefused = true;
    handedOffFrames.clear();
    handoffFinished.notify_all();
}

QStringList Serial::availablePortNames() const {
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names.append(info.portName());
    return names;
}

void Serial::notePortList(const QStringList &names) {
    if (!port->isOpen())
        return;
    if (names.contains(port->portName()))
        listedWhileOpen = true;
    else if (listedWhileOpen)
        releasePort();
}

void Serial::clearRxBuffer() {
    std::lock_guard<std::mutex> lock(bufferMutex);
    rxBuffer.clear();
}

QByteArray Serial::rxBufferSnapshot() const {
    std::lock_guard<std::mutex> lock(bufferMutex);
    return detachedCopy(rxBuffer);
}

QByteArray Serial::takeLastSent() {
    std::lock_guard<std::mutex> lock(bufferMutex);
    QByteArray taken;
    taken.swap(sentFrame);
    return taken;
}

QByteArray Serial::takeLastReceived() {
    std::lock_guard<std::mutex> lock(bufferMutex);
    QByteArray taken;
    taken.swap(receivedFrame);
    windowStartInReceived = windowEndInReceived = replyWindowOpen ? 0 : -1;
    return taken;
}

QByteArray Serial::lastSent() const {
    std::lock_guard<std::mutex> lock(bufferMutex);
    return detachedCopy(sentFrame);
}

QByteArray Serial::lastReceived() const {
    std::lock_guard<std::mutex> lock(bufferMutex);
    return detachedCopy(receivedFrame);
}

void Serial::readData() {
    const QByteArray incoming = port->readAll();
    if (incoming.isEmpty())
        return;
    errorStreak = 0;
    std::lock_guard<std::mutex> lock(bufferMutex);
    lastByteAt = Clock::now();
    receivedFrame.append(incoming);
    if (replyWindowOpen) {
        rxBuffer.append(incoming);
        windowEndInReceived = receivedFrame.size();
    }
}

void Serial::onPortError(int errorCode) {
    if (errorCode == QSerialPort::ResourceError) {
        // Qt names a read notification that finds nothing after whatever errno was left,
        // EAGAIN among them, when a send just took the bytes. Where the line can be watched, a
        // resource error without a hang-up counts as a read error.
        if (!hangUpWatch->isWatching() || hangUpWatch->lineHungUp()) {
            releasePort();
            return;
        }
        resumeReadingLater();
    } else if (errorCode != QSerialPort::ReadError && errorCode != QSerialPort::WriteError) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (errorStreak == 0 || now - errorStreakStart > kErrorStreakWindow) {
        errorStreak = 0;
        errorStreakStart = now;
    }
    if (++errorStreak >= kErrorsBeforeHangUp)
        releasePort();
}

void Serial::resumeReadingLater() {
    // Qt stops its read notifications on a resource error until the next read call; bytes
    // that come meanwhile would wait for the next send.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (port->isOpen())
                readData();
        },
        Qt::QueuedConnection);
}

void Serial::releasePort() {
    // On a hung-up tty Qt reports the error again on every read notification until the device
    // is closed. isOpen stays as the operator left it: later transactions fail for want of a
    // reply, and closing and reopening works as usual.
    if (releaseQueued || !port->isOpen())
        return;
    releaseQueued = true;
    // Closed from the event loop, not from inside Qt's notifier that reported the error.
    QMetaObject::invokeMethod(
        this,
        [this, generation = openGeneration] {
            releaseQueued = false;
            if (generation != openGeneration || !port->isOpen())
                return;
            port->close();
            emit portReleased();
        },
        Qt::QueuedConnection);
}
