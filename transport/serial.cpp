#include "transport/serial.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#include <memory>

namespace {

// A copy that shares no storage with the original, so that the threads on either side of a
// lock never touch one reference count.
QByteArray detachedCopy(const QByteArray &bytes) {
    return QByteArray(bytes.constData(), bytes.size());
}

constexpr int kFlushWaitMs = 50;

}  // namespace

struct Serial::HandedOffFrame {
    QByteArray frame;
    // Guarded by handoffMutex.
    bool written = false;
    int result = 0;
};

Serial::Serial() : port(new QSerialPort), ownerThread(std::this_thread::get_id()) {
    connect(port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { releaseAfterFatalError(error); });
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
    port->setBaudRate(baudRate, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
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
    {
        std::lock_guard<std::mutex> lock(bufferMutex);
        sentFrame = detachedCopy(frame);
    }
    if (std::this_thread::get_id() == ownerThread)
        return writeNow(frame);
    return handOffToOwner(frame);
}

int Serial::handOffToOwner(const QByteArray &frame) {
    // Shared with the owner thread, which may still hold it after this call gave up waiting.
    const auto handoff = std::make_shared<HandedOffFrame>();
    handoff->frame = detachedCopy(frame);

    std::unique_lock<std::mutex> lock(handoffMutex);
    if (handoffRefused)
        return 0;
    handedOffFrames.push_back(handoff);
    lock.unlock();
    // Posted by name: a queued functor would be freed by whichever thread lets go of it last,
    // through a reference count inside Qt that ThreadSanitizer cannot see.
    QMetaObject::invokeMethod(this, "writeHandedOffFrames", Qt::QueuedConnection);
    lock.lock();
    handoffFinished.wait(lock, [&] { return handoff->written || handoffRefused; });
    return handoff->written ? handoff->result : 0;
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
        const int result = writeNow(next->frame);
        std::lock_guard<std::mutex> lock(handoffMutex);
        next->result = result;
        next->written = true;
        handoffFinished.notify_all();
    }
}

int Serial::writeNow(const QByteArray &frame) {
    if (!port->isOpen() || port->write(frame) == -1)
        return 0;
    // The frame must be on the wire before the caller starts its reply wait.
    if (port->flush())
        port->waitForBytesWritten(kFlushWaitMs);
    return 1;
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
    std::lock_guard<std::mutex> lock(bufferMutex);
    rxBuffer.append(incoming);
    receivedFrame = detachedCopy(rxBuffer);
}

void Serial::releaseAfterFatalError(int errorCode) {
    // On a hung-up tty Qt reports the same error again on every read notification, hundreds
    // of thousands of times a second, until the device is closed. isOpen stays as the
    // operator left it: later transactions fail for want of a reply.
    const bool fatal = errorCode == QSerialPort::ResourceError ||
                       errorCode == QSerialPort::ReadError || errorCode == QSerialPort::WriteError;
    if (!fatal || releaseQueued || !port->isOpen())
        return;
    releaseQueued = true;
    // Closed from the event loop, not from inside Qt's notifier that reported the error.
    QMetaObject::invokeMethod(
        this,
        [this, generation = openGeneration] {
            if (generation == openGeneration && port->isOpen())
                port->close();
            releaseQueued = false;
        },
        Qt::QueuedConnection);
}
